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

using namespace Qt::StringLiterals;

namespace {

const QString memberEmail = QString::fromLatin1(DevServer::memberEmail);
const QString memberPassword = QString::fromLatin1(DevServer::memberPassword);
const QString invalidSetup = u"Bitte einen gültigen Einrichtungslink einfügen."_s;
const QString syncLater = u"Zeit gespeichert. Ninja-Abgleich folgt automatisch."_s;

QJsonObject bodyOf(const RecordedRequest &request) {
    return QJsonDocument::fromJson(request.body).object();
}

// What a phone camera would read from the image.
QString scanQrCode(const QImage &image) {
    QTemporaryDir dir;
    const QString path = dir.filePath(u"qr.png"_s);
    image.save(path);
    QProcess zbar;
    zbar.start(u"zbarimg"_s, {u"--quiet"_s, u"--raw"_s, u"-Sbinary"_s, path});
    zbar.waitForFinished(20000);
    QByteArray out = zbar.readAllStandardOutput();
    if (out.endsWith('\n'))
        out.chop(1);
    return QString::fromUtf8(out);
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

    std::optional<ModelFixture> m_fixture; // a fresh devserver for every test
    DevServer &server() { return m_fixture->server(); }
    // The next answer of `path`, with status 200.
    void answerOnce(const QString &path, const QByteArray &body) {
        server().setFault(path, Fault{.body = body, .rawBody = true, .times = 1});
    }

private Q_SLOTS:
    void initTestCase() {
        enableVerboseLogging();
        qInstallMessageHandler(keepLog);
    }
    void init() {
        m_fixture.emplace();
        QVERIFY(m_fixture->started());
    }

    // The log of every journey names requests and what the user read, and never
    // a token, password, setup code or body.
    void cleanupTestCase() {
        qInstallMessageHandler(nullptr);
        QVERIFY(journeyLog.contains(u"POST api/login 200"));
        QVERIFY(journeyLog.contains(u"POST api/setup 200"));
        QVERIFY(journeyLog.contains(u"message: E-Mail oder Passwort ist falsch."));
        for (const QString &secret : {u"Bearer"_s, memberPassword + u' ', u"falsch\n"_s, u"{\""_s})
            QVERIFY2(!journeyLog.contains(secret), qPrintable(secret));
        // Tokens and setup codes are long runs of base64url.
        static const QRegularExpression longCode(u"[A-Za-z0-9_-]{24,}"_s);
        const auto match = longCode.match(journeyLog);
        QVERIFY2(!match.hasMatch(), qPrintable(match.captured()));
    }

    void passwordJourney() {
        auto tokens = std::make_shared<MemoryTokenStore>();
        auto model = m_fixture->newModel(tokens);
        const QString typedAddress = server().baseUrl() + u'/';
        model->setServerURL(typedAddress);
        model->setEmail(memberEmail);
        model->setPassword(memberPassword);
        QVERIFY(finishes(model->login()));
        QVERIFY(model->signedIn() && tokens->token() && model->state());
        QVERIFY(model->password().isEmpty() && model->message().isEmpty());
        // Kept exactly as typed, with the token, so a restart finds both.
        QCOMPARE(QSettings(m_fixture->preferencesPath(), QSettings::IniFormat)
                     .value(u"VelmoraTimeURL"_s)
                     .toString(),
                 typedAddress);
        QCOMPARE(bodyOf(server().requestsTo(u"/api/login"_s).first())[u"device"], QJsonValue(true));

        // The member's demo timer runs; stop it, then start a new one.
        server().setNinjaSynced(false);
        QVERIFY(finishes(model->stop()));
        QVERIFY(!model->state()->running);
        QCOMPARE(model->message(), syncLater);

        const QString note = u"  Angebot prüfen "_s; // sent untrimmed
        model->setNote(note);
        const QString client = model->selectedClient();
        const qint64 reason = model->selectedReason();
        QVERIFY(!client.isEmpty() && reason > 0);
        QVERIFY(finishes(model->start()));
        QVERIFY(model->note().isEmpty() && model->message().isEmpty());
        QCOMPARE(model->state()->running->note, note);
        QCOMPARE(bodyOf(server().requestsTo(u"/api/time/start"_s).first()),
                 (QJsonObject{{"clientId", client}, {"reasonId", reason}, {"note", note}}));

        server().setNinjaSynced(true);
        QVERIFY(finishes(model->stop()));
        QVERIFY(!model->state()->running && model->message().isEmpty());

        // Signing out forgets the token and the state, not the email or the choice.
        QVERIFY(finishes(model->logout()));
        QVERIFY(!model->signedIn() && !model->state() && !tokens->token());
        QCOMPARE(model->email(), memberEmail);
        QCOMPARE(model->selectedClient(), client);
        QVERIFY(server().surprises().isEmpty());
    }

    void setupLinkJourney() {
        auto tokens = std::make_shared<MemoryTokenStore>();
        auto model = m_fixture->newModel(tokens);
        const QString code = server().createSetupCode(server().memberId());
        // The link names another host; the code still goes to the chosen server.
        model->setSetupInput(u" \n\t https://elsewhere.example/#setup=%1 \r\n"_s.arg(code));
        QVERIFY(finishes(model->connectWithSetupLink()));
        QVERIFY2(model->signedIn(), qPrintable(model->message()));
        QVERIFY(model->setupInput().isEmpty() && tokens->token() && model->state());
        QCOMPARE(bodyOf(server().requestsTo(u"/api/setup"_s).first()),
                 (QJsonObject{{"code", code}, {"device", true}}));

        // A bare code works too.
        auto second = m_fixture->newModel();
        second->setSetupInput(server().createSetupCode(server().adminId()));
        QVERIFY(finishes(second->connectWithSetupLink()));
        QVERIFY(second->signedIn());
        QVERIFY(server().surprises().isEmpty());
    }

    void setupInputRejected_data() {
        QTest::addColumn<QString>("input");
        const QString code = u"abcdefghijklmnopqrstuvwxyzABCDEFGHIJ0123-_Q"_s; // 43 characters
        const QString code42 = code.left(42);
        QTest::newRow("42 characters") << code42;
        QTest::newRow("44 characters") << code + u'x';
        QTest::newRow("plus") << code42 + u'+';
        QTest::newRow("slash") << code42 + u'/';
        QTest::newRow("padding") << code42 + u'=';
        QTest::newRow("text after the code") << u"https://h/#setup=%1&x=1"_s.arg(code);
        QTest::newRow("marker in capitals") << u"https://h/#SETUP=%1"_s.arg(code);
        QTest::newRow("blank inside") << code.left(20) + u' ' + code.mid(21);
        QTest::newRow("empty") << QString();
    }

    void setupInputRejected() {
        QFETCH(QString, input);
        auto model = m_fixture->newModel();
        model->setSetupInput(input);
        QVERIFY(finishes(model->connectWithSetupLink()));
        QCOMPARE(model->message(), invalidSetup);
        QCOMPARE(model->setupInput(), input);
        QVERIFY(!model->signedIn() && !model->busy());
        QVERIFY(server().requests().isEmpty());
    }

    void signInFailuresKeepInput() {
        auto tokens = std::make_shared<MemoryTokenStore>(u"old"_s);
        auto model = m_fixture->newModel(tokens);
        model->setEmail(memberEmail);
        model->setPassword(u"falsch"_s);
        QVERIFY(finishes(model->login()));
        QVERIFY(!model->signedIn() && !model->busy());
        QCOMPARE(model->message(), u"E-Mail oder Passwort ist falsch."_s);
        QCOMPARE(model->password(), u"falsch"_s);
        QVERIFY(!tokens->token()); // the 401 removed the token stored before

        // Empty fields are sent as they are; the server decides.
        model->setEmail(QString());
        model->setPassword(QString());
        QVERIFY(finishes(model->login()));
        QCOMPARE(bodyOf(server().requestsTo(u"/api/login"_s).last()),
                 (QJsonObject{{"email", ""}, {"password", ""}, {"device", true}}));

        // An answer without a token signs nobody in.
        answerOnce(u"/api/login"_s, R"({"tok":"x"})");
        model->setEmail(memberEmail);
        model->setPassword(memberPassword);
        QVERIFY(finishes(model->login()));
        QVERIFY(!model->signedIn());
        QVERIFY(model->message().contains(u"token"));
        QCOMPARE(model->password(), memberPassword);
    }

    void logoutWithoutServerOrKeyring() {
        // A keyring that cannot remove the token is reported: the token would
        // sign the user in again at the next start.
        auto stuck = std::make_shared<MemoryTokenStore>();
        auto locked = m_fixture->signedInModel(server().memberId(), stuck);
        QVERIFY(locked);
        stuck->setFailure(KeychainError(KeychainError::Kind::AccessDenied, u"gesperrt"_s));
        QVERIFY(finishes(locked->logout()));
        QVERIFY(!locked->signedIn());
        QCOMPARE(locked->message(), u"gesperrt"_s);

        // An unreachable server does not keep anyone signed in.
        auto tokens = std::make_shared<MemoryTokenStore>();
        auto model = m_fixture->signedInModel(server().memberId(), tokens);
        QVERIFY(model);
        model->setNote(u"bleibt"_s);
        server().stop();
        QVERIFY(finishes(model->logout()));
        QVERIFY(!model->signedIn() && !model->state() && !tokens->token());
        QVERIFY(model->message().isEmpty());
        QCOMPARE(model->note(), u"bleibt"_s);
    }

    void startFailureKeepsNote() {
        auto model = m_fixture->signedInModel(server().adminId());
        QVERIFY(model);
        model->setNote(u"wichtig"_s);
        server().setFault(u"/api/time/start"_s,
                          Fault{.status = 422, .body = R"({"error":"Kein Stundensatz."})"});
        QVERIFY(finishes(model->start()));
        QCOMPARE(model->note(), u"wichtig"_s);
        QCOMPARE(model->message(), u"Kein Stundensatz."_s);
        QVERIFY(!model->busy() && !model->state()->running);

        // Success empties the note even when the reload after it fails.
        server().clearFaults();
        server().setFault(u"/api/state"_s, Fault{.status = 503, .times = 1});
        QVERIFY(finishes(model->start()));
        QVERIFY(model->note().isEmpty());
        QCOMPARE(model->message(), u"Serverfehler 503"_s);

        // A note typed while the start is under way is for the next timer.
        model->setNote(u"erste"_s);
        server().setFault(u"/api/time/start"_s, Fault{.delayMs = 400, .times = 1});
        auto starting = model->start();
        model->setNote(u"für den nächsten Timer"_s);
        QVERIFY(finishes(std::move(starting)));
        QCOMPARE(model->state()->running->note, u"erste"_s);
        QCOMPARE(model->note(), u"für den nächsten Timer"_s);
    }

    void stopAnswers() {
        auto model = m_fixture->signedInModel(server().memberId());
        QVERIFY(model);
        // An answer without the sync flag keeps the state and reloads nothing.
        const State before = *model->state();
        server().clearRequests();
        server().setFault(u"/api/time/stop"_s,
                          Fault{.body = R"({"ninja_synced":true})", .rawBody = true});
        QVERIFY(finishes(model->stop()));
        QVERIFY(model->message().contains(u"ninjaSynced"));
        QCOMPARE(*model->state(), before);
        QVERIFY(server().requestsTo(u"/api/state"_s).isEmpty());
        QVERIFY(!model->busy());

        // The sync notice replaces the text of a failed reload.
        server().clearFaults();
        server().setNinjaSynced(false);
        server().setFault(u"/api/state"_s, Fault{.status = 500, .times = 1});
        QVERIFY(finishes(model->stop()));
        QCOMPARE(model->message(), syncLater);
    }

    void actionGuards() {
        server().setStateOverride(
            QString::fromUtf8(R"({"user": {"id": "%1", "name": "Clara", "role": "Admin"},
              "clients": [{"id": "c1", "name": "A", "enabled": 1, "archived": 0}],
              "reasons": [{"id": 1, "name": "B", "active": 1}], "rates": [], "running": null})")
                .arg(server().adminId())
                .toUtf8());
        auto model = m_fixture->signedInModel(server().adminId());
        QVERIFY(model);
        server().clearRequests();
        QCOMPARE(model->selectedReason(), 0); // no rate, no reason
        QVERIFY(finishes(model->start()));
        model->setSelectedReason(-1);
        QVERIFY(finishes(model->start()));
        model->setSelectedReason(1);
        model->setSelectedClient(QString());
        QVERIFY(finishes(model->start()));
        QVERIFY(finishes(model->stop()));          // nothing runs
        QVERIFY(finishes(model->makeSetupLink())); // "Admin" is no administrator
        // Signed out: no state, nothing to stop or link.
        auto fresh = m_fixture->newModel();
        QVERIFY(finishes(fresh->stop()));
        QVERIFY(finishes(fresh->makeSetupLink()));
        QVERIFY(server().requests().isEmpty());
        QVERIFY(model->message().isEmpty());
    }

