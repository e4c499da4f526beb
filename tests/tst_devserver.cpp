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

// A request the server must refuse with `status`, noting a surprise that
// contains `surprise`. `head` is "METHOD /path" and "Name: value" lines.
struct Refused {
    const char *name;
    QByteArray head, body;
    int status;
    const char *surprise;
};

} // namespace

class TestDevServer : public QObject {
    Q_OBJECT

    DevServer m_server;

private slots:
    void initTestCase() { QVERIFY(m_server.start()); }
    void init() { m_server.clearSurprises(); }

    void strictness_data() {
        const QByteArray auth = "Authorization: Bearer TOKEN\n";
        const QByteArray start = "POST /api/time/start\n" + json + auth;
        const QByteArray stop = "POST /api/time/stop\n" + auth;
        testsupport::rows<Refused>({
            {"reasonId as float", start, R"({"clientId":"c1","reasonId":2.0,"note":""})", 400,
             "is 2.0"},
            {"note missing", start, R"({"clientId":"c1","reasonId":2})", 400, "\"note\" missing"},
            {"extra key", stop + json, R"({"entryId":"e1","force":true})", 400, "unexpected key"},
            {"form body", stop + acceptJson + "Content-Type: application/x-www-form-urlencoded",
             R"({"entryId":"e1"})", 415, "Content-Type is"},
            {"login without device header", "POST /api/login\n" + json,
             R"({"email":"a","password":"b","device":true})", 400, "no X-Velmora-Device"},
            {"device header on state", getState + auth + "X-Velmora-Device: linux", "", 400,
             "only sign-in requests"},
            {"state without token", getState, "", 401, "no Authorization"},
            {"state without Accept", "GET /api/state\n" + auth, "", 406, "Accept is \"*/*\""},
            {"Content-Type on logout", "POST /api/logout\n" + json + auth, "", 400, "without body"},
        });
    }

    void strictness() {
        FETCH_ROW(Refused);
        const QByteArray token = m_server.issueToken(m_server.memberId()).toUtf8();
        QList<QByteArray> lines = QByteArray(row.head).replace("TOKEN", token).split('\n');
        const QList<QByteArray> requestLine = lines.takeFirst().split(' ');
        // httplib adds Host, User-Agent, Content-Length and, when missing, "Accept: */*".
        httplib::Request request;
        request.method = requestLine[0].toStdString();
        request.path = requestLine[1].toStdString();
        for (const QByteArray &line : lines)
            if (const int colon = line.indexOf(':'); colon > 0)
                request.headers.emplace(line.left(colon).toStdString(),
                                        line.mid(colon + 2).toStdString());
        request.body = row.body.toStdString();
        const auto reply = httplib::Client(m_server.baseUrl().toStdString()).send(request);
        QVERIFY(reply);
        QCOMPARE(reply->status, row.status);
        const QByteArray body = QByteArray::fromStdString(reply->body);
        QVERIFY(!QJsonDocument::fromJson(body)[u"error"].toString().isEmpty());
        const QString surprises = m_server.surprises().join(u'\n');
        QVERIFY2(surprises.contains(QString::fromUtf8(row.surprise)), qPrintable(surprises));
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
