// The request layer against the devserver over real HTTP: what goes out on
// the wire, how every kind of answer comes back, and the transport's limits.

#include "modelfixture.h"
#include "testsupport.h"

#include <QJsonObject>
#include <QScopeGuard>
#include <QSslConfiguration>
#include <QTest>

using namespace testsupport;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(std::optional<QJsonObject>)
Q_DECLARE_METATYPE(Fault)
Q_DECLARE_METATYPE(Route)

namespace {

constexpr qint64 mib = 1024 * 1024;

Outcome<QByteArray> fetchState(Model &model) {
    return awaitTask(model.request(Api::state, std::nullopt));
}

// How a request ended, and how the model and the store looked at that moment.
struct Ending {
    std::optional<QByteArray> body;
    std::optional<ServiceError> failure;
    bool signedIn = false;
    bool tokenStored = false;
};

QCoro::Task<Ending> endingOf(Model *model, MemoryTokenStore *tokens, Route route) {
    Ending ending;
    try {
        ending.body = co_await model->request(route, std::nullopt);
    } catch (const ServiceError &e) {
        ending.failure = e;
    }
    ending.signedIn = model->signedIn();
    ending.tokenStored = tokens->token().has_value();
    co_return ending;
}

auto keepTlsDefaults() {
    return qScopeGuard([tls = QSslConfiguration::defaultConfiguration()] {
        QSslConfiguration::setDefaultConfiguration(tls);
    });
}

} // namespace

class RequestTest : public QObject {
    Q_OBJECT

    ModelFixture m_fixture;
    std::shared_ptr<MemoryTokenStore> m_tokens;
    QString m_token;

    std::unique_ptr<Model> signedInModel() {
        m_token = m_fixture.server().issueToken(m_fixture.server().memberId());
        m_tokens = std::make_shared<MemoryTokenStore>(m_token);
        auto model = m_fixture.newModel(m_tokens);
        // Short limits keep failing cases fast; no passing case comes near them.
        model->transport().limits = {10s, 20s, mib};
        return model;
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(loadQtGermanTranslations());
        QVERIFY(m_fixture.started());
    }

    void init() {
        m_fixture.server().clearFaults();
        m_fixture.server().clearRequests();
    }

    void headersAndBody_data() {
        QTest::addColumn<Route>("route");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("method");
        QTest::addColumn<std::optional<QJsonObject>>("body");
        QTest::addColumn<bool>("tokenStored");
        QTest::addColumn<QByteArray>("expectedBody");
        const auto row = [](const char *name, const Route &route, const char *path,
                            const char *method, std::optional<QJsonObject> body, bool tokenStored,
                            const QByteArray &expected) {
            QTest::newRow(name) << route << QString::fromLatin1(path) << QString::fromLatin1(method)
                                << body << tokenStored << expected;
        };
        const QJsonObject login{
            {"email", "mitarbeiter@velmora.example"}, {"password", "grüße\\x/"}, {"device", true}};
        row("login", Api::login, "api/login", "POST", login, true,
            R"({"device":true,"email":"mitarbeiter@velmora.example","password":"grüße\\x/"})");
        row("setup", Api::setup, "api/setup", "POST", QJsonObject{{"code", "c"}}, true,
            R"({"code":"c"})");
        row("state", Api::state, "api/state", "GET", std::nullopt, true, "");
        row("state without a stored token", Api::state, "api/state", "GET", std::nullopt, false,
            "");
        row("setup links", Api::setupLinks, "api/admin/setup-links", "POST",
            QJsonObject{{"userId", "u"}}, true, R"({"userId":"u"})");
        row("start", Api::start, "api/time/start", "POST",
            QJsonObject{{"clientId", "c1"}, {"reasonId", qint64(9007199254740993)}, {"note", ""}},
            true, R"({"clientId":"c1","note":"","reasonId":9007199254740993})");
        row("stop", Api::stop, "api/time/stop", "POST", QJsonObject{{"entryId", "e"}}, true,
            R"({"entryId":"e"})");
        row("logout", Api::logout, "api/logout", "POST", std::nullopt, true, "");
    }

