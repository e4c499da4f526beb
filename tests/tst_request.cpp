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
using namespace Qt::StringLiterals;

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

// `request` is "METHOD /path"; `headers` names those sent besides Accept.
struct Sent {
    const char *name;
    Route route;
    std::optional<QJsonObject> body;
    const char *request;
    QByteArray expectedBody;
    const char *headers;
    QString token = u"issued"_s; // the stored token: the one issued, this text, or (null) none
};

struct Answer {
    const char *name;
    int status;
    QByteArray body;
    const char *error; // null: success
    Route route = Api::stop;
    bool keyringLocked = false;
};

// `to` is the origin itself (ORIGIN), another server (ELSEWHERE) or an
// address on the origin's PORT.
struct Redirect {
    const char *name;
    QString to;
    bool fromHttps = false;
};

struct Broken {
    const char *name;
    Fault fault;
    QString error; // how the failure text starts; null: success
    int idleMs = 10000;
    int deadlineMs = 20000;
};

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

    void sent_data() {
        const QJsonObject login{
            {"email", "mitarbeiter@velmora.example"}, {"password", "grüße\\x/"}, {"device", true}};
        const QJsonObject start{
            {"clientId", "c1"}, {"reasonId", qint64(9007199254740993)}, {"note", ""}};
        rows<Sent>({
            {"login", Api::login, login, "POST /api/login",
             R"({"device":true,"email":"mitarbeiter@velmora.example","password":"grüße\\x/"})",
             "content-type x-velmora-device"},
            {"state without a stored token", Api::state, std::nullopt, "GET /api/state", "", "",
             QString()},
            {"state with an empty token, still a token", Api::state, std::nullopt, "GET /api/state",
             "", "authorization", u""_s},
            {"start", Api::start, start, "POST /api/time/start",
             R"({"clientId":"c1","note":"","reasonId":9007199254740993})",
             "authorization content-type"},
        });
    }

    void sent() {
        FETCH_ROW(Sent);
        auto model = signedInModel();
        if (row.token != u"issued"_s) {
            m_token = row.token;
            awaitTask(m_token.isNull() ? m_tokens->remove() : m_tokens->set(m_token));
        }
        // Only the request is of interest here, not what the server makes of it.
        DevServer &server = m_fixture.server();
        server.setFault(u'/' + QLatin1String(row.route.path), Fault{.status = 200, .body = "{}"});

        const auto outcome = awaitTask(model->request(row.route, row.body));
        VERIFY_OK(outcome);
        QCOMPARE(server.requests().size(), 1);
        const RecordedRequest sent = server.requests().first();
        QCOMPARE(sent.method + u' ' + sent.path, QString::fromLatin1(row.request));
        QCOMPARE(sent.body, row.expectedBody);
        const QMap<QString, QString> values{{"accept", "application/json"},
                                            {"authorization", ("Bearer " + m_token).trimmed()},
                                            {"content-type", "application/json"},
                                            {"x-velmora-device", "linux"}};
        const QString expected = "accept " + QString::fromLatin1(row.headers);
        for (const auto &[name, value] : values.asKeyValueRange())
            QCOMPARE(sent.headers.value(name, "(absent)"),
                     expected.contains(name) ? value : "(absent)");
    }

    void answers_data() {
        rows<Answer>({
            {"204 empty", 204, "", nullptr},
            {"299 not JSON", 299, "plain", nullptr},
            {"403 error text", 403, R"({"error":"Kein Zugriff auf den Kunden.","field":"x"})",
             "Kein Zugriff auf den Kunden."},
            {"422 empty error text", 422, R"({"error":""})", ""},
            {"502 HTML", 502, "<html><body>Bad Gateway</body></html>", "Serverfehler 502"},
            {"401", 401, R"({"error":"Sitzung abgelaufen."})", "Sitzung abgelaufen."},
            {"401 to a sign-in request", 401, "nope", "Serverfehler 401", Api::login},
            // The token cannot be removed: signed out all the same, the server's text shown.
            {"401, keyring locked", 401, R"({"error":"Abgemeldet."})", "Abgemeldet.", Api::login,
             true},
        });
    }

    void answers() {
        FETCH_ROW(Answer);
        auto model = signedInModel();
        if (row.keyringLocked)
            m_tokens->setFailure(KeychainError(KeychainError::Kind::AccessDenied, "gesperrt"));
        m_fixture.server().setFault(u'/' + QLatin1String(row.route.path),
                                    Fault{.status = row.status, .body = row.body});

        const auto outcome = awaitTask(endingOf(model.get(), m_tokens.get(), row.route));
        VERIFY_OK(outcome);
        const Ending &ending = *outcome.value;
        if (!row.error) {
            QCOMPARE(ending.body, std::optional(row.body));
        } else {
            QVERIFY(ending.failure);
            QCOMPARE(ending.failure->code(), row.status);
            QCOMPARE(ending.failure->description(), QString::fromUtf8(row.error));
        }
        // Only a 401 signs out, and the token is gone before the caller sees it.
        QCOMPARE(ending.signedIn, row.status != 401);
        QCOMPARE(ending.tokenStored, row.status != 401 || row.keyringLocked);
    }

    void nothingSentToAnInvalidAddress() {
        auto model = signedInModel();
        model->setServerURL(u"http://192.168.1.20:8080"_s);
        QCOMPARE(fetchState(*model).errorText(), u"Bitte gültige HTTPS-Adresse eingeben."_s);
        QVERIFY(m_fixture.server().requests().isEmpty());
        QVERIFY(model->signedIn());
    }

    void redirects_data() {
        rows<Redirect>({
            {"same origin, followed", "ORIGIN"},
            {"another port", "ELSEWHERE"},
            {"another host name, same port", "http://localhost:PORT"},
            // Only the scheme differs: the token must not go out in plain text.
            {"https to http, same host and port", "http://127.0.0.1:PORT", true},
        });
    }

    void redirects() {
        FETCH_ROW(Redirect);
        const auto restoreTls = qScopeGuard([tls = QSslConfiguration::defaultConfiguration()] {
            QSslConfiguration::setDefaultConfiguration(tls);
        });
        DevServer elsewhere;
        QVERIFY(elsewhere.start());
        std::unique_ptr<ModelFixture> secure;
        if (row.fromHttps) {
            secure = std::make_unique<ModelFixture>(httpsServerOptions());
            QVERIFY(secure->started() && trustTestCertificate());
        }
        DevServer &origin = secure ? secure->server() : m_fixture.server();
        auto model = signedInModel();
        model->setServerURL(origin.baseUrl());
        const bool followed = row.to == "ORIGIN";
        const QString target = QString(row.to)
                                   .replace("ORIGIN", origin.baseUrl())
                                   .replace("ELSEWHERE", elsewhere.baseUrl())
                                   .replace("PORT", QString::number(origin.port()));
        origin.setFault(u"/api/state"_s, Fault{.redirectTo = target + "/api/state", .times = 1});
        origin.clearRequests();

        const auto outcome = fetchState(*model);
        QCOMPARE(outcome.ok(), followed);
        if (!followed)
            QVERIFY2(outcome.failure<TransportError>() &&
                         outcome.errorText().contains(u"nicht gefolgt"),
                     qPrintable(outcome.errorText()));
        // The token went only to the origin, and is kept.
        QCOMPARE(origin.requests().size(), followed ? 2 : 1);
        QCOMPARE(origin.requests().last().headers.value("authorization"), "Bearer " + m_token);
        QVERIFY(elsewhere.requests().isEmpty());
        QCOMPARE(m_tokens->token(), std::optional(m_token));
    }

    // The transport's limits, and answers that count only when they arrived
    // whole; failures are told at once, not by the idle timer.
    void brokenAnswers_data() {
        const QString tooLarge =
            u"Die Antwort des Servers ist größer als 1 MiB und wurde abgebrochen."_s;
        const QString cut = u"Die Antwort des Servers kam nicht vollständig an ("_s;
        const QByteArray body = "{\"filler\":\"" + QByteArray(5000, 'x') + "\"}";
        rows<Broken>({
            {"exactly the size cap", Fault{.hugeBodyBytes = mib}, QString()},
            {"one byte over the cap", Fault{.hugeBodyBytes = mib + 1}, tooLarge},
            {"no answer at all, idle", Fault{.delayMs = 5000},
             u"Der Server hat 0,3 Sekunden lang nicht geantwortet."_s, 300},
            {"stalled body, idle", Fault{.stall = true},
             u"Der Server hat 1 Sekunde lang nicht geantwortet."_s, 1000},
            {"stalled body, deadline", Fault{.stall = true},
             u"Der Server hat nicht innerhalb von 0,5 Sekunden geantwortet."_s, 20000, 500},
            {"whole", Fault{.body = body, .rawBody = true}, QString()},
            {"whole, chunked", Fault{.body = body, .chunked = true}, QString()},
            {"closed after 100 bytes", Fault{.body = body, .cutAfterBytes = 100}, cut},
            {"reset after 100 bytes", Fault{.body = body, .cutAfterBytes = 100, .reset = true},
             cut},
            {"reset before the body", Fault{.body = body, .cutAfterBytes = 0, .reset = true}, cut},
            {"chunked, closed before the last chunk",
             Fault{.body = body, .cutAfterBytes = 100, .chunked = true}, cut},
            {"chunked, reset",
             Fault{.body = body, .cutAfterBytes = 3000, .reset = true, .chunked = true}, cut},
            {"gzip that does not decompress", Fault{.brokenGzip = true}, cut},
            {"gzip bomb", Fault{.gzipBomb = true}, cut},
            {"JSON that stops early, its length announced",
             Fault{.body = "{\"ok\":true,\"en", .rawBody = true}, cut},
            {"chunked, a bare string that stops early", Fault{.body = "\"abc", .chunked = true},
             cut},
            {"an escaped quote inside a string",
             Fault{.body = "{\"note\":\"Monitor 27\\\" geliefert\"}", .rawBody = true}, QString()},
        });
    }

    void brokenAnswers() {
        FETCH_ROW(Broken);
        auto model = signedInModel();
        model->transport().limits = {std::chrono::milliseconds(row.idleMs),
                                     std::chrono::milliseconds(row.deadlineMs), mib};
        m_fixture.server().setFault(u"/api/state"_s, row.fault);

        const auto outcome = fetchState(*model);
        if (row.error.isNull()) {
            VERIFY_OK(outcome);
            QCOMPARE(outcome.value->size(),
                     row.fault.hugeBodyBytes ? row.fault.hugeBodyBytes : row.fault.body.size());
            return;
        }
        QVERIFY2(outcome.failure<TransportError>() && outcome.errorText().startsWith(row.error),
                 qPrintable(outcome.errorText()));
        QVERIFY(model->signedIn());
    }

    // An unknown certificate: the token never goes out.
    void untrustedCertificate() {
        ModelFixture secure(httpsServerOptions());
        QVERIFY(secure.started());
        auto model = signedInModel();
        model->setServerURL(secure.server().baseUrl());
        const auto outcome = fetchState(*model);
        const auto failure = outcome.failure<TransportError>();
        QVERIFY2(failure, qPrintable(outcome.errorText()));
        QCOMPARE(failure->error(), QNetworkReply::SslHandshakeFailedError);
        QVERIFY(secure.server().requests().isEmpty());
    }
};

QTEST_GUILESS_MAIN(RequestTest)
#include "tst_request.moc"
