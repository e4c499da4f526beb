// The request layer against the devserver over real HTTP: what goes out on
// the wire, how every kind of answer comes back, and the transport's limits.

#include "modelfixture.h"
#include "testsupport.h"

#include <QJsonDocument>
#include <QScopeGuard>
#include <QSslConfiguration>
#include <QTest>

using namespace testsupport;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(std::optional<QJsonObject>)
Q_DECLARE_METATYPE(KeychainError::Kind)

namespace {

const QString invalidAddress = QStringLiteral("Bitte gültige HTTPS-Adresse eingeben.");

// A store that hands out a token but cannot remove it, as a keyring that
// locks between two calls.
class StuckTokenStore : public TokenStore {
public:
    explicit StuckTokenStore(QString token)
        : m_token(std::move(token)) {}
    QCoro::Task<std::optional<QString>> get() override { co_return m_token; }
    QCoro::Task<> set(QString token) override {
        m_token = std::move(token);
        co_return;
    }
    QCoro::Task<> remove() override {
        throw KeychainError(KeychainError::Kind::AccessDenied, QStringLiteral("gesperrt"));
        co_return;
    }

private:
    QString m_token;
};

struct SeenAtFailure {
    bool signedIn = true;
    bool tokenStored = true;
    QString text;
};

// What the model and the store looked like when the failure reached the caller.
QCoro::Task<SeenAtFailure> failureSeenBy(Model *model, MemoryTokenStore *tokens, QString path,
                                         bool authenticated) {
    try {
        co_await model->request(path, QStringLiteral("POST"), std::nullopt, authenticated);
    } catch (const ServiceError &e) {
        co_return SeenAtFailure{model->signedIn(), tokens->token().has_value(), e.description()};
    }
    co_return SeenAtFailure{};
}

} // namespace

class RequestTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();

    void headersAndBody_data();
    void headersAndBody();
    void answers_data();
    void answers();
    void unauthorizedSignsOutBeforeFailing_data();
    void unauthorizedSignsOutBeforeFailing();
    void unauthorizedWithStuckKeyring();
    void unusableAddressSendsNothing_data();
    void unusableAddressSendsNothing();
    void unreadableKeyringSendsNothing_data();
    void unreadableKeyringSendsNothing();
    void sameOriginRedirectIsFollowed();
    void redirectElsewhereKeepsToken_data();
    void redirectElsewhereKeepsToken();
    void sizeCap_data();
    void sizeCap();
    void timeouts_data();
    void timeouts();
    void droppedConnectionInGerman();
    void https();
    void untrustedCertificate();

private:
    std::unique_ptr<Model> signedInModel();

    std::unique_ptr<ModelFixture> m_fixture;
    std::shared_ptr<MemoryTokenStore> m_tokens;
    QString m_token;
};

void RequestTest::initTestCase() {
    QVERIFY(loadQtGermanTranslations());
    m_fixture = std::make_unique<ModelFixture>();
    QVERIFY(m_fixture->started());
}

void RequestTest::init() {
    m_fixture->server().clearFaults();
    m_fixture->server().clearRequests();
}

std::unique_ptr<Model> RequestTest::signedInModel() {
    DevServer &server = m_fixture->server();
    m_token = server.issueToken(server.memberId());
    m_tokens = std::make_shared<MemoryTokenStore>(m_token);
    auto model = m_fixture->newModel(m_tokens);
    // Short limits keep failing cases fast; no passing case comes near them.
    model->transport().limits.idleTimeout = 10s;
    model->transport().limits.deadline = 20s;
    return model;
}