    void concurrentStartsSendOne() {
        auto model = m_fixture->signedInModel(server().adminId());
        QVERIFY(model);
        server().setFault(u"/api/time/start"_s, Fault{.delayMs = 300, .times = 1});
        model->runStart();
        model->runStart();
        model->runStop();
        model->runMakeSetupLink();
        model->runLogin();
        QTRY_VERIFY_WITH_TIMEOUT(model->state()->running, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!model->busy(), 10000);
        QCOMPARE(server().requestsTo(u"/api/time/start"_s).size(), 1);
        for (const QString &path :
             {u"/api/time/stop"_s, u"/api/admin/setup-links"_s, u"/api/login"_s})
            QVERIFY2(server().requestsTo(path).isEmpty(), qPrintable(path));
        // The same for a double click on "Timer stoppen".
        server().setFault(u"/api/time/stop"_s, Fault{.delayMs = 300, .times = 1});
        model->runStop();
        model->runStop();
        QTRY_VERIFY_WITH_TIMEOUT(!model->state()->running && !model->busy(), 10000);
        QCOMPARE(server().requestsTo(u"/api/time/stop"_s).size(), 1);
    }

    // An administrator's link for a phone: its image reads back as the link, it
    // signs in once, and a failure keeps the previous link and image.
    void phoneSetupLinks() {
        auto admin = m_fixture->signedInModel(server().adminId());
        QVERIFY(admin);
        QVERIFY(finishes(admin->makeSetupLink()));
        QCOMPARE(admin->message(), u"Mit dem Handy scannen · 15 Minuten gültig."_s);
        QCOMPARE(bodyOf(server().requestsTo(u"/api/admin/setup-links"_s).first()),
                 (QJsonObject{{"userId", server().adminId()}}));
        const QString link = admin->setupLink();
        QVERIFY(link.contains(u"#setup="));
        QCOMPARE(scanQrCode(admin->setupImage()), link);

        auto phone = m_fixture->newModel();
        phone->setSetupInput(link);
        QVERIFY(finishes(phone->connectWithSetupLink()));
        QVERIFY(phone->signedIn());
        QCOMPARE(phone->state()->user.id, server().adminId());
        auto again = m_fixture->newModel();
        again->setSetupInput(link);
        QVERIFY(finishes(again->connectWithSetupLink()));
        QVERIFY(!again->signedIn());
        QCOMPARE(again->message(), u"Dieser Einrichtungslink ist ungültig oder abgelaufen."_s);
        QCOMPARE(again->setupInput(), link); // kept for another try

        // Whatever the server's link holds reads back from the image.
        for (const QString &other : {u"https://zeit.velmora.de/größe/#setup=äöü-ß"_s,
                                     u"https://h/#setup="_s + QString(1500, u'x')}) {
            answerOnce(u"/api/admin/setup-links"_s,
                       QJsonDocument(QJsonObject{{"link", other}}).toJson());
            QVERIFY(finishes(admin->makeSetupLink()));
            QCOMPARE(admin->setupLink(), other);
            const QImage image = admin->setupImage();
            QVERIFY(image.width() == image.height() && image.width() % 8 == 0);
            QCOMPARE(scanQrCode(image), other);
        }

        const QString lastLink = admin->setupLink();
        const QImage lastImage = admin->setupImage();
        server().setFault(u"/api/admin/setup-links"_s,
                          Fault{.status = 500, .body = "<html>kaputt</html>", .times = 1});
        QVERIFY(finishes(admin->makeSetupLink()));
        QCOMPARE(admin->message(), u"Serverfehler 500"_s);
        answerOnce(u"/api/admin/setup-links"_s, R"({"url":"x"})");
        QVERIFY(finishes(admin->makeSetupLink()));
        QVERIFY(admin->message().contains(u"link"));
        QCOMPARE(admin->setupLink(), lastLink);
        QCOMPARE(admin->setupImage(), lastImage);

        // A link too long for a QR code keeps the old image under the new link.
        const QString overlong = u"https://h/#setup="_s + QString(2400, u'x');
        answerOnce(u"/api/admin/setup-links"_s,
                   QJsonDocument(QJsonObject{{"link", overlong}}).toJson());
        QVERIFY(finishes(admin->makeSetupLink()));
        QCOMPARE(admin->message(), u"QR-Code konnte nicht erstellt werden."_s);
        QCOMPARE(admin->setupLink(), overlong);
        QCOMPARE(admin->setupImage(), lastImage);
        QVERIFY(!admin->busy());
    }
};

QTEST_GUILESS_MAIN(JourneyTest)
#include "tst_journeys.moc"
