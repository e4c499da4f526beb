// What a user does with the model, end to end against the devserver: signing
// in and out, timers, phone setup links, and what goes wrong on the way.

#include "client/failure.h"
#include "client/logging.h"
#include "modelfixture.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTest>

namespace {

QJsonObject bodyOf(const RecordedRequest &request) {
    return QJsonDocument::fromJson(request.body).object();
}

QString storedServerURL(const QString &preferencesPath) {
    return QSettings(preferencesPath, QSettings::IniFormat)
        .value(QStringLiteral("VelmoraTimeURL"))
        .toString();
}

// What a phone camera would read from the image.
QByteArray scanQrCode(const QImage &image) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("qr.png"));
    image.save(path);
    QProcess zbar;
    zbar.start(QStringLiteral("zbarimg"), {QStringLiteral("--quiet"), QStringLiteral("--raw"),
                                           QStringLiteral("-Sbinary"), path});
    zbar.waitForFinished(20000);
    QByteArray out = zbar.readAllStandardOutput();
    if (out.endsWith('\n')) {
        out.chop(1);
    }
    return out;
}

// Everything the app logs while the journeys run, at the most verbose.
QString journeyLog;

void keepLog(QtMsgType, const QMessageLogContext &context, const QString &text) {
    if (QByteArrayView(context.category).startsWith("velmora."))
        journeyLog += text + u'\n';
}

} // namespace

class JourneyTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void passwordJourney();
    void setupLinkJourney();
    void phoneSetupLinkIsSingleUse();
    void setupInputRejected_data();
    void setupInputRejected();
    void signInFailuresKeepInput();
    void logoutWhileServerUnreachable();
    void startFailureKeepsNote();
    void stopAnswers();
    void actionGuards();
    void concurrentStartsSendOne();
    void qrCodeReadsBack_data();
    void qrCodeReadsBack();
    void failedLinkKeepsPreviousImage();
};

void JourneyTest::initTestCase() {
    enableVerboseLogging();
    qInstallMessageHandler(keepLog);
}

// The log of every journey names requests and what the user read, and never
// a token, password, setup code or body.
void JourneyTest::cleanupTestCase() {
    qInstallMessageHandler(nullptr);
    QVERIFY(journeyLog.contains(u"POST api/login 200"));
    QVERIFY(journeyLog.contains(u"POST api/setup 200"));
    QVERIFY(journeyLog.contains(u"message: E-Mail oder Passwort ist falsch."));
    for (const QString &secret :
         {QStringLiteral("Bearer"), QString::fromLatin1(DevServer::memberPassword) + u' ',
          QStringLiteral("falsch\n"), QStringLiteral("{\"")})
        QVERIFY2(!journeyLog.contains(secret), qPrintable(secret));
    // Tokens and setup codes are long runs of base64url.
    static const QRegularExpression longCode(QStringLiteral("[A-Za-z0-9_-]{24,}"));
    const auto match = longCode.match(journeyLog);
    QVERIFY2(!match.hasMatch(), qPrintable(match.captured()));
}

void JourneyTest::passwordJourney() {
    ModelFixture fixture;
    QVERIFY(fixture.started());
    DevServer &server = fixture.server();
    auto tokens = std::make_shared<MemoryTokenStore>();
    auto model = fixture.newModel(tokens);
    const QString typedAddress = server.baseUrl() + QLatin1Char('/');
    model->setServerURL(typedAddress);
    model->setEmail(QString::fromLatin1(DevServer::memberEmail));
    model->setPassword(QString::fromLatin1(DevServer::memberPassword));

    QVERIFY(finishes(model->login()));
    QVERIFY(model->signedIn());
    QVERIFY(!model->busy());
    QVERIFY(model->password().isEmpty());
    QCOMPARE(model->email(), QString::fromLatin1(DevServer::memberEmail));
    QVERIFY(tokens->token());
    QCOMPARE(storedServerURL(fixture.preferencesPath()), typedAddress);
    QVERIFY(model->state());
    QVERIFY(model->message().isEmpty());
    const QJsonObject login = bodyOf(server.requestsTo(QStringLiteral("/api/login")).first());
    QCOMPARE(login.value(QStringLiteral("device")), QJsonValue(true));

    // The member's demo timer runs; stop it, then start a new one.
    server.setNinjaSynced(false);
    QVERIFY(finishes(model->stop()));
    QVERIFY(!model->state()->running);
    QCOMPARE(model->message(),
             QStringLiteral("Zeit gespeichert. Ninja-Abgleich folgt automatisch."));

    model->setNote(QStringLiteral("  Angebot prüfen "));
    const QString client = model->selectedClient();
    const qint64 reason = model->selectedReason();
    QVERIFY(!client.isEmpty() && reason > 0);
    QVERIFY(finishes(model->start()));
    QVERIFY(model->note().isEmpty());
    QVERIFY(model->message().isEmpty());
    QVERIFY(model->state()->running);
    QCOMPARE(model->state()->running->note, QStringLiteral("  Angebot prüfen "));
    const QJsonObject start = bodyOf(server.requestsTo(QStringLiteral("/api/time/start")).first());
    QCOMPARE(start, (QJsonObject{{"clientId", client},
                                 {"reasonId", reason},
                                 {"note", QStringLiteral("  Angebot prüfen ")}}));

    server.setNinjaSynced(true);
    QVERIFY(finishes(model->stop()));
    QVERIFY(!model->state()->running);
    QVERIFY(model->message().isEmpty());

    QVERIFY(finishes(model->logout()));
    QVERIFY(!model->signedIn());
    QVERIFY(!model->state());
    QVERIFY(!tokens->token());
    QCOMPARE(model->email(), QString::fromLatin1(DevServer::memberEmail));
    QCOMPARE(model->selectedClient(), client);
    QVERIFY(server.surprises().isEmpty());
}

