// The transport's handling of a raw HTTP answer: a loopback server sends the
// input as the whole answer and closes, and Transport::send reads it as for
// any request. It ends with an answer within the size cap or a
// TransportError with a text; nothing else escapes and nothing hangs.

#include "client/failure.h"
#include "client/transport.h"
#include "rules.h"

#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTranslator>

using namespace fuzzrules;
using namespace std::chrono_literals;

namespace {

QTcpServer *server = nullptr;
Transport *transport = nullptr;
QByteArray answer;

struct Ending {
    std::optional<HttpAnswer> answer;
    std::optional<TransportError> failure;
};

// Never throws, so waitFor cannot hang on an exception.
QCoro::Task<Ending> fetch() {
    Ending ending;
    QNetworkRequest request(
        QUrl(QStringLiteral("http://127.0.0.1:%1/api/state").arg(server->serverPort())));
    try {
        ending.answer = co_await transport->send(request, "GET", std::nullopt);
    } catch (const TransportError &e) {
        ending.failure = e;
    }
    co_return ending;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    static QCoreApplication app(*argc, *argv);
    static QTranslator qtGerman;
    if (qtGerman.load(QLocale(QLocale::German), QStringLiteral("qtbase"), QStringLiteral("_"),
                      QStringLiteral("/usr/share/qt6/translations")))
        QCoreApplication::installTranslator(&qtGerman);
    server = new QTcpServer;
    if (!server->listen(QHostAddress::LocalHost))
        broken("cannot listen on loopback");
    QObject::connect(server, &QTcpServer::newConnection, [] {
        while (QTcpSocket *socket = server->nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            socket->write(answer);
            socket->disconnectFromHost();
        }
    });
    transport = new Transport;
    transport->limits = {1s, 2s, 64 * 1024};
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    answer = QByteArray(reinterpret_cast<const char *>(data), qsizetype(size));
    const Ending ending = QCoro::waitFor(fetch());
    if (ending.failure) {
        require(!ending.failure->description().trimmed().isEmpty(),
                "transport failure without text");
    } else {
        require(ending.answer.has_value(), "neither an answer nor a failure");
        require(ending.answer->status >= 100 && ending.answer->status <= 599,
                "answer with an impossible status", QString::number(ending.answer->status));
        require(ending.answer->body.size() <= transport->limits.maxBodyBytes,
                "answer larger than the cap");
    }
    // Connections Qt keeps for reuse would carry one input's bytes into the next.
    transport->manager()->clearConnectionCache();
    return 0;
}