void RequestTest::headersAndBody_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("method");
    QTest::addColumn<std::optional<QJsonObject>>("body");
    QTest::addColumn<bool>("authenticated");
    QTest::addColumn<bool>("tokenStored");
    QTest::addColumn<QByteArray>("expectedBody");

    const QJsonObject login{
        {"email", "mitarbeiter@velmora.example"}, {"password", "grüße \"x\""}, {"device", true}};
    QTest::newRow("login") << "api/login"
                           << "POST" << std::optional(login) << false << true
                           << QByteArray(R"({"device":true,"email":"mitarbeiter@velmora.example",)"
                                         R"("password":"grüße \"x\""})");
    QTest::newRow("setup") << "api/setup"
                           << "POST"
                           << std::optional(QJsonObject{{"code", "abc"}, {"device", true}}) << false
                           << true << QByteArray(R"({"code":"abc","device":true})");
    QTest::newRow("state") << "api/state"
                           << "GET" << std::optional<QJsonObject>() << true << true << QByteArray();
    QTest::newRow("state without a stored token")
        << "api/state"
        << "GET" << std::optional<QJsonObject>() << true << false << QByteArray();
    QTest::newRow("state unauthenticated")
        << "api/state"
        << "GET" << std::optional<QJsonObject>() << false << true << QByteArray();
    QTest::newRow("setup link") << "api/admin/setup-links"
                                << "POST" << std::optional(QJsonObject{{"userId", "u1"}}) << true
                                << true << QByteArray(R"({"userId":"u1"})");
    QTest::newRow("start") << "api/time/start"
                           << "POST"
                           << std::optional(QJsonObject{{"clientId", "c1"},
                                                        {"reasonId", qint64(9007199254740993)},
                                                        {"note", ""}})
                           << true << true
                           << QByteArray(
                                  R"({"clientId":"c1","note":"","reasonId":9007199254740993})");
    QTest::newRow("stop") << "api/time/stop"
                          << "POST" << std::optional(QJsonObject{{"entryId", "e1"}}) << true << true
                          << QByteArray(R"({"entryId":"e1"})");
    QTest::newRow("logout") << "api/logout"
                            << "POST" << std::optional<QJsonObject>() << true << true
                            << QByteArray();
}

void RequestTest::headersAndBody() {
    QFETCH(QString, path);
    QFETCH(QString, method);
    QFETCH(std::optional<QJsonObject>, body);
    QFETCH(bool, authenticated);
    QFETCH(bool, tokenStored);
    QFETCH(QByteArray, expectedBody);

    auto model = signedInModel();
    if (!tokenStored) {
        const auto removed = awaitTask(m_tokens->remove());
        VERIFY_OK(removed);
    }
    // Only the request is of interest here, not what the server makes of it.
    DevServer &server = m_fixture->server();
    Fault fixed;
    fixed.status = 200;
    fixed.body = "{}";
    server.setFault(QLatin1Char('/') + path, fixed);

    const auto outcome = awaitTask(model->request(path, method, body, authenticated));
    VERIFY_OK(outcome);
    QCOMPARE(*outcome.value, QByteArray("{}"));

    const QList<RecordedRequest> requests = server.requests();
    QCOMPARE(requests.size(), 1);
    const RecordedRequest &sent = requests.first();
    QCOMPARE(sent.method, method);
    QCOMPARE(sent.path, QLatin1Char('/') + path);
    QCOMPARE(sent.headers.value("accept"), QStringLiteral("application/json"));

    const bool device = path == QLatin1String("api/login") || path == QLatin1String("api/setup");
    QCOMPARE(sent.headers.contains("x-velmora-device"), device);
    if (device)
        QCOMPARE(sent.headers.value("x-velmora-device"), QStringLiteral("linux"));

    const bool bearer = authenticated && tokenStored;
    QCOMPARE(sent.headers.contains("authorization"), bearer);
    if (bearer)
        QCOMPARE(sent.headers.value("authorization"), QStringLiteral("Bearer ") + m_token);

    QCOMPARE(sent.headers.contains("content-type"), body.has_value());
    if (body)
        QCOMPARE(sent.headers.value("content-type"), QStringLiteral("application/json"));
    QCOMPARE(sent.body, expectedBody);
}

