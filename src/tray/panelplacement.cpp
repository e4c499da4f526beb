#include "tray/panelplacement.h"

#include <QStringList>

SessionKind sessionKind(const QString &platformName, bool waylandDisplaySet,
                        const QString &sessionType, bool plasmaShell, bool swaySocket) {
    if (platformName.startsWith(QLatin1String("wayland"))) {
        return plasmaShell  ? SessionKind::KWinWayland
               : swaySocket ? SessionKind::Sway
                            : SessionKind::OtherWayland;
    }
    if (platformName == QLatin1String("xcb"))
        return waylandDisplaySet || sessionType == QLatin1String("wayland") ? SessionKind::XWayland
                                                                            : SessionKind::X11;
    return SessionKind::Offscreen;
}

std::optional<QPoint> usableClick(SessionKind session, QPoint point) {
    constexpr int relativeRadius = 64;
    const bool nearOrigin = point.x() >= 0 && point.y() >= 0 && point.x() <= relativeRadius &&
                            point.y() <= relativeRadius;
    const bool wlroots = session == SessionKind::Sway || session == SessionKind::OtherWayland;
    if (point.isNull() || (nearOrigin && wlroots))
        return std::nullopt;
    return point;
}

bool pointerTrusted(SessionKind session) {
    return session == SessionKind::X11;
}

QPoint fromDevicePixels(QPoint point, const QList<ScreenScale> &screens) {
    if (screens.isEmpty())
        return point;
    const auto inPixels = [](const ScreenScale &screen) {
        return QRect(screen.geometry.topLeft(), screen.geometry.size() * screen.scale);
    };
    ScreenScale screen = screens.first();
    for (const ScreenScale &candidate : screens) {
        if (inPixels(candidate).contains(point)) {
            screen = candidate;
            break;
        }
    }
    const QPoint origin = screen.geometry.topLeft();
    return origin + (point - origin) / screen.scale;
}

Placement panelPlacement(SessionKind session, const QRect &icon, std::optional<QPoint> click,
                         std::optional<QPoint> pointer, const QList<ScreenScale> &screens) {
    Placement placement;
    switch (session) {
    case SessionKind::KWinWayland:
        placement.method = PlacementMethod::PlasmaSurface;
        break;
    case SessionKind::Sway:
        placement.method = PlacementMethod::SwayIpc;
        if (click)
            placement.anchor = QRect(*click, QSize(1, 1));
        return placement; // else sway knows the pointer
    case SessionKind::OtherWayland:
        // Nothing we could say would be heard.
        placement.method = PlacementMethod::Compositor;
        return placement;
    default:
        placement.method = PlacementMethod::Move;
        break;
    }
    if (!icon.isEmpty())
        placement.anchor = icon;
    else if (click && placement.method == PlacementMethod::Move)
        placement.anchor = QRect(fromDevicePixels(*click, screens), QSize(1, 1));
    else if (click)
        placement.anchor = QRect(*click, QSize(1, 1));
    else if (pointer && pointerTrusted(session))
        placement.anchor = QRect(*pointer, QSize(1, 1));
    return placement;
}

QString preferredPlatform(const QString &currentDesktop, bool displaySet, bool waylandDisplaySet,
                          bool platformChosen) {
    if (platformChosen || !displaySet || !waylandDisplaySet)
        return {};
    const auto desktops = currentDesktop.split(QLatin1Char(':'));
    for (const QString &desktop : desktops) {
        if (desktop.compare(QLatin1String("GNOME"), Qt::CaseInsensitive) == 0)
            return QStringLiteral("xcb");
    }
    return {};
}