void JourneyTest::setupLinkJourney() {
    ModelFixture fixture;
    QVERIFY(fixture.started());
    DevServer &server = fixture.server();
    auto tokens = std::make_shared<MemoryTokenStore>();
    auto model = fixture.newModel(tokens);
    const QString code = server.createSetupCode(server.memberId());
    // The link names another host; the code still goes to the chosen server.
    model->setSetupInput(
        QStringLiteral(" \n\t https://elsewhere.example/#setup=%1 \r\n").arg(code));
    QVERIFY(finishes(model->connectWithSetupLink()));
    QVERIFY2(model->signedIn(), qPrintable(model->message()));
    QVERIFY(model->setupInput().isEmpty());
    QVERIFY(tokens->token());
    QVERIFY(model->state());
    QCOMPARE(bodyOf(server.requestsTo(QStringLiteral("/api/setup")).first()),
             (QJsonObject{{"code", code}, {"device", true}}));
    // The address is kept with the token, so a restart finds both.
    QCOMPARE(storedServerURL(fixture.preferencesPath()), server.baseUrl());

    // A bare code works too.
    auto second = fixture.newModel();
    second->setSetupInput(server.createSetupCode(server.adminId()));
    QVERIFY(finishes(second->connectWithSetupLink()));
    QVERIFY(second->signedIn());
    QVERIFY(server.surprises().isEmpty());
}

void JourneyTest::phoneSetupLinkIsSingleUse() {
    ModelFixture fixture;
    QVERIFY(fixture.started());
    auto admin = fixture.signedInModel(fixture.server().adminId());
    QVERIFY(admin);
    QVERIFY(finishes(admin->makeSetupLink()));
    QCOMPARE(admin->message(), QStringLiteral("Mit dem Handy scannen · 15 Minuten gültig."));
    QVERIFY(admin->setupLink().contains(QStringLiteral("#setup=")));
    QVERIFY(!admin->setupImage().isNull());
    QCOMPARE(bodyOf(fixture.server().requestsTo(QStringLiteral("/api/admin/setup-links")).first()),
             (QJsonObject{{"userId", fixture.server().adminId()}}));

    auto phone = fixture.newModel();
    phone->setSetupInput(admin->setupLink());
    QVERIFY(finishes(phone->connectWithSetupLink()));
    QVERIFY(phone->signedIn());
    QCOMPARE(phone->state()->user.id, fixture.server().adminId());

    auto again = fixture.newModel();
    again->setSetupInput(admin->setupLink());
    QVERIFY(finishes(again->connectWithSetupLink()));
    QVERIFY(!again->signedIn());
    QVERIFY(!again->message().isEmpty());
    QVERIFY(again->message() != QStringLiteral("Bitte einen gültigen Einrichtungslink einfügen."));
    QCOMPARE(again->setupInput(), admin->setupLink()); // kept for another try

    // A second link replaces the first, image included.
    const QString firstLink = admin->setupLink();
    const QImage firstImage = admin->setupImage();
    QVERIFY(finishes(admin->makeSetupLink()));
    QVERIFY(admin->setupLink() != firstLink);
    QVERIFY(admin->setupImage() != firstImage);
}