void RequestTest::answers_data() {
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("contentType");
    QTest::addColumn<QString>("expectedError"); // empty: success

    const QString json = QStringLiteral("application/json");
    QTest::newRow("200") << 200 << QByteArray(R"({"ok":true})") << json << QString();
    QTest::newRow("201") << 201 << QByteArray("[]") << json << QString();
    QTest::newRow("204 empty") << 204 << QByteArray() << json << QString();
    QTest::newRow("299 not JSON") << 299 << QByteArray("plain") << "text/plain" << QString();
    QTest::newRow("403 error text")
        << 403 << QByteArray(R"({"error":"Keine Berechtigung für diesen Kunden."})") << json
        << "Keine Berechtigung für diesen Kunden.";
    QTest::newRow("422 empty error text") << 422 << QByteArray(R"({"error":""})") << json << "";
    QTest::newRow("400 error and more")
        << 400 << QByteArray(R"({"error":"Notiz zu lang","field":"note"})") << json
        << "Notiz zu lang";
    QTest::newRow("502 HTML") << 502 << QByteArray("<html><body>Bad Gateway</body></html>")
                              << "text/html"
                              << "Serverfehler 502";
    QTest::newRow("500 error null")
        << 500 << QByteArray(R"({"error":null})") << json << "Serverfehler 500";
    QTest::newRow("500 error number")
        << 500 << QByteArray(R"({"error":42})") << json << "Serverfehler 500";
    QTest::newRow("404 no error key")
        << 404 << QByteArray(R"({"message":"weg"})") << json << "Serverfehler 404";
    QTest::newRow("503 empty body") << 503 << QByteArray() << json << "Serverfehler 503";
    QTest::newRow("409 JSON array")
        << 409 << QByteArray(R"(["error"])") << json << "Serverfehler 409";
}

void RequestTest::answers() {
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, contentType);
    QFETCH(QString, expectedError);

    auto model = signedInModel();
    Fault fault;
    fault.status = status;
    fault.body = body;
    fault.contentType = contentType;
    m_fixture->server().setFault(QStringLiteral("/api/time/stop"), fault);

    const auto outcome =
        awaitTask(model->request(QStringLiteral("api/time/stop"), QStringLiteral("POST"),
                                 QJsonObject{{"entryId", "e1"}}, true));
    if (expectedError.isNull()) {
        VERIFY_OK(outcome);
        QCOMPARE(*outcome.value, body);
    } else {
        VERIFY_FAILED(outcome);
        const auto failure = outcome.failure<ServiceError>();
        QVERIFY2(failure, qPrintable(outcome.errorText()));
        QCOMPARE(failure->domain(), QStringLiteral("velmora"));
        QCOMPARE(failure->code(), status);
        QCOMPARE(failure->description(), expectedError);
    }
    // Only a 401 signs out.
    QVERIFY(model->signedIn());
    QCOMPARE(m_tokens->token(), std::optional(m_token));
}

void RequestTest::unauthorizedSignsOutBeforeFailing_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("authenticated");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("expectedError");

    QTest::newRow("timer stop") << "api/time/stop" << true
                                << QByteArray(R"({"error":"Sitzung abgelaufen."})")
                                << "Sitzung abgelaufen.";
    QTest::newRow("sign-in request")
        << "api/login" << false << QByteArray("nope") << "Serverfehler 401";
}

void RequestTest::unauthorizedSignsOutBeforeFailing() {
    QFETCH(QString, path);
    QFETCH(bool, authenticated);
    QFETCH(QByteArray, body);
    QFETCH(QString, expectedError);

    auto model = signedInModel();
    Fault fault;
    fault.status = 401;
    fault.body = body;
    m_fixture->server().setFault(QLatin1Char('/') + path, fault);

    const auto outcome = awaitTask(failureSeenBy(model.get(), m_tokens.get(), path, authenticated));
    VERIFY_OK(outcome);
    QCOMPARE(outcome.value->text, expectedError);
    QVERIFY(!outcome.value->signedIn);
    QVERIFY(!outcome.value->tokenStored);
    QVERIFY(!model->signedIn());
}

