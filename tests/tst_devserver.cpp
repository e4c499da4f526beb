// The local time server itself: that it answers like the real one, refuses
// what a strict server refuses, and misbehaves exactly as told.

#include "devserver.h"

#include <httplib.h>

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSslConfiguration>
#include <QTest>
#include <memory>

namespace {

struct Reply {
    int status = 0; // 0: no answer (connection error)
    QByteArray body;
    httplib::Headers headers;
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
};

using HeaderList = QList<std::pair<QByteArray, QByteArray>>;

const HeaderList acceptJson = {{"Accept", "application/json"}};

// One request over a fresh connection. httplib adds Host, User-Agent,
// Content-Length and, when missing, "Accept: */*".
Reply send(const DevServer &server, const char *method, const char *path, const HeaderList &headers,
           const QByteArray &body = {}) {
    httplib::Client client("127.0.0.1", server.port());
    client.set_read_timeout(10, 0);
    httplib::Request req;
    req.method = method;
    req.path = path;
    for (const auto &[name, value] : headers)
        req.headers.emplace(name.toStdString(), value.toStdString());
    req.body = body.toStdString(); // httplib adds Content-Length itself
    auto result = client.send(req);
    Reply reply;
    if (result) {
        reply.status = result->status;
        reply.body = QByteArray::fromStdString(result->body);
        reply.headers = result->headers;
    }
    return reply;
}

Reply postJson(const DevServer &server, const char *path, const QByteArray &body,
               HeaderList headers = {}) {
    headers += acceptJson;
    headers += HeaderList{{"Content-Type", "application/json"}};
    return send(server, "POST", path, headers, body);
}

QByteArray bearer(const QString &token) {
    return "Bearer " + token.toUtf8();
}

QString signIn(const DevServer &server, const char *email, const char *password) {
    const QByteArray body = QJsonDocument(QJsonObject{{QStringLiteral("email"), email},
                                                      {QStringLiteral("password"), password},
                                                      {QStringLiteral("device"), true}})
                                .toJson(QJsonDocument::Compact);
    return postJson(server, "/api/login", body, {{"X-Velmora-Device", "linux"}})
        .json()
        .value(QStringLiteral("token"))
        .toString();
}

Reply getState(const DevServer &server, const QString &token) {
    return send(server, "GET", "/api/state",
                acceptJson + HeaderList{{"Authorization", bearer(token)}});
}

} // namespace

class TestDevServer : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<DevServer> server;