    void headersAndBody() {
        QFETCH(Route, route);
        QFETCH(QString, path);
        QFETCH(QString, method);
        QFETCH(std::optional<QJsonObject>, body);
        QFETCH(bool, tokenStored);
        QFETCH(QByteArray, expectedBody);

        auto model = signedInModel();
        if (!tokenStored)
            awaitTask(m_tokens->remove());
        // Only the request is of interest here, not what the server makes of it.
        DevServer &server = m_fixture.server();
        server.setFault(QLatin1Char('/') + path, Fault{.status = 200, .body = "{}"});

        const auto outcome = awaitTask(model->request(route, body));
        VERIFY_OK(outcome);
        QCOMPARE(server.requests().size(), 1);
        const RecordedRequest sent = server.requests().first();
        QCOMPARE(sent.method, method);
        QCOMPARE(sent.path, QLatin1Char('/') + path);
        QCOMPARE(sent.body, expectedBody);
        QMap<QString, QString> expected{{"accept", "application/json"}};
        const bool signingIn = path == "api/login" || path == "api/setup";
        if (signingIn)
            expected.insert("x-velmora-device", "linux");
        if (!signingIn && tokenStored)
            expected.insert("authorization", "Bearer " + m_token);
        if (body)
            expected.insert("content-type", "application/json");
        for (const char *name : {"accept", "x-velmora-device", "authorization", "content-type"})
            QCOMPARE(sent.headers.value(name, "(absent)"), expected.value(name, "(absent)"));
    }

    void answers_data() {
        QTest::addColumn<Route>("route");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("keyringLocked");
        QTest::addColumn<QString>("expectedError"); // null: success
        const auto row = [](const char *name, int status, const char *body, const char *error,
                            const Route &route = Api::stop, bool keyringLocked = false) {
            QTest::newRow(name) << route << status << QByteArray(body) << keyringLocked
                                << (error ? QString::fromUtf8(error) : QString());
        };
        row("200", 200, R"({"ok":true})", nullptr);
        row("204 empty", 204, "", nullptr);
        row("299 not JSON", 299, "plain", nullptr);
        row("403 error text", 403, R"({"error":"Kein Zugriff auf den Kunden.","field":"x"})",
            "Kein Zugriff auf den Kunden.");
        row("422 empty error text", 422, R"({"error":""})", "");
        row("502 HTML", 502, "<html><body>Bad Gateway</body></html>", "Serverfehler 502");
        row("503 empty body", 503, "", "Serverfehler 503");
        row("401", 401, R"({"error":"Sitzung abgelaufen."})", "Sitzung abgelaufen.");
        row("401 to a sign-in request", 401, "nope", "Serverfehler 401", Api::login);
        // The token cannot be removed: signed out all the same, the server's text shown.
        row("401, keyring locked", 401, R"({"error":"Abgemeldet."})", "Abgemeldet.", Api::login,
            true);
    }

    void answers() {
        QFETCH(Route, route);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(bool, keyringLocked);
        QFETCH(QString, expectedError);

        auto model = signedInModel();
        if (keyringLocked)
            m_tokens->setFailure(KeychainError(KeychainError::Kind::AccessDenied, "gesperrt"));
        m_fixture.server().setFault(QLatin1Char('/') + QLatin1String(route.path),
                                    Fault{.status = status, .body = body});

        const auto outcome = awaitTask(endingOf(model.get(), m_tokens.get(), route));
        VERIFY_OK(outcome);
        const Ending &ending = *outcome.value;
        if (expectedError.isNull()) {
            QCOMPARE(ending.body, std::optional(body));
        } else {
            QVERIFY(ending.failure);
            QCOMPARE(ending.failure->code(), status);
            QCOMPARE(ending.failure->description(), expectedError);
        }
        // Only a 401 signs out, and the token is gone before the caller sees it.
        QCOMPARE(ending.signedIn, status != 401);
        QCOMPARE(ending.tokenStored, status != 401 || keyringLocked);
    }

    void nothingSentWithoutAddressOrKeyring_data() {
        QTest::addColumn<QString>("address"); // null: the fixture's
        QTest::addColumn<QString>("expectedError");
        const QString invalid = QStringLiteral("Bitte gültige HTTPS-Adresse eingeben.");
        QTest::newRow("empty address") << QStringLiteral("") << invalid;
        QTest::newRow("http to a LAN host")
            << QStringLiteral("http://192.168.1.20:8080") << invalid;
        // Sent without the token, its 401 would remove a token that is still valid.
        QTest::newRow("keyring locked") << QString() << QStringLiteral("Schlüsselbund gesperrt.");
    }