void RequestTest::unauthorizedWithStuckKeyring() {
    auto model = m_fixture->newModel(std::make_shared<StuckTokenStore>(QStringLiteral("t")));
    QVERIFY(model->signedIn());
    Fault fault;
    fault.status = 401;
    fault.body = R"({"error":"Abgemeldet."})";
    m_fixture->server().setFault(QStringLiteral("/api/state"), fault);

    const auto outcome = awaitTask(
        model->request(QStringLiteral("api/state"), QStringLiteral("GET"), std::nullopt, true));
    VERIFY_FAILED(outcome);
    // The server's answer is what the user reads; the sign-out holds anyway.
    QCOMPARE(outcome.errorText(), QStringLiteral("Abgemeldet."));
    QVERIFY(!model->signedIn());
}

void RequestTest::unusableAddressSendsNothing_data() {
    QTest::addColumn<QString>("address");
    QTest::newRow("empty") << QString();
    QTest::newRow("plain http to a LAN host") << QStringLiteral("http://192.168.1.20:8080");
    QTest::newRow("leading blank") << QLatin1Char(' ') + m_fixture->server().baseUrl();
    QTest::newRow("upper-case scheme") << QStringLiteral("HTTPS://zeit.velmora.de");
    QTest::newRow("other scheme") << QStringLiteral("ftp://127.0.0.1/");
}

void RequestTest::unusableAddressSendsNothing() {
    QFETCH(QString, address);
    auto model = signedInModel();
    model->setServerURL(address);

    const auto outcome = awaitTask(model->request(
        QStringLiteral("api/login"), QStringLiteral("POST"), QJsonObject{{"device", true}}, true));
    VERIFY_FAILED(outcome);
    const auto failure = outcome.failure<ServiceError>();
    QVERIFY2(failure, qPrintable(outcome.errorText()));
    QCOMPARE(failure->code(), 1);
    QCOMPARE(failure->description(), invalidAddress);
    QVERIFY(m_fixture->server().requests().isEmpty());
    QVERIFY(model->signedIn());
}

void RequestTest::unreadableKeyringSendsNothing_data() {
    QTest::addColumn<KeychainError::Kind>("kind");
    QTest::addColumn<QString>("text");
    QTest::newRow("unavailable") << KeychainError::Kind::Unavailable
                                 << QStringLiteral("Kein Schlüsselbund erreichbar.");
    QTest::newRow("locked") << KeychainError::Kind::AccessDenied
                            << QStringLiteral("Der Schlüsselbund ist gesperrt.");
}

void RequestTest::unreadableKeyringSendsNothing() {
    QFETCH(KeychainError::Kind, kind);
    QFETCH(QString, text);
    auto model = signedInModel();
    m_tokens->setFailure(KeychainError(kind, text));

    const auto outcome = awaitTask(
        model->request(QStringLiteral("api/state"), QStringLiteral("GET"), std::nullopt, true));
    VERIFY_FAILED(outcome);
    const auto thrown = outcome.failure<KeychainError>();
    QVERIFY2(thrown, qPrintable(outcome.errorText()));
    QCOMPARE(thrown->kind(), kind);
    QCOMPARE(thrown->description(), text);
    QVERIFY(m_fixture->server().requests().isEmpty());
    QVERIFY(model->signedIn());

    // A request without the token does not ask the keyring at all.
    const auto login = awaitTask(model->request(
        QStringLiteral("api/login"), QStringLiteral("POST"),
        QJsonObject{{"email", "x@y.example"}, {"password", "falsch"}, {"device", true}}, false));
    QCOMPARE(m_fixture->server().requests().size(), 1);
    QVERIFY2(!login.failure<KeychainError>(), qPrintable(login.errorText()));
}

void RequestTest::sameOriginRedirectIsFollowed() {
    auto model = signedInModel();
    DevServer &server = m_fixture->server();
    Fault redirect;
    redirect.redirectTo = server.baseUrl() + QStringLiteral("/api/state");
    redirect.times = 1;
    server.setFault(QStringLiteral("/api/state"), redirect);

    const auto outcome = awaitTask(
        model->request(QStringLiteral("api/state"), QStringLiteral("GET"), std::nullopt, true));
    VERIFY_OK(outcome);
    QVERIFY(QJsonDocument::fromJson(*outcome.value).isObject());
    const QList<RecordedRequest> sent = server.requestsTo(QStringLiteral("/api/state"));
    QCOMPARE(sent.size(), 2);
    QCOMPARE(sent.last().headers.value("authorization"), QStringLiteral("Bearer ") + m_token);
}

