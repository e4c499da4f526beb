// What the client tests cannot show of the local time server: that it refuses
// what a strict server refuses.

#include "devserver.h"
#include "testsupport.h"

#include <httplib.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

namespace {

const QByteArray acceptJson = "Accept: application/json\n";
const QByteArray json = acceptJson + "Content-Type: application/json\n";
const QByteArray getState = "GET /api/state\n" + acceptJson;

struct Reply {
    int status = 0; // 0: no answer
    QJsonObject json;
};

// `head` is "METHOD /path" and "Name: value" lines; sent over a fresh connection.
// httplib adds Host, User-Agent, Content-Length and, when missing, "Accept: */*".
Reply send(const DevServer &server, const QByteArray &head, const QByteArray &body = {}) {
    httplib::Client client(server.baseUrl().toStdString());
    QList<QByteArray> lines = head.split('\n');
    const QList<QByteArray> requestLine = lines.takeFirst().split(' ');
    httplib::Request req;
    req.method = requestLine[0].toStdString();
    req.path = requestLine[1].toStdString();
    for (const QByteArray &line : lines)
        if (const int colon = line.indexOf(':'); colon > 0)
            req.headers.emplace(line.left(colon).toStdString(), line.mid(colon + 2).toStdString());
    req.body = body.toStdString();
    const auto result = client.send(req);
    if (!result)
        return {};
    return {result->status,
            QJsonDocument::fromJson(QByteArray::fromStdString(result->body)).object()};
}

} // namespace

class TestDevServer : public QObject {
    Q_OBJECT

    DevServer m_server;

private slots:
    void initTestCase() { QVERIFY(m_server.start()); }
    void init() { m_server.clearSurprises(); }

    void strictness_data() {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("surprise");
        const auto row = [](const char *name, const QByteArray &head, const char *body, int status,
                            const char *surprise) {
            QTest::newRow(name) << head << QByteArray(body) << status
                                << QString::fromUtf8(surprise);
        };
        const QByteArray auth = "Authorization: Bearer TOKEN\n";
        const QByteArray start = "POST /api/time/start\n" + json + auth;
        const QByteArray stop = "POST /api/time/stop\n" + auth;
        row("reasonId as float", start, R"({"clientId":"c1","reasonId":2.0,"note":""})", 400,
            "is 2.0");
        row("note missing", start, R"({"clientId":"c1","reasonId":2})", 400, "\"note\" missing");
        row("extra key", stop + json, R"({"entryId":"e1","force":true})", 400, "unexpected key");
        row("form body", stop + acceptJson + "Content-Type: application/x-www-form-urlencoded",
            R"({"entryId":"e1"})", 415, "Content-Type is");
        row("login without device header", "POST /api/login\n" + json,
            R"({"email":"a","password":"b","device":true})", 400, "no X-Velmora-Device");
        row("device header on state", getState + auth + "X-Velmora-Device: linux", "", 400,
            "only sign-in requests");
        row("state without token", getState, "", 401, "no Authorization");
        row("state without Accept", "GET /api/state\n" + auth, "", 406, "Accept is \"*/*\"");
        row("Content-Type on logout", "POST /api/logout\n" + json + auth, "", 400, "without body");
    }

    void strictness() {
        QFETCH(QByteArray, head);
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(QString, surprise);

        head.replace("TOKEN", m_server.issueToken(m_server.memberId()).toUtf8());
        const Reply reply = send(m_server, head, body);
        QCOMPARE(reply.status, status);
        QVERIFY(!reply.json.value(QStringLiteral("error")).toString().isEmpty());
        const QString surprises = m_server.surprises().join(u'\n');
        QVERIFY2(surprises.contains(surprise), qPrintable(surprises));
        // Nothing was started or stopped by a refused request.
        QVERIFY(m_server.hasRunningEntry(m_server.memberId()));
    }

    // https itself is proven by the request tests; a key that cannot be read
    // makes start() fail instead of serving.
    void httpsWithoutKeyFails() {
        DevServerOptions broken = testsupport::httpsServerOptions();
        broken.keyFile += QStringLiteral(".missing");
        QVERIFY(!DevServer(broken).start());
    }
};

QTEST_GUILESS_MAIN(TestDevServer)
#include "tst_devserver.moc"
