#include "desktop/singleinstance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

constexpr QByteArrayView showCommand = "show\n";
constexpr int connectTimeoutMs = 1000;
// A start carries its note: up to 32,767 characters, 3 bytes each at most.
constexpr qsizetype maxCommandBytes = 128 * 1024;

} // namespace

SingleInstance::SingleInstance(QString name, QObject *parent)
    : QObject(parent)
    , m_name(std::move(name)) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultName() {
#ifdef Q_OS_UNIX
    const QString user = QString::number(::getuid());
    // The runtime folder belongs to the user alone; the temp folder is shared.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir(runtime).exists())
        return QDir(runtime).filePath(QStringLiteral("velmora-zeit-") + user);
    return QStringLiteral("velmora-zeit-") + user;
#else
    QString user = qEnvironmentVariable("USERNAME");
    if (user.isEmpty())
        user = QDir::home().dirName();
    return QStringLiteral("velmora-zeit-") + user;
#endif
}

QString SingleInstance::serverPath() const {
    return m_server ? m_server->fullServerName() : QString();
}

bool SingleInstance::handOver(bool show) {
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(connectTimeoutMs))
        return false;
    bool sent = true;
    if (show) {
        socket.write(showCommand.data(), showCommand.size());
        sent = socket.waitForBytesWritten(connectTimeoutMs);
    }
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(connectTimeoutMs);
    return sent;
}

SingleInstance::Role SingleInstance::claim(bool show) {
    if (m_server)
        return Role::First;
    // Two tries: a second start racing us may take the name between our
    // failed connect and our listen.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (handOver(show))
            return Role::HandedOver;
        // No socket options: with them Qt renames its socket over an
        // existing one, and a racing second start would take the name.
        auto *server = new QLocalServer(this);
        if (server->listen(m_name)) {
            m_server = server;
            connect(m_server, &QLocalServer::newConnection, this,
                    &SingleInstance::acceptConnections);
            return Role::First;
        }
        const bool inUse = server->serverError() == QAbstractSocket::AddressInUseError;
        delete server;
        if (!inUse)
            break;
        // Nobody answered on it, so the socket is a leftover of a crashed
        // run; only then may it go.
        if (!handOver(show))
            QLocalServer::removeServer(m_name);
        else
            return Role::HandedOver;
    }
    return Role::Alone;
}

void SingleInstance::acceptConnections() {
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        const auto readCommands = [this, socket] {
            while (socket->canReadLine()) {
                const QByteArray line = socket->readLine(maxCommandBytes).trimmed();
                if (line == "show")
                    Q_EMIT showRequested();
                else if (m_handler)
                    respond(socket, line);
            }
            // Whoever sends more than a command is not one of us.
            if (socket->bytesAvailable() > maxCommandBytes)
                socket->abort();
        };
        connect(socket, &QLocalSocket::readyRead, socket, readCommands);
        // The sender closes right after writing; what it wrote still counts.
        connect(socket, &QLocalSocket::disconnected, socket, [socket, readCommands] {
            readCommands();
            socket->deleteLater();
        });
        readCommands();
    }
}

QCoro::Task<> SingleInstance::respond(QPointer<QLocalSocket> socket, QByteArray command) {
    const CommandAnswer answer = co_await m_handler(command);
    // The asking process may have given up meanwhile.
    if (!socket || socket->state() != QLocalSocket::ConnectedState)
        co_return;
    socket->write(QByteArray::number(answer.exitCode) + '\n' + answer.text);
    socket->disconnectFromServer();
}

std::optional<CommandAnswer> SingleInstance::ask(const QString &name, const QByteArray &command,
                                                 int timeoutMs) {
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(connectTimeoutMs))
        return std::nullopt;
    socket.write(command + '\n');
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(connectTimeoutMs))
            return std::nullopt;
    }
    // The answer ends when the instance closes the connection.
    QByteArray reply;
    QDeadlineTimer deadline(timeoutMs);
    while (socket.state() == QLocalSocket::ConnectedState && !deadline.hasExpired()) {
        socket.waitForReadyRead(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())));
        reply += socket.readAll();
    }
    reply += socket.readAll();
    const qsizetype end = reply.indexOf('\n');
    bool ok = false;
    const int code = reply.left(end).toInt(&ok);
    if (end < 0 || !ok)
        return std::nullopt;
    return CommandAnswer{code, reply.mid(end + 1)};
}