void RequestTest::redirectElsewhereKeepsToken_data() {
    QTest::addColumn<bool>("otherPort");
    QTest::addColumn<bool>("fromHttps");
    QTest::newRow("another port") << true << false;
    QTest::newRow("another host name, same port") << false << false;
    QTest::newRow("https to http") << true << true;
}

void RequestTest::redirectElsewhereKeepsToken() {
    QFETCH(bool, otherPort);
    QFETCH(bool, fromHttps);

    const QSslConfiguration defaultTls = QSslConfiguration::defaultConfiguration();
    auto restoreTls = qScopeGuard([&] { QSslConfiguration::setDefaultConfiguration(defaultTls); });
    DevServer elsewhere;
    QVERIFY(elsewhere.start());
    std::unique_ptr<ModelFixture> secure;
    if (fromHttps) {
        secure = std::make_unique<ModelFixture>(httpsServerOptions());
        QVERIFY(secure->started());
        QVERIFY(trustTestCertificate());
    }

    DevServer &origin = secure ? secure->server() : m_fixture->server();
    auto model = signedInModel();
    model->setServerURL(origin.baseUrl());
    const QString target = otherPort
                               ? elsewhere.baseUrl() + QStringLiteral("/api/state")
                               : QStringLiteral("http://localhost:%1/api/state").arg(origin.port());
    Fault redirect;
    redirect.redirectTo = target;
    origin.setFault(QStringLiteral("/api/state"), redirect);
    origin.clearRequests();

    const auto outcome = awaitTask(
        model->request(QStringLiteral("api/state"), QStringLiteral("GET"), std::nullopt, true));
    VERIFY_FAILED(outcome);
    const auto failure = outcome.failure<TransportError>();
    QVERIFY2(failure, qPrintable(outcome.errorText()));
    QVERIFY2(failure->description().contains(QStringLiteral("andere Adresse")),
             qPrintable(failure->description()));
    QVERIFY2(failure->description().contains(QStringLiteral("nicht gefolgt")),
             qPrintable(failure->description()));
    QCOMPARE(origin.requests().size(), 1);
    QVERIFY(elsewhere.requests().isEmpty());
    QVERIFY(model->signedIn());
    QCOMPARE(m_tokens->token(), std::optional(m_token));
}

void RequestTest::sizeCap_data() {
    QTest::addColumn<qint64>("bodyBytes");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("below the cap") << qint64(1024 * 1024 - 1) << true;
    QTest::newRow("exactly the cap") << qint64(1024 * 1024) << true;
    QTest::newRow("one byte over") << qint64(1024 * 1024 + 1) << false;
    QTest::newRow("far over") << qint64(256) * 1024 * 1024 << false;
}

void RequestTest::sizeCap() {
    QFETCH(qint64, bodyBytes);
    QFETCH(bool, accepted);

    auto model = signedInModel();
    model->transport().limits.maxBodyBytes = 1024 * 1024;
    Fault huge;
    huge.hugeBodyBytes = bodyBytes;
    m_fixture->server().setFault(QStringLiteral("/api/state"), huge);

    const auto outcome = awaitTask(
        model->request(QStringLiteral("api/state"), QStringLiteral("GET"), std::nullopt, true));
    if (accepted) {
        VERIFY_OK(outcome);
        QCOMPARE(outcome.value->size(), bodyBytes);
        return;
    }
    VERIFY_FAILED(outcome);
    QVERIFY2(outcome.failure<TransportError>(), qPrintable(outcome.errorText()));
    QCOMPARE(outcome.errorText(),
             QStringLiteral("Die Antwort des Servers ist größer als 1 MiB und wurde abgebrochen."));
}