void JourneyTest::setupInputRejected_data() {
    QTest::addColumn<QString>("input");
    const QString code43 = QStringLiteral("abcdefghijklmnopqrstuvwxyzABCDEFGHIJ0123-_Q");
    QVERIFY(code43.size() == 43);
    QTest::newRow("42 characters") << code43.left(42);
    QTest::newRow("44 characters") << code43 + QLatin1Char('x');
    QTest::newRow("plus") << code43.left(42) + QLatin1Char('+');
    QTest::newRow("slash") << code43.left(42) + QLatin1Char('/');
    QTest::newRow("padding") << code43.left(42) + QLatin1Char('=');
    QTest::newRow("text after the code") << QStringLiteral("https://h/#setup=%1&x=1").arg(code43);
    QTest::newRow("slash after the code") << QStringLiteral("https://h/#setup=%1/").arg(code43);
    QTest::newRow("marker in capitals") << QStringLiteral("https://h/#SETUP=%1").arg(code43);
    QTest::newRow("blank inside") << code43.left(20) + QLatin1Char(' ') + code43.mid(21);
    QTest::newRow("empty") << QString();
    QTest::newRow("one blank") << QStringLiteral(" ");
}

void JourneyTest::setupInputRejected() {
    QFETCH(QString, input);
    ModelFixture fixture;
    QVERIFY(fixture.started());
    auto model = fixture.newModel();
    model->setSetupInput(input);
    QVERIFY(finishes(model->connectWithSetupLink()));
    QCOMPARE(model->message(), QStringLiteral("Bitte einen gültigen Einrichtungslink einfügen."));
    QCOMPARE(model->setupInput(), input);
    QVERIFY(!model->signedIn() && !model->busy());
    QVERIFY(fixture.server().requests().isEmpty());
}

void JourneyTest::signInFailuresKeepInput() {
    ModelFixture fixture;
    QVERIFY(fixture.started());
    auto tokens = std::make_shared<MemoryTokenStore>(QStringLiteral("old"));
    auto model = fixture.newModel(tokens);
    model->setEmail(QString::fromLatin1(DevServer::memberEmail));
    model->setPassword(QStringLiteral("falsch"));
    QVERIFY(finishes(model->login()));
    QVERIFY(!model->signedIn() && !model->busy());
    QCOMPARE(model->message(), QStringLiteral("E-Mail oder Passwort ist falsch."));
    QCOMPARE(model->password(), QStringLiteral("falsch"));
    QVERIFY(!tokens->token()); // the 401 removed the token stored before

    // Empty fields are sent as they are; the server decides.
    model->setEmail(QString());
    model->setPassword(QString());
    QVERIFY(finishes(model->login()));
    QCOMPARE(bodyOf(fixture.server().requestsTo(QStringLiteral("/api/login")).last()),
             (QJsonObject{{"email", ""}, {"password", ""}, {"device", true}}));

    // An answer without a token signs nobody in.
    fixture.server().setFault(QStringLiteral("/api/login"),
                              Fault{.body = R"({"tok":"x"})", .rawBody = true, .times = 1});
    model->setEmail(QString::fromLatin1(DevServer::memberEmail));
    model->setPassword(QString::fromLatin1(DevServer::memberPassword));
    QVERIFY(finishes(model->login()));
    QVERIFY(!model->signedIn());
    QVERIFY(model->message().contains(QStringLiteral("token")));
    QCOMPARE(model->password(), QString::fromLatin1(DevServer::memberPassword));
}

void JourneyTest::logoutWhileServerUnreachable() {
    ModelFixture fixture;
    QVERIFY(fixture.started());
    auto tokens = std::make_shared<MemoryTokenStore>();
    auto model = fixture.signedInModel(fixture.server().memberId(), tokens);
    QVERIFY(model);
    model->setNote(QStringLiteral("bleibt"));
    fixture.server().stop();
    QVERIFY(finishes(model->logout()));
    QVERIFY(!model->signedIn());
    QVERIFY(!model->state());
    QVERIFY(!tokens->token());
    QVERIFY(model->message().isEmpty());
    QCOMPARE(model->note(), QStringLiteral("bleibt"));

    // A keyring that cannot remove the token is reported: the token would
    // sign the user in again at the next start.
    ModelFixture other;
    auto stuck = std::make_shared<MemoryTokenStore>();
    auto model2 = other.signedInModel(other.server().memberId(), stuck);
    QVERIFY(model2);
    stuck->setFailure(KeychainError(KeychainError::Kind::AccessDenied, QStringLiteral("gesperrt")));
    QVERIFY(finishes(model2->logout()));
    QVERIFY(!model2->signedIn());
    QCOMPARE(model2->message(), QStringLiteral("gesperrt"));
}

