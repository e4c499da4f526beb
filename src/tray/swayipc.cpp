#include "tray/swayipc.h"

#include "client/logging.h"
#include "tray/panelwindow.h"

#include <QCoreApplication>
#include <QCoro/QCoroLocalSocket>
#include <QCoro/QCoroTimer>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QtEndian>

namespace sway {

namespace {

enum MessageType : quint32 { RunCommand = 0, GetWorkspaces = 1, GetTree = 4 };

constexpr QByteArrayView magic = "i3-ipc";
constexpr qsizetype headerSize = 6 + 4 + 4;
constexpr auto answerWait = std::chrono::milliseconds(1000);
// sway maps a new window a moment after Qt shows it.
constexpr int mapTries = 25;
constexpr auto mapRetry = std::chrono::milliseconds(20);

// One request and its answer; null when sway did not answer in time.
QCoro::Task<QJsonDocument> ask(QLocalSocket &socket, MessageType type, QByteArray payload) {
    QByteArray message = magic.toByteArray();
    const quint32 length = quint32(payload.size());
    message.append(reinterpret_cast<const char *>(&length), 4);
    message.append(reinterpret_cast<const char *>(&type), 4);
    message.append(payload);
    socket.write(message);
    QByteArray answer;
    quint32 answerLength = 0;
    while (answer.size() < headerSize || answer.size() < headerSize + qsizetype(answerLength)) {
        if (!socket.bytesAvailable() && !co_await qCoro(socket).waitForReadyRead(answerWait))
            co_return {};
        answer += socket.readAll();
        if (answer.size() >= headerSize)
            answerLength = qFromUnaligned<quint32>(answer.constData() + 6);
    }
    co_return QJsonDocument::fromJson(answer.mid(headerSize, answerLength));
}

QCoro::Task<std::optional<Window>> ownPanel(QLocalSocket &socket) {
    const QString appId = QGuiApplication::desktopFileName();
    for (int tries = 0; tries < mapTries; ++tries) {
        const QJsonDocument tree = co_await ask(socket, GetTree, {});
        if (tree.isNull())
            co_return std::nullopt;
        if (auto window = findWindow(tree.object(), QCoreApplication::applicationPid(), appId))
            co_return window;
        co_await QCoro::sleepFor(mapRetry);
    }
    co_return std::nullopt;
}

// Floats the panel without a frame; `toPointer`: centres it on the pointer.
QByteArray floatCommand(qint64 id, bool toPointer) {
    return QStringLiteral("[con_id=%1] floating enable, border none%2")
        .arg(id)
        .arg(toPointer ? QStringLiteral(", move position cursor") : QString())
        .toUtf8();
}

QByteArray moveCommand(qint64 id, QPoint position) {
    return QStringLiteral("[con_id=%1] move absolute position %2 %3")
        .arg(id)
        .arg(position.x())
        .arg(position.y())
        .toUtf8();
}

// sway centres the panel on the pointer but keeps it on the screen, so
// the centre tells the pointer's side, not its place. The icon sits in a bar
// on that side: the panel goes to the edge of the free area there.
QPoint barEdgeNear(QPoint centre, const QRect &available) {
    const bool bottom = centre.y() > available.center().y();
    return {centre.x(), bottom ? available.bottom() + 1 : available.top() - 1};
}

} // namespace

QString socketPath() {
    return qEnvironmentVariable("SWAYSOCK");
}

std::optional<Window> findWindow(const QJsonValue &tree, qint64 pid, const QString &appId) {
    const QJsonObject node = tree.toObject();
    if (node.value(u"pid").toInteger() == pid && node.value(u"app_id").toString() == appId &&
        node.value(u"visible").toBool()) {
        const QJsonObject rect = node.value(u"rect").toObject();
        return Window{node.value(u"id").toInteger(),
                      QRect(rect.value(u"x").toInt(), rect.value(u"y").toInt(),
                            rect.value(u"width").toInt(), rect.value(u"height").toInt())};
    }
    for (const char16_t *children : {u"nodes", u"floating_nodes"}) {
        for (const QJsonValue child : node.value(QStringView(children)).toArray()) {
            if (auto window = findWindow(child, pid, appId))
                return window;
        }
    }
    return std::nullopt;
}

QRect focusedWorkspace(const QJsonValue &workspaces) {
    for (const QJsonValue workspace : workspaces.toArray()) {
        if (!workspace.toObject().value(u"focused").toBool())
            continue;
        const QJsonObject rect = workspace.toObject().value(u"rect").toObject();
        return QRect(rect.value(u"x").toInt(), rect.value(u"y").toInt(),
                     rect.value(u"width").toInt(), rect.value(u"height").toInt());
    }
    return {};
}

QCoro::Task<std::optional<QPoint>> placePanel(std::optional<QPoint> click, QSize size) {
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!co_await qCoro(socket).waitForConnected(answerWait)) {
        qCDebug(lcTray) << "sway's socket does not answer:" << socket.errorString();
        co_return std::nullopt;
    }
    std::optional<Window> panel = co_await ownPanel(socket);
    if (!panel)
        co_return std::nullopt;
    // Without a point, sway knows where the pointer is: it centres the panel
    // there, and where it went tells us.
    co_await ask(socket, RunCommand, floatCommand(panel->id, !click));
    const QJsonDocument workspaces = co_await ask(socket, GetWorkspaces, {});
    const QRect available = focusedWorkspace(workspaces.array());
    if (available.isEmpty())
        co_return std::nullopt;
    if (!click) {
        panel = co_await ownPanel(socket);
        if (!panel)
            co_return std::nullopt;
        click = barEdgeNear(panel->rect.center(), available);
    }
    const QPoint position = panelPosition(QRect(*click, QSize(1, 1)), size, available);
    co_await ask(socket, RunCommand, moveCommand(panel->id, position));
    qCDebug(lcTray) << "sway: panel at" << position << "beside" << *click << "size" << size << "was"
                    << panel->rect;
    co_return click;
}

} // namespace sway