void RequestTest::timeouts_data() {
    QTest::addColumn<int>("idleMs");
    QTest::addColumn<int>("deadlineMs");
    QTest::addColumn<bool>("stall");
    QTest::addColumn<QString>("expectedError");

    QTest::newRow("no answer at all, idle")
        << 300 << 20000 << false << "Der Server hat 0,3 Sekunden lang nicht geantwortet.";
    QTest::newRow("stalled body, idle")
        << 1000 << 20000 << true << "Der Server hat 1 Sekunde lang nicht geantwortet.";
    QTest::newRow("stalled body, deadline")
        << 20000 << 500 << true << "Der Server hat nicht innerhalb von 0,5 Sekunden geantwortet.";
}

void RequestTest::timeouts() {
    QFETCH(int, idleMs);
    QFETCH(int, deadlineMs);
    QFETCH(bool, stall);
    QFETCH(QString, expectedError);

    auto model = signedInModel();
    model->transport().limits.idleTimeout = std::chrono::milliseconds(idleMs);
    model->transport().limits.deadline = std::chrono::milliseconds(deadlineMs);
    Fault slow;
    slow.stall = stall;
    slow.delayMs = stall ? 0 : 5000;
    m_fixture->server().setFault(QStringLiteral("/api/state"), slow);

    const auto outcome = awaitTask(
        model->request(QStringLiteral("api/state"), QStringLiteral("GET"), std::nullopt, true));
    VERIFY_FAILED(outcome);
    QVERIFY2(outcome.failure<TransportError>(), qPrintable(outcome.errorText()));
    QCOMPARE(outcome.errorText(), expectedError);
    QVERIFY(model->signedIn());
}

void RequestTest::droppedConnectionInGerman() {
    auto model = signedInModel();
    Fault drop;
    drop.drop = true;
    m_fixture->server().setFault(QStringLiteral("/api/state"), drop);

    const auto outcome = awaitTask(
        model->request(QStringLiteral("api/state"), QStringLiteral("GET"), std::nullopt, true));
    VERIFY_FAILED(outcome);
    const auto failure = outcome.failure<TransportError>();
    QVERIFY2(failure, qPrintable(outcome.errorText()));
    QCOMPARE(failure->error(), QNetworkReply::RemoteHostClosedError);
    // Qt's own text, from its German catalogue.
    QCOMPARE(failure->description(), QStringLiteral("Verbindung beendet"));
}

void RequestTest::https() {
    ModelFixture secure(httpsServerOptions());
    QVERIFY(secure.started());
    QVERIFY(secure.server().baseUrl().startsWith(QLatin1String("https://")));
    const QSslConfiguration defaultTls = QSslConfiguration::defaultConfiguration();
    auto restoreTls = qScopeGuard([&] { QSslConfiguration::setDefaultConfiguration(defaultTls); });
    QVERIFY(trustTestCertificate());

    auto model = signedInModel();
    model->setServerURL(secure.server().baseUrl());
    const QString token = secure.server().issueToken(secure.server().memberId());
    awaitTask(m_tokens->set(token));

    const auto outcome = awaitTask(
        model->request(QStringLiteral("api/state"), QStringLiteral("GET"), std::nullopt, true));
    VERIFY_OK(outcome);
    QVERIFY(QJsonDocument::fromJson(*outcome.value).isObject());
    const QList<RecordedRequest> sent = secure.server().requests();
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent.first().headers.value("authorization"), QStringLiteral("Bearer ") + token);
}

void RequestTest::untrustedCertificate() {
    ModelFixture secure(httpsServerOptions());
    QVERIFY(secure.started());
    auto model = signedInModel();
    model->setServerURL(secure.server().baseUrl());

    const auto outcome = awaitTask(
        model->request(QStringLiteral("api/state"), QStringLiteral("GET"), std::nullopt, true));
    VERIFY_FAILED(outcome);
    const auto failure = outcome.failure<TransportError>();
    QVERIFY2(failure, qPrintable(outcome.errorText()));
    QCOMPARE(failure->error(), QNetworkReply::SslHandshakeFailedError);
    QVERIFY(!failure->description().isEmpty());
    // The token never went out over the untrusted connection.
    QVERIFY(secure.server().requests().isEmpty());
    QVERIFY(model->signedIn());
}

QTEST_GUILESS_MAIN(RequestTest)
#include "tst_request.moc"