void JourneyTest::startFailureKeepsNote() {
    ModelFixture fixture;
    QVERIFY(fixture.started());
    auto model = fixture.signedInModel(fixture.server().adminId());
    QVERIFY(model);
    model->setNote(QStringLiteral("wichtig"));
    fixture.server().setFault(QStringLiteral("/api/time/start"),
                              Fault{.status = 422, .body = R"({"error":"Kein Stundensatz."})"});
    QVERIFY(finishes(model->start()));
    QCOMPARE(model->note(), QStringLiteral("wichtig"));
    QCOMPARE(model->message(), QStringLiteral("Kein Stundensatz."));
    QVERIFY(!model->busy());
    QVERIFY(!model->state()->running);

    // Success empties the note even when the reload after it fails.
    fixture.server().clearFaults();
    fixture.server().setFault(QStringLiteral("/api/state"), Fault{.status = 503, .times = 1});
    QVERIFY(finishes(model->start()));
    QVERIFY(model->note().isEmpty());
    QCOMPARE(model->message(), QStringLiteral("Serverfehler 503"));

    // A note typed while the start is under way is for the next timer.
    model->setNote(QStringLiteral("erste"));
    fixture.server().setFault(QStringLiteral("/api/time/start"), Fault{.delayMs = 400, .times = 1});
    auto starting = model->start();
    model->setNote(QStringLiteral("für den nächsten Timer"));
    QVERIFY(finishes(std::move(starting)));
    QCOMPARE(model->state()->running->note, QStringLiteral("erste"));
    QCOMPARE(model->note(), QStringLiteral("für den nächsten Timer"));
}

void JourneyTest::stopAnswers() {
    ModelFixture fixture;
    QVERIFY(fixture.started());
    auto model = fixture.signedInModel(fixture.server().memberId());
    QVERIFY(model);
    const State before = *model->state();
    fixture.server().clearRequests();
    fixture.server().setFault(QStringLiteral("/api/time/stop"),
                              Fault{.body = R"({"ninja_synced":true})", .rawBody = true});
    QVERIFY(finishes(model->stop()));
    QVERIFY(model->message().contains(QStringLiteral("ninjaSynced")));
    QCOMPARE(*model->state(), before);
    QVERIFY(fixture.server().requestsTo(QStringLiteral("/api/state")).isEmpty());
    QVERIFY(!model->busy());

    // The sync notice replaces the text of a failed reload.
    fixture.server().clearFaults();
    fixture.server().setNinjaSynced(false);
    fixture.server().setFault(QStringLiteral("/api/state"), Fault{.status = 500, .times = 1});
    QVERIFY(finishes(model->stop()));
    QCOMPARE(model->message(),
             QStringLiteral("Zeit gespeichert. Ninja-Abgleich folgt automatisch."));
}

void JourneyTest::actionGuards() {
    ModelFixture fixture;
    QVERIFY(fixture.started());
    fixture.server().setStateOverride(QStringLiteral(R"({
      "user": {"id": "%1", "name": "Clara", "role": "Admin"},
      "clients": [{"id": "c1", "name": "A", "enabled": 1, "archived": 0}],
      "reasons": [{"id": 1, "name": "B", "active": 1}],
      "rates": [], "running": null})")
                                          .arg(fixture.server().adminId())
                                          .toUtf8());
    auto model = fixture.signedInModel(fixture.server().adminId());
    QVERIFY(model);
    fixture.server().clearRequests();
    QCOMPARE(model->selectedReason(), 0); // no rate, no reason
    QVERIFY(finishes(model->start()));
    model->setSelectedReason(-1);
    QVERIFY(finishes(model->start()));
    model->setSelectedReason(1);
    model->setSelectedClient(QString());
    QVERIFY(finishes(model->start()));
    QVERIFY(finishes(model->stop()));          // nothing runs
    QVERIFY(finishes(model->makeSetupLink())); // "Admin" is no administrator
    QVERIFY(fixture.server().requests().isEmpty());
    QVERIFY(model->message().isEmpty());

    // Signed out: no state, nothing to stop or link.
    auto fresh = fixture.newModel();
    QVERIFY(finishes(fresh->stop()));
    QVERIFY(finishes(fresh->makeSetupLink()));
    QVERIFY(fixture.server().requests().isEmpty());
}