private slots:
    void init() {
        server = std::make_unique<DevServer>();
        QVERIFY(server->start());
        QVERIFY(server->port() > 0);
    }

    void cleanup() { server.reset(); }

    void login_data() {
        QTest::addColumn<QString>("email");
        QTest::addColumn<QString>("password");
        QTest::addColumn<int>("status");

        QTest::newRow("admin") << DevServer::adminEmail << DevServer::adminPassword << 200;
        QTest::newRow("member") << DevServer::memberEmail << DevServer::memberPassword << 200;
        QTest::newRow("e-mail in capitals") << QString::fromLatin1(DevServer::memberEmail).toUpper()
                                            << DevServer::memberPassword << 200;
        QTest::newRow("wrong password") << DevServer::memberEmail << "Demo" << 401;
        QTest::newRow("blank before e-mail")
            << QStringLiteral(" ") + DevServer::memberEmail << DevServer::memberPassword << 401;
        QTest::newRow("empty fields") << ""
                                      << "" << 401;
    }

    void login() {
        QFETCH(QString, email);
        QFETCH(QString, password);
        QFETCH(int, status);

        const QByteArray body = QJsonDocument(QJsonObject{{QStringLiteral("email"), email},
                                                          {QStringLiteral("password"), password},
                                                          {QStringLiteral("device"), true}})
                                    .toJson(QJsonDocument::Compact);
        const Reply reply =
            postJson(*server, "/api/login", body, {{"X-Velmora-Device", "windows"}});
        QCOMPARE(reply.status, status);
        if (status == 200) {
            static const QRegularExpression token(QStringLiteral("^[A-Za-z0-9_-]{43}$"));
            QVERIFY(token.match(reply.json().value(QStringLiteral("token")).toString()).hasMatch());
        } else {
            QCOMPARE(reply.json().value(QStringLiteral("error")).toString(),
                     QStringLiteral("E-Mail oder Passwort ist falsch."));
        }
        QCOMPARE(server->surprises(), QStringList());

        const QList<RecordedRequest> recorded = server->requestsTo(QStringLiteral("/api/login"));
        QCOMPARE(recorded.size(), 1);
        QCOMPARE(recorded[0].method, QStringLiteral("POST"));
        QCOMPARE(recorded[0].headers.value(QStringLiteral("x-velmora-device")),
                 QStringLiteral("windows"));
        QCOMPARE(recorded[0].body, body);
    }

    void stateShape() {
        const QString member = signIn(*server, DevServer::memberEmail, DevServer::memberPassword);
        const QJsonObject state = getState(*server, member).json();

        QCOMPARE(state.value(QStringLiteral("user")).toObject().value(QStringLiteral("role")),
                 QStringLiteral("member"));
        const QJsonArray clients = state.value(QStringLiteral("clients")).toArray();
        QVERIFY(clients.size() >= 10);
        QVERIFY(clients[0].toObject().value(QStringLiteral("id")).isString());
        QVERIFY(clients[0].toObject().value(QStringLiteral("enabled")).isDouble());
        QVERIFY(state.value(QStringLiteral("reasons"))
                    .toArray()[0]
                    .toObject()
                    .value(QStringLiteral("id"))
                    .isDouble());
        const QJsonObject rate = state.value(QStringLiteral("rates")).toArray()[0].toObject();
        QVERIFY(rate.contains(QStringLiteral("client_id")));
        QVERIFY(rate.contains(QStringLiteral("reason_id")));

        // The member's timer has run for about 1 h 23 min.
        const QJsonObject running = state.value(QStringLiteral("running")).toObject();
        const double age = QDateTime::currentMSecsSinceEpoch() -
                           running.value(QStringLiteral("started_at")).toDouble();
        QVERIFY2(age > 83 * 60 * 1000 && age < 90 * 60 * 1000, qPrintable(QString::number(age)));
        QVERIFY(running.value(QStringLiteral("rate_cents")).isDouble());

        const QString admin = signIn(*server, DevServer::adminEmail, DevServer::adminPassword);
        const QJsonObject adminState = getState(*server, admin).json();
        QVERIFY(adminState.value(QStringLiteral("running")).isNull());
        QCOMPARE(adminState.value(QStringLiteral("user")).toObject().value(QStringLiteral("id")),
                 server->adminId());

        server->setSnakeCaseState(false);
        const QJsonObject camel = getState(*server, member).json();
        QVERIFY(camel.value(QStringLiteral("running"))
                    .toObject()
                    .contains(QStringLiteral("startedAt")));
        QVERIFY(camel.value(QStringLiteral("rates"))
                    .toArray()[0]
                    .toObject()
                    .contains(QStringLiteral("clientId")));
        QCOMPARE(server->surprises(), QStringList());
    }

    void strictness_data() {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("headers"); // "Name: value" lines
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("surprise");

        const QByteArray json = "Accept: application/json\nContent-Type: application/json\n";
        const QByteArray auth = "Authorization: Bearer TOKEN\n";
        QTest::newRow("reasonId as string")
            << QByteArray("POST") << QByteArray("/api/time/start") << json + auth
            << QByteArray("{\"clientId\":\"c1\",\"reasonId\":\"2\",\"note\":\"\"}") << 400
            << "\"reasonId\" is a string";
        QTest::newRow("reasonId as float")
            << QByteArray("POST") << QByteArray("/api/time/start") << json + auth
            << QByteArray("{\"clientId\":\"c1\",\"reasonId\":2.0,\"note\":\"\"}") << 400
            << "is 2.0";
        QTest::newRow("note missing")
            << QByteArray("POST") << QByteArray("/api/time/start") << json + auth
            << QByteArray("{\"clientId\":\"c1\",\"reasonId\":2}") << 400 << "\"note\" missing";
        QTest::newRow("extra key")
            << QByteArray("POST") << QByteArray("/api/time/stop") << json + auth
            << QByteArray("{\"entryId\":\"e1\",\"force\":true}") << 400 << "unexpected key";
        QTest::newRow("duplicate key")
            << QByteArray("POST") << QByteArray("/api/time/stop") << json + auth
            << QByteArray("{\"entryId\":\"e1\",\"entryId\":\"e1\"}") << 400 << "twice";
        QTest::newRow("device false")
            << QByteArray("POST") << QByteArray("/api/login") << json + "X-Velmora-Device: linux\n"
            << QByteArray("{\"email\":\"a\",\"password\":\"b\",\"device\":false}") << 400
            << "not true";
        QTest::newRow("login without device header")
            << QByteArray("POST") << QByteArray("/api/login") << json
            << QByteArray("{\"email\":\"a\",\"password\":\"b\",\"device\":true}") << 400
            << "no X-Velmora-Device";
        QTest::newRow("device header on state")
            << QByteArray("GET") << QByteArray("/api/state")
            << "Accept: application/json\nX-Velmora-Device: linux\n" + auth << QByteArray() << 400
            << "only sign-in requests";
        QTest::newRow("state without token") << QByteArray("GET") << QByteArray("/api/state")
                                             << QByteArray("Accept: application/json\n")
                                             << QByteArray() << 401 << "no Authorization";
        QTest::newRow("state without Accept") << QByteArray("GET") << QByteArray("/api/state")
                                              << auth << QByteArray() << 406 << "Accept is \"*/*\"";
        QTest::newRow("Content-Type on logout")
            << QByteArray("POST") << QByteArray("/api/logout") << json + auth << QByteArray() << 400
            << "without body";
        QTest::newRow("form body")
            << QByteArray("POST") << QByteArray("/api/time/stop")
            << "Accept: application/json\nContent-Type: "
               "application/x-www-form-urlencoded\n" +
                   auth
            << QByteArray("{\"entryId\":\"e1\"}") << 415 << "Content-Type is";
        QTest::newRow("trailing comma")
            << QByteArray("POST") << QByteArray("/api/time/stop") << json + auth
            << QByteArray("{\"entryId\":\"e1\",}") << 400 << "no valid JSON";
        QTest::newRow("wrong method") << QByteArray("POST") << QByteArray("/api/state")
                                      << json + auth << QByteArray("{}") << 405 << "wrong method";
        QTest::newRow("trailing slash")
            << QByteArray("GET") << QByteArray("/api/state/") << "Accept: application/json\n" + auth
            << QByteArray() << 404 << "no such endpoint";
        QTest::newRow("short setup code")
            << QByteArray("POST") << QByteArray("/api/setup") << json + "X-Velmora-Device: macos\n"
            << QByteArray("{\"code\":\"abc\",\"device\":true}") << 400 << "not 43 characters";
    }

    void strictness() {
        QFETCH(QByteArray, method);
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, headers);
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(QString, surprise);

        const QString token = signIn(*server, DevServer::memberEmail, DevServer::memberPassword);
        HeaderList list;
        for (const QByteArray &line : headers.split('\n')) {
            const int colon = line.indexOf(':');
            if (colon > 0)
                list.append(
                    {line.left(colon), line.mid(colon + 2).replace("TOKEN", token.toUtf8())});
        }
        const Reply reply = send(*server, method.constData(), path.constData(), list, body);
        QCOMPARE(reply.status, status);
        QVERIFY(!reply.json().value(QStringLiteral("error")).toString().isEmpty());
        const QStringList surprises = server->surprises();
        QVERIFY2(!surprises.isEmpty() && surprises.join(u'\n').contains(surprise),
                 qPrintable(surprises.join(u'\n')));

        // Nothing was started or stopped by a refused request.
        QVERIFY(server->hasRunningEntry(server->memberId()));
        server->clearSurprises();
        QCOMPARE(getState(*server, token).status, 200);
        QCOMPARE(server->surprises(), QStringList());
    }

    void setupCodeIsSingleUse() {
        const QString code = server->createSetupCode(server->memberId());
        QCOMPARE(code.size(), 43);
        QVERIFY(server->setupLink(code).endsWith(QStringLiteral("/#setup=") + code));

        const QByteArray body = "{\"code\":\"" + code.toUtf8() + "\",\"device\":true}";
        const Reply first = postJson(*server, "/api/setup", body, {{"X-Velmora-Device", "linux"}});
        QCOMPARE(first.status, 200);
        const QString token = first.json().value(QStringLiteral("token")).toString();
        QCOMPARE(getState(*server, token)
                     .json()
                     .value(QStringLiteral("user"))
                     .toObject()
                     .value(QStringLiteral("id")),
                 server->memberId());

        const Reply again = postJson(*server, "/api/setup", body, {{"X-Velmora-Device", "linux"}});
        QVERIFY(again.status == 401 || again.status == 410);
        QCOMPARE(again.json().value(QStringLiteral("error")).toString(),
                 QStringLiteral("Dieser Einrichtungslink ist ungültig oder abgelaufen."));
        QCOMPARE(server->surprises(), QStringList());
    }

    void setupLinkForAdminOnly() {
        const QString admin = signIn(*server, DevServer::adminEmail, DevServer::adminPassword);
        const QByteArray own = "{\"userId\":\"" + server->adminId().toUtf8() + "\"}";
        const Reply reply =
            postJson(*server, "/api/admin/setup-links", own, {{"Authorization", bearer(admin)}});
        QCOMPARE(reply.status, 200);
        const QString link = reply.json().value(QStringLiteral("link")).toString();
        const QString prefix = QStringLiteral("https://127.0.0.1:%1/#setup=").arg(server->port());
        QVERIFY2(link.startsWith(prefix) && link.size() == prefix.size() + 43, qPrintable(link));
        QCOMPARE(server->surprises(), QStringList());

        const QString member = signIn(*server, DevServer::memberEmail, DevServer::memberPassword);
        const QByteArray memberOwn = "{\"userId\":\"" + server->memberId().toUtf8() + "\"}";
        const Reply refused = postJson(*server, "/api/admin/setup-links", memberOwn,
                                       {{"Authorization", bearer(member)}});
        QCOMPARE(refused.status, 403);
        QCOMPARE(refused.json().value(QStringLiteral("error")).toString(),
                 QStringLiteral("Nur für Administratoren."));
        QCOMPARE(server->surprises().size(), 1);
    }

    void startStopAndLogout() {
        const QString admin = signIn(*server, DevServer::adminEmail, DevServer::adminPassword);
        const HeaderList auth = {{"Authorization", bearer(admin)}};
        // c9 is disabled; c8 has no rates.
        QCOMPARE(postJson(*server, "/api/time/start",
                          "{\"clientId\":\"c9\",\"reasonId\":1,\"note\":\"\"}", auth)
                     .status,
                 422);
        QCOMPARE(postJson(*server, "/api/time/start",
                          "{\"clientId\":\"c8\",\"reasonId\":1,\"note\":\"\"}", auth)
                     .status,
                 422);
        QVERIFY(!server->hasRunningEntry(server->adminId()));

        QCOMPARE(postJson(*server, "/api/time/start",
                          "{\"clientId\":\"c4\",\"reasonId\":3,\"note\":\" Ofen \"}", auth)
                     .status,
                 200);
        const QJsonObject running =
            getState(*server, admin).json().value(QStringLiteral("running")).toObject();
        QCOMPARE(running.value(QStringLiteral("client_name")).toString(),
                 QStringLiteral("Bäckerei Schäfer"));
        QCOMPARE(running.value(QStringLiteral("rate_cents")).toInteger(), 6000);
        QCOMPARE(running.value(QStringLiteral("note")).toString(), QStringLiteral(" Ofen "));

        QCOMPARE(postJson(*server, "/api/time/stop", "{\"entryId\":\"nope\"}", auth).status, 404);
        server->setNinjaSynced(false);
        const QByteArray stop =
            "{\"entryId\":\"" + running.value(QStringLiteral("id")).toString().toUtf8() + "\"}";
        const Reply stopped = postJson(*server, "/api/time/stop", stop, auth);
        QCOMPARE(stopped.status, 200);
        QCOMPARE(stopped.body, QByteArray("{\"ninjaSynced\":false}"));
        QVERIFY(!server->hasRunningEntry(server->adminId()));

        const Reply out = send(*server, "POST", "/api/logout",
                               acceptJson + HeaderList{{"Authorization", bearer(admin)}});
        QCOMPARE(out.status, 204);
        QVERIFY(out.body.isEmpty());
        const Reply after = getState(*server, admin);
        QCOMPARE(after.status, 401);
        QCOMPARE(after.json().value(QStringLiteral("error")).toString(),
                 QStringLiteral("Bitte erneut anmelden."));
        QCOMPARE(server->surprises(), QStringList());
    }

    void faultAppliesTimes() {
        const QString token = signIn(*server, DevServer::memberEmail, DevServer::memberPassword);
        Fault fault;
        fault.status = 502;
        fault.body = "<html><body>Bad Gateway</body></html>";
        fault.contentType = QStringLiteral("text/html");
        fault.times = 2;
        server->setFault(QStringLiteral("/api/state"), fault);

        QCOMPARE(getState(*server, token).status, 502);
        const Reply second = getState(*server, token);
        QCOMPARE(second.status, 502);
        QCOMPARE(second.body, fault.body);
        QCOMPARE(getState(*server, token).status, 200);
        QCOMPARE(server->requestsTo(QStringLiteral("/api/state")).size(), 3);
    }

    void faultKinds() {
        const QString token = signIn(*server, DevServer::memberEmail, DevServer::memberPassword);

        Fault redirect;
        redirect.redirectTo = QStringLiteral("https://elsewhere.example/api/state");
        redirect.times = 1;
        server->setFault(QStringLiteral("/api/state"), redirect);
        const Reply moved = getState(*server, token);
        QCOMPARE(moved.status, 302);
        QCOMPARE(QByteArray::fromStdString(moved.headers.find("Location")->second),
                 QByteArray("https://elsewhere.example/api/state"));

        Fault huge;
        huge.hugeBodyBytes = 3 * 1024 * 1024 + 7;
        huge.times = 1;
        server->setFault(QStringLiteral("/api/state"), huge);
        const Reply big = getState(*server, token);
        QCOMPARE(big.status, 200);
        QCOMPARE(big.body.size(), huge.hugeBodyBytes);
        QVERIFY(big.body.startsWith("{\"filler\":\"xx"));
        QVERIFY(big.body.endsWith("xx\"}"));

        Fault raw;
        raw.rawBody = true;
        raw.body = "{\"ninja_synced\":true}";
        raw.times = 1;
        server->setFault(QStringLiteral("/api/time/stop"), raw);
        const Reply stop = postJson(*server, "/api/time/stop", "{\"entryId\":\"e1\"}",
                                    {{"Authorization", bearer(token)}});
        QCOMPARE(stop.status, 200);
        QCOMPARE(stop.body, raw.body);
        // The fault answered instead of the server: the timer still runs.
        QVERIFY(server->hasRunningEntry(server->memberId()));

        Fault slow;
        slow.delayMs = 200;
        slow.times = 1;
        server->setFault(QStringLiteral("/api/state"), slow);
        QCOMPARE(getState(*server, token).status, 200);

        QCOMPARE(server->surprises(), QStringList());
    }

    // A dropped connection is an error for Qt's client too; Qt sends a request
    // again when a connection closes before any answer, so a drop has to last.
    void faultDropSeenByQt() {
        Fault drop;
        drop.drop = true;
        server->setFault(QStringLiteral("/api/state"), drop);

        QNetworkAccessManager nam;
        QNetworkRequest request(QUrl(server->baseUrl() + QStringLiteral("/api/state")));
        request.setRawHeader("Accept", "application/json");
        std::unique_ptr<QNetworkReply> reply(nam.get(request));
        QSignalSpy finished(reply.get(), &QNetworkReply::finished);
        QVERIFY(finished.wait(20000));
        QCOMPARE(reply->error(), QNetworkReply::RemoteHostClosedError);
        QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute), QVariant());
        QVERIFY(!server->requestsTo(QStringLiteral("/api/state")).isEmpty());

        httplib::Client client("127.0.0.1", server->port());
        auto result = client.Get("/api/state", {{"Accept", "application/json"}});
        QVERIFY(!result);
    }

    // A stalled answer holds its connection, but stopping the server ends it.
    void faultStallEndsWithStop() {
        Fault stall;
        stall.stall = true;
        server->setFault(QStringLiteral("/api/state"), stall);

        QNetworkAccessManager nam;
        QNetworkRequest request(QUrl(server->baseUrl() + QStringLiteral("/api/state")));
        request.setRawHeader("Accept", "application/json");
        std::unique_ptr<QNetworkReply> reply(nam.get(request));
        QSignalSpy gotHeaders(reply.get(), &QNetworkReply::metaDataChanged);
        QSignalSpy finished(reply.get(), &QNetworkReply::finished);
        QVERIFY(gotHeaders.wait(20000));
        QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
        QVERIFY(finished.isEmpty());

        QElapsedTimer stopping;
        stopping.start();
        server->stop();
        // One keep-alive period (1 s) plus polling; far below the 5 s default.
        QVERIFY2(stopping.elapsed() < 4000, qPrintable(QString::number(stopping.elapsed())));
        QVERIFY(finished.wait(20000));
        QVERIFY(reply->error() != QNetworkReply::NoError);
    }

    void https() {
        const QString dir = QStringLiteral(VELMORA_TEST_CERT_DIR);
        DevServerOptions options;
        options.https = true;
        options.certFile = dir + QStringLiteral("/server.crt");
        options.keyFile = dir + QStringLiteral("/server.key");
        DevServer tls(options);
        QVERIFY(tls.start());
        QVERIFY(tls.baseUrl().startsWith(QStringLiteral("https://127.0.0.1:")));

        QNetworkAccessManager nam;
        QNetworkRequest request(QUrl(tls.baseUrl() + QStringLiteral("/api/login")));
        QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
        ssl.addCaCertificates(options.certFile);
        request.setSslConfiguration(ssl);
        request.setRawHeader("Accept", "application/json");
        request.setRawHeader("Content-Type", "application/json");
        request.setRawHeader("X-Velmora-Device", "linux");
        std::unique_ptr<QNetworkReply> reply(nam.post(
            request, QByteArray("{\"email\":\"") + DevServer::adminEmail + "\",\"password\":\"" +
                         DevServer::adminPassword + "\",\"device\":true}"));
        QSignalSpy finished(reply.get(), &QNetworkReply::finished);
        QVERIFY(finished.wait(20000));
        QCOMPARE(reply->error(), QNetworkReply::NoError);
        QVERIFY(
            QJsonDocument::fromJson(reply->readAll()).object().contains(QStringLiteral("token")));
        QCOMPARE(tls.surprises(), QStringList());

        // A key that cannot be read makes start() fail instead of serving.
        DevServerOptions broken = options;
        broken.keyFile = dir + QStringLiteral("/missing.key");
        QVERIFY(!DevServer(broken).start());
    }

    void appcast() {
        server->setAppcastVersion(QStringLiteral("1.2.3"));
        const Reply feed = send(*server, "GET", "/appcast.xml", {});
        QCOMPARE(feed.status, 200);
        QVERIFY(feed.body.contains("<sparkle:version>1.2.3</sparkle:version>"));
        QVERIFY(feed.body.contains("VelmoraTime-1.2.3.tar.gz"));
        server->setAppcastBody("<rss/>");
        QCOMPARE(send(*server, "GET", "/appcast.xml", {}).body, QByteArray("<rss/>"));
        QCOMPARE(server->surprises(), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestDevServer)
#include "tst_devserver.moc"
