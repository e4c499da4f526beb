#pragma once
// sway places every window itself and tells a client nothing of the pointer,
// so a panel it placed would cover the icon and the bar. Its IPC socket
// (SWAYSOCK) takes commands for our own windows: that is how the panel goes
// beside the icon there.

#include <QCoro/QCoroTask>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <optional>

class QJsonValue;

namespace sway {

// The IPC socket of the sway session the app runs in, or empty.
QString socketPath();

// In sway's tree (get_tree): the rectangle of the visible window of process
// `pid` with `appId`, and the id of its container.
struct Window {
    qint64 id = 0;
    QRect rect;
};
std::optional<Window> findWindow(const QJsonValue &tree, qint64 pid, const QString &appId);

// The area of the focused workspace (get_workspaces): the output less its bars.
QRect focusedWorkspace(const QJsonValue &workspaces);

// Floats our shown panel of `size` without a frame and moves it beside
// `click`, or beside the pointer where the host sent no usable point. Returns
// the point it went beside; none when sway did not answer.
QCoro::Task<std::optional<QPoint>> placePanel(std::optional<QPoint> click, QSize size);

} // namespace sway