void JourneyTest::concurrentStartsSendOne() {
    ModelFixture fixture;
    QVERIFY(fixture.started());
    auto model = fixture.signedInModel(fixture.server().adminId());
    QVERIFY(model);
    fixture.server().setFault(QStringLiteral("/api/time/start"), Fault{.delayMs = 300, .times = 1});
    model->runStart();
    model->runStart();
    model->runStop();
    model->runMakeSetupLink();
    model->runLogin();
    QTRY_VERIFY_WITH_TIMEOUT(model->state()->running, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!model->busy(), 10000);
    QCOMPARE(fixture.server().requestsTo(QStringLiteral("/api/time/start")).size(), 1);
    QCOMPARE(fixture.server().requestsTo(QStringLiteral("/api/time/stop")).size(), 0);
    QCOMPARE(fixture.server().requestsTo(QStringLiteral("/api/admin/setup-links")).size(), 0);
    QCOMPARE(fixture.server().requestsTo(QStringLiteral("/api/login")).size(), 0);
}

void JourneyTest::qrCodeReadsBack_data() {
    QTest::addColumn<QString>("link");
    QTest::newRow("setup link") << QStringLiteral(
        "https://zeit.velmora.de/#setup=abcdefghijklmnopqrstuvwxyzABCDEFGHIJ0123-_Q");
    QTest::newRow("umlauts") << QStringLiteral("https://zeit.velmora.de/größe/#setup=äöü-ß");
    QTest::newRow("long") << QStringLiteral("https://h/#setup=") + QString(1500, QLatin1Char('x'));
}

void JourneyTest::qrCodeReadsBack() {
    QFETCH(QString, link);
    ModelFixture fixture;
    QVERIFY(fixture.started());
    auto model = fixture.signedInModel(fixture.server().adminId());
    QVERIFY(model);
    fixture.server().setFault(
        QStringLiteral("/api/admin/setup-links"),
        Fault{.body = QJsonDocument(QJsonObject{{"link", link}}).toJson(), .rawBody = true});
    QVERIFY(finishes(model->makeSetupLink()));
    QCOMPARE(model->setupLink(), link);
    const QImage image = model->setupImage();
    QVERIFY(!image.isNull());
    QCOMPARE(image.width() % 8, 0);
    QCOMPARE(image.width(), image.height());
    QCOMPARE(QString::fromUtf8(scanQrCode(image)), link);
}

void JourneyTest::failedLinkKeepsPreviousImage() {
    ModelFixture fixture;
    QVERIFY(fixture.started());
    auto model = fixture.signedInModel(fixture.server().adminId());
    QVERIFY(model);
    QVERIFY(finishes(model->makeSetupLink()));
    const QString link = model->setupLink();
    const QImage image = model->setupImage();
    fixture.server().setFault(QStringLiteral("/api/admin/setup-links"),
                              Fault{.status = 500, .body = "<html>kaputt</html>", .times = 1});
    QVERIFY(finishes(model->makeSetupLink()));
    QCOMPARE(model->message(), QStringLiteral("Serverfehler 500"));
    QCOMPARE(model->setupLink(), link);
    QCOMPARE(model->setupImage(), image);
    fixture.server().setFault(QStringLiteral("/api/admin/setup-links"),
                              Fault{.body = R"({"url":"x"})", .rawBody = true, .times = 1});
    QVERIFY(finishes(model->makeSetupLink()));
    QVERIFY(model->message().contains(QStringLiteral("link")));
    QCOMPARE(model->setupLink(), link);

    // A link too long for a QR code keeps the old image under the new link.
    const QString overlong = QStringLiteral("https://h/#setup=") + QString(2400, QLatin1Char('x'));
    fixture.server().setFault(
        QStringLiteral("/api/admin/setup-links"),
        Fault{.body = QJsonDocument(QJsonObject{{"link", overlong}}).toJson(), .rawBody = true});
    QVERIFY(finishes(model->makeSetupLink()));
    QCOMPARE(model->message(), QStringLiteral("QR-Code konnte nicht erstellt werden."));
    QCOMPARE(model->setupLink(), overlong);
    QCOMPARE(model->setupImage(), image);
    QVERIFY(!model->busy());
}

QTEST_GUILESS_MAIN(JourneyTest)
#include "tst_journeys.moc"