    void nothingSentWithoutAddressOrKeyring() {
        QFETCH(QString, address);
        QFETCH(QString, expectedError);
        auto model = signedInModel();
        if (!address.isNull())
            model->setServerURL(address);
        else
            m_tokens->setFailure(KeychainError(KeychainError::Kind::AccessDenied, expectedError));

        const auto outcome = fetchState(*model);
        QCOMPARE(outcome.errorText(), expectedError);
        QVERIFY(m_fixture.server().requests().isEmpty());
        QVERIFY(model->signedIn());
    }

    void redirects_data() {
        QTest::addColumn<QString>("to");
        QTest::addColumn<bool>("fromHttps");
        QTest::newRow("same origin, followed") << "same origin" << false;
        QTest::newRow("another port") << "other port" << false;
        QTest::newRow("another host name, same port") << "other host" << false;
        // Only the scheme differs: the token must not go out in plain text.
        QTest::newRow("https to http, same host and port") << "http, same port" << true;
    }

    void redirects() {
        QFETCH(QString, to);
        QFETCH(bool, fromHttps);
        auto restoreTls = keepTlsDefaults();
        DevServer elsewhere;
        QVERIFY(elsewhere.start());
        std::unique_ptr<ModelFixture> secure;
        if (fromHttps) {
            secure = std::make_unique<ModelFixture>(httpsServerOptions());
            QVERIFY(secure->started() && trustTestCertificate());
        }
        DevServer &origin = secure ? secure->server() : m_fixture.server();
        auto model = signedInModel();
        model->setServerURL(origin.baseUrl());
        const bool followed = to == "same origin";
        const QString target = followed             ? origin.baseUrl()
                               : to == "other port" ? elsewhere.baseUrl()
                               : to == "http, same port"
                                   ? QString("http://127.0.0.1:%1").arg(origin.port())
                                   : QString("http://localhost:%1").arg(origin.port());
        origin.setFault(QStringLiteral("/api/state"),
                        Fault{.redirectTo = target + "/api/state", .times = 1});
        origin.clearRequests();

        const auto outcome = fetchState(*model);
        QCOMPARE(outcome.ok(), followed);
        if (!followed)
            QVERIFY2(outcome.failure<TransportError>() &&
                         outcome.errorText().contains(QStringLiteral("nicht gefolgt")),
                     qPrintable(outcome.errorText()));
        // The token went only to the origin, and is kept.
        QCOMPARE(origin.requests().size(), followed ? 2 : 1);
        QCOMPARE(origin.requests().last().headers.value("authorization"), "Bearer " + m_token);
        QVERIFY(elsewhere.requests().isEmpty());
        QCOMPARE(m_tokens->token(), std::optional(m_token));
    }

    void limits_data() {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<int>("idleMs");
        QTest::addColumn<int>("deadlineMs");
        QTest::addColumn<QString>("expectedError"); // null: success
        const QString tooLarge =
            QStringLiteral("Die Antwort des Servers ist größer als 1 MiB und wurde abgebrochen.");
        QTest::newRow("exactly the size cap")
            << Fault{.hugeBodyBytes = mib} << 10000 << 20000 << QString();
        QTest::newRow("one byte over the cap")
            << Fault{.hugeBodyBytes = mib + 1} << 10000 << 20000 << tooLarge;
        QTest::newRow("far over the cap")
            << Fault{.hugeBodyBytes = 256 * mib} << 10000 << 20000 << tooLarge;
        QTest::newRow("no answer at all, idle")
            << Fault{.delayMs = 5000} << 300 << 20000
            << "Der Server hat 0,3 Sekunden lang nicht geantwortet.";
        QTest::newRow("stalled body, idle") << Fault{.stall = true} << 1000 << 20000
                                            << "Der Server hat 1 Sekunde lang nicht geantwortet.";
        QTest::newRow("stalled body, deadline")
            << Fault{.stall = true} << 20000 << 500
            << "Der Server hat nicht innerhalb von 0,5 Sekunden geantwortet.";
        // Qt's own text, from its German catalogue.
        QTest::newRow("dropped connection") << Fault{.drop = true} << 10000 << 20000
                                            << "Der Server 127.0.0.1 hat die Verbindung unerwartet "
                                               "beendet. Bitte erneut versuchen.";
    }

