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

namespace {

enum class Trouble { Refused, UnknownHost, ClosedAtOnce, NotTls, ProxyRefused, OddStatus };

// A loopback port nobody listens on.
quint16 closedPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

} // namespace

class NetworkTextTest : public QObject {
    Q_OBJECT

    ModelFixture m_fixture;
    QTcpServer m_closer; // reads the request, then hangs up

    TransportError failureFor(Trouble trouble) {
        Transport transport;
        QUrl url(m_fixture.server().baseUrl() + QStringLiteral("/api/state"));
        switch (trouble) {
        case Trouble::Refused:
            url.setPort(closedPort());
            break;
        case Trouble::UnknownHost:
            url.setHost(QStringLiteral("zeit.velmora.invalid"));
            break;
        case Trouble::ClosedAtOnce:
            url.setPort(m_closer.serverPort());
            break;
        case Trouble::NotTls:
            url.setScheme(QStringLiteral("https"));
            break;
        case Trouble::OddStatus:
            m_fixture.server().setFault(QStringLiteral("/api/state"),
                                        Fault{.status = 600, .body = "{}", .times = 1});
            break;
        case Trouble::ProxyRefused:
            transport.manager()->setProxy(QNetworkProxy(QNetworkProxy::Socks5Proxy,
                                                        QStringLiteral("127.0.0.1"), closedPort()));
            break;
        }
        const auto outcome = awaitTask(transport.send(QNetworkRequest(url), "GET", std::nullopt));
        if (const auto failure = outcome.failure<TransportError>())
            return *failure;
        qWarning() << "no transport failure:" << outcome.errorText();
        return TransportError(QNetworkReply::NoError, QString());
    }

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
        QTest::addColumn<Trouble>("trouble");
        QTest::addColumn<QNetworkReply::NetworkError>("error");
        QTest::addColumn<QString>("text");
        QTest::newRow("connection refused")
            << Trouble::Refused << QNetworkReply::ConnectionRefusedError
            << "Der Server 127.0.0.1 hat die Verbindung abgelehnt. Bitte die Adresse prüfen oder "
               "später erneut versuchen.";
        QTest::newRow("host not found")
            << Trouble::UnknownHost << QNetworkReply::HostNotFoundError
            << "Der Server zeit.velmora.invalid wurde nicht gefunden. Bitte die Adresse und die "
               "Internetverbindung prüfen.";
        QTest::newRow("closed before answering")
            << Trouble::ClosedAtOnce << QNetworkReply::RemoteHostClosedError
            << "Der Server 127.0.0.1 hat die Verbindung unerwartet beendet. Bitte erneut "
               "versuchen.";
        QTest::newRow("https to a plain server")
            << Trouble::NotTls << QNetworkReply::SslHandshakeFailedError
            << "Keine sichere Verbindung zu 127.0.0.1 möglich: Das Zertifikat des Servers wurde "
               "nicht angenommen oder die Verschlüsselung passt nicht. Bitte die Adresse prüfen.";
        QTest::newRow("proxy refuses")
            << Trouble::ProxyRefused << QNetworkReply::UnknownNetworkError
            << "Keine Verbindung zum Server 127.0.0.1. Bitte die Internetverbindung und die "
               "Proxy-Einstellungen prüfen und erneut versuchen.";
        QTest::newRow("status 600")
            << Trouble::OddStatus << QNetworkReply::UnknownServerError
            << "Der Server 127.0.0.1 hat keine gültige Antwort gesendet. Bitte später erneut "
               "versuchen.";
    }

    // The same texts with Qt's German catalogue loaded, as the app has it.
    void ownTexts() {
        QFETCH(Trouble, trouble);
        QFETCH(QNetworkReply::NetworkError, error);
        QFETCH(QString, text);
        for (const bool catalogue : {false, true}) {
            if (catalogue)
                QVERIFY(loadQtGermanTranslations());
            const TransportError failure = failureFor(trouble);
            QCOMPARE(failure.error(), error);
            QCOMPARE(failure.description(), text);
        }
    }
};

QTEST_GUILESS_MAIN(NetworkTextTest)
#include "tst_networktext.moc"
