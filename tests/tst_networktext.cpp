// Network failures read as one German sentence naming the server, with or
// without Qt's German catalogue: real requests over loopback that fail the
// ways the app meets.

#include "client/networkerrortext.h"
#include "client/transport.h"
#include "modelfixture.h"

#include <QNetworkProxy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

using namespace testsupport;
using E = QNetworkReply::NetworkError;

namespace {

// A loopback port nobody listens on.
quint16 closedPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

// `url` names the port to use: the devserver's (PORT), one nobody listens on
// (CLOSED), or one that reads the request and hangs up (CLOSER).
struct Trouble {
    const char *name;
    QString url;
    E error;
    QString text;
    bool refusingProxy = false;
    int status = 0; // the devserver's answer instead of its own
};

} // namespace

class NetworkTextTest : public QObject {
    Q_OBJECT

    ModelFixture m_fixture;
    QTcpServer m_closer;

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_fixture.started());
        QVERIFY(m_closer.listen(QHostAddress::LocalHost));
        connect(&m_closer, &QTcpServer::newConnection, this, [this] {
            QTcpSocket *socket = m_closer.nextPendingConnection();
            connect(socket, &QTcpSocket::readyRead, socket, &QTcpSocket::disconnectFromHost);
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        });
    }

    void ownTexts_data() {
        rows<Trouble>({
            {"connection refused", "http://127.0.0.1:CLOSED", E::ConnectionRefusedError,
             "Der Server 127.0.0.1 hat die Verbindung abgelehnt. Bitte die Adresse prüfen oder "
             "später erneut versuchen."},
            {"host not found", "http://zeit.velmora.invalid:PORT", E::HostNotFoundError,
             "Der Server zeit.velmora.invalid wurde nicht gefunden. Bitte die Adresse und die "
             "Internetverbindung prüfen."},
            {"closed before answering", "http://127.0.0.1:CLOSER", E::RemoteHostClosedError,
             "Der Server 127.0.0.1 hat die Verbindung unerwartet beendet. Bitte erneut "
             "versuchen."},
            {"https to a plain server", "https://127.0.0.1:PORT", E::SslHandshakeFailedError,
             "Keine sichere Verbindung zu 127.0.0.1 möglich: Das Zertifikat des Servers wurde "
             "nicht angenommen oder die Verschlüsselung passt nicht. Bitte die Adresse prüfen."},
            {"proxy refuses", "http://127.0.0.1:PORT", E::UnknownNetworkError,
             "Keine Verbindung zum Server 127.0.0.1. Bitte die Internetverbindung und die "
             "Proxy-Einstellungen prüfen und erneut versuchen.",
             true},
            {"status 600", "http://127.0.0.1:PORT", E::UnknownServerError,
             "Der Server 127.0.0.1 hat keine gültige Antwort gesendet. Bitte später erneut "
             "versuchen.",
             false, 600},
        });
    }

    // The same texts with Qt's German catalogue loaded, as the app has it.
    void ownTexts() {
        FETCH_ROW(Trouble);
        for (const bool catalogue : {false, true}) {
            if (catalogue)
                QVERIFY(loadQtGermanTranslations());
            const QString url = QString(row.url)
                                    .replace("CLOSED", QString::number(closedPort()))
                                    .replace("CLOSER", QString::number(m_closer.serverPort()))
                                    .replace("PORT", QString::number(m_fixture.server().port()));
            Transport transport;
            if (row.refusingProxy)
                transport.manager()->setProxy(
                    QNetworkProxy(QNetworkProxy::Socks5Proxy, "127.0.0.1", closedPort()));
            if (row.status)
                m_fixture.server().setFault("/api/state", Fault{.status = row.status, .times = 1});
            const auto outcome = awaitTask(
                transport.send(QNetworkRequest(QUrl(url + "/api/state")), "GET", std::nullopt));
            const auto failure = outcome.failure<TransportError>();
            QVERIFY2(failure, qPrintable(outcome.errorText()));
            QCOMPARE(failure->error(), row.error);
            QCOMPARE(failure->description(), row.text);
        }
    }
};

QTEST_GUILESS_MAIN(NetworkTextTest)
#include "tst_networktext.moc"
