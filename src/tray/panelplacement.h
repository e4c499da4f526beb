#pragma once
// Where the panel opens, decided per kind of desktop session. On X11 a window
// places itself; on Wayland only the compositor does, and a client learns
// nothing of the pointer outside its own windows, so the click's point that
// the tray host sends is the one thing to go by.

#include <QList>
#include <QPoint>
#include <QRect>
#include <QString>
#include <optional>

enum class SessionKind {
    X11,          // an X server of its own: the pointer can be asked
    XWayland,     // X11 inside a Wayland session: windows may be moved, but
                  // the pointer Qt reports is stale
    KWinWayland,  // native Wayland with KWin's plasma shell to place windows
    Sway,         // native Wayland on sway: its IPC socket moves our windows
    OtherWayland, // Hyprland, …: the compositor places the panel
    Offscreen,    // no screen at all (tests)
};

// The session the app runs in, from Qt's platform and the environment;
// `plasmaShell`: KWin offers its window placement to us; `swaySocket`: sway's
// IPC socket is known.
SessionKind sessionKind(const QString &platformName, bool waylandDisplaySet,
                        const QString &sessionType, bool plasmaShell, bool swaySocket = false);

// How the panel gets to its place.
enum class PlacementMethod {
    Move,          // the window moves itself (X11, XWayland, offscreen)
    PlasmaSurface, // asks KWin through org_kde_plasma_surface.set_position
    SwayIpc,       // asks sway over its socket; without an anchor, at the pointer
    Compositor,    // left to the compositor (a window rule may float it)
};

struct Placement {
    PlacementMethod method = PlacementMethod::Move;
    // What the panel opens beside: the icon, a 1 x 1 rect at the click (or
    // the pointer), or empty for the screen's top-right corner.
    QRect anchor;
};

// A screen as Qt has it: device-independent geometry and its scale.
struct ScreenScale {
    QRect geometry;
    qreal scale = 1;
};

// A point in the X server's pixels in Qt's device-independent units: Qt keeps
// each screen's top-left corner and divides the rest by the screen's scale.
// Outside every screen, the first one's scale counts.
QPoint fromDevicePixels(QPoint point, const QList<ScreenScale> &screens);

// `icon`: the icon's geometry where the tray says it (XEmbed), else empty;
// `click`: the point a StatusNotifier host sent with its click, if usable
// (in X pixels on X11 and XWayland, converted with `screens`);
// `pointer`: where the pointer is, asked only where that is trustworthy.
Placement panelPlacement(SessionKind session, const QRect &icon, std::optional<QPoint> click,
                         std::optional<QPoint> pointer, const QList<ScreenScale> &screens = {});

// The point a StatusNotifier host sent with a click, where it can be used.
// Hosts send global coordinates, but waybar and other hosts on wlroots
// compositors send them relative to the icon, which lands them within 64 px
// of the origin; only there is such a point dropped. (0, 0) is what hosts
// send when they have no point, such as "Öffnen" in their own menu.
std::optional<QPoint> usableClick(SessionKind session, QPoint point);

// Whether Qt's idea of the pointer may be used in `session`.
bool pointerTrusted(SessionKind session);

// GNOME on Wayland: the app runs on XWayland there, where it may place its
// windows, when the user has not chosen a platform. Returns the platform to
// use, or empty to leave Qt's choice.
QString preferredPlatform(const QString &currentDesktop, bool displaySet, bool waylandDisplaySet,
                          bool platformChosen);
