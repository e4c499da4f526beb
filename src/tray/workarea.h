#pragma once
// The part of the screen that bars and docks leave free. Qt knows it on X11;
// on Wayland no protocol tells a client, so the panel would slide under a
// bottom bar. KWin publishes it for X clients on its XWayland root, which a
// native Wayland client can read as well.

#include <QByteArray>
#include <QRect>
#include <optional>

// The work area of the current desktop from the X server at `display`
// (_NET_WORKAREA on its root window), or none when there is no such server
// or it does not say.
std::optional<QRect> xWorkArea(const QByteArray &display);