    void limits() {
        QFETCH(Fault, fault);
        QFETCH(int, idleMs);
        QFETCH(int, deadlineMs);
        QFETCH(QString, expectedError);
        auto model = signedInModel();
        model->transport().limits = {std::chrono::milliseconds(idleMs),
                                     std::chrono::milliseconds(deadlineMs), mib};
        m_fixture.server().setFault(QStringLiteral("/api/state"), fault);

        const auto outcome = fetchState(*model);
        if (expectedError.isNull()) {
            VERIFY_OK(outcome);
            QCOMPARE(outcome.value->size(), fault.hugeBodyBytes);
            return;
        }
        QVERIFY2(outcome.failure<TransportError>(), qPrintable(outcome.errorText()));
        QCOMPARE(outcome.errorText(), expectedError);
        QVERIFY(model->signedIn());
    }

    // An answer counts only when it arrived whole; the start then fails like
    // any other and the note stays for another try.
    void cutOffAnswers_data() {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<QString>("expectedError"); // its start; null: success
        const QByteArray body = "{\"filler\":\"" + QByteArray(5000, 'x') + "\"}";
        const QString cut = QStringLiteral("Die Antwort des Servers kam nicht vollständig an (");
        QTest::newRow("whole") << Fault{.body = body, .rawBody = true} << QString();
        QTest::newRow("whole, chunked") << Fault{.body = body, .chunked = true} << QString();
        QTest::newRow("closed after 100 bytes") << Fault{.body = body, .cutAfterBytes = 100} << cut;
        QTest::newRow("reset after 100 bytes")
            << Fault{.body = body, .cutAfterBytes = 100, .reset = true} << cut;
        QTest::newRow("reset before the body")
            << Fault{.body = body, .cutAfterBytes = 0, .reset = true} << cut;
        QTest::newRow("chunked, closed before the last chunk")
            << Fault{.body = body, .cutAfterBytes = 100, .chunked = true} << cut;
        QTest::newRow("chunked, reset")
            << Fault{.body = body, .cutAfterBytes = 3000, .reset = true, .chunked = true} << cut;
        QTest::newRow("gzip that does not decompress") << Fault{.brokenGzip = true} << cut;
        QTest::newRow("gzip bomb") << Fault{.gzipBomb = true} << cut;
        QTest::newRow("JSON that stops early, its length announced")
            << Fault{.body = "{\"ok\":true,\"en", .rawBody = true} << cut;
        QTest::newRow("chunked, a bare string that stops early")
            << Fault{.body = "\"abc", .chunked = true} << cut;
    }

    void cutOffAnswers() {
        QFETCH(Fault, fault);
        QFETCH(QString, expectedError);
        auto model = m_fixture.signedInModel(m_fixture.server().adminId());
        QVERIFY(model);
        model->setNote(QStringLiteral("Besprechung"));
        // Failures are told at once, not by the idle timer: it is longer
        // than the test waits.
        model->transport().limits = {60s, 120s, 64LL * 1024 * 1024};
        m_fixture.server().setFault(QStringLiteral("/api/time/start"), fault);
        QVERIFY(finishes(model->start()));
        QVERIFY2(expectedError.isNull() ? model->message().isEmpty()
                                        : model->message().startsWith(expectedError),
                 qPrintable(model->message()));
        QCOMPARE(model->note(), expectedError.isNull() ? QString() : QStringLiteral("Besprechung"));
        QVERIFY(!model->busy());
        QVERIFY(model->signedIn());
    }

    void httpsOnlyWhenTrusted() {
        ModelFixture secure(httpsServerOptions());
        QVERIFY(secure.started());
        auto model = signedInModel();
        model->setServerURL(secure.server().baseUrl());
        const QString token = secure.server().issueToken(secure.server().memberId());
        (void)awaitTask(m_tokens->set(token));

        // An unknown certificate: the token never goes out.
        const auto untrusted = fetchState(*model);
        const auto failure = untrusted.failure<TransportError>();
        QVERIFY2(failure, qPrintable(untrusted.errorText()));
        QCOMPARE(failure->error(), QNetworkReply::SslHandshakeFailedError);
        QVERIFY(secure.server().requests().isEmpty());

        auto restoreTls = keepTlsDefaults();
        QVERIFY(trustTestCertificate());
        model->transport().manager()->clearConnectionCache(); // made under the old defaults
        const auto outcome = fetchState(*model);
        VERIFY_OK(outcome);
        QCOMPARE(secure.server().requests().size(), 1);
        QCOMPARE(secure.server().requests().first().headers.value("authorization"),
                 QStringLiteral("Bearer ") + token);
    }
};

QTEST_GUILESS_MAIN(RequestTest)
#include "tst_request.moc"
