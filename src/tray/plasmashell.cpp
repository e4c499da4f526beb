#include "tray/plasmashell.h"

#include "client/logging.h"

#include <QGuiApplication>
#include <QHash>
#include <QWindow>
#include <qpa/qplatformnativeinterface.h>

#include <wayland-client.h>

#include "wayland-plasma-shell-client-protocol.h"

#include <algorithm>
#include <cstring>

struct PlasmaShell::Private {
    wl_display *display = nullptr;
    wl_event_queue *queue = nullptr;
    wl_registry *registry = nullptr;
    org_kde_plasma_shell *shell = nullptr;
    uint32_t version = 0;
    // Per window (the panel, the tray menu): the plasma surface of its
    // current wl_surface.
    struct Attached {
        wl_surface *surface = nullptr;
        org_kde_plasma_surface *plasmaSurface = nullptr;
    };
    QHash<const QWindow *, Attached> attached;
};

namespace {

void global(void *data, wl_registry *registry, uint32_t name, const char *interface,
            uint32_t version) {
    auto *d = static_cast<PlasmaShell::Private *>(data);
    if (std::strcmp(interface, org_kde_plasma_shell_interface.name) != 0 || d->shell)
        return;
    // 5 brings set_skip_switcher; nothing later is needed.
    d->version = std::min<uint32_t>(version, 5);
    d->shell = static_cast<org_kde_plasma_shell *>(
        wl_registry_bind(registry, name, &org_kde_plasma_shell_interface, d->version));
}

void globalRemove(void *, wl_registry *, uint32_t) {}

const wl_registry_listener registryListener{global, globalRemove};

} // namespace

PlasmaShell *PlasmaShell::instance() {
    static PlasmaShell *shell = []() -> PlasmaShell * {
        if (!QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
            return nullptr;
        auto *shell = new PlasmaShell;
        if (!shell->d->shell) {
            delete shell;
            return nullptr;
        }
        return shell;
    }();
    return shell;
}

PlasmaShell::PlasmaShell()
    : d(std::make_unique<Private>()) {
    QPlatformNativeInterface *native = QGuiApplication::platformNativeInterface();
    d->display = native ? static_cast<wl_display *>(
                              native->nativeResourceForIntegration(QByteArrayLiteral("wl_display")))
                        : nullptr;
    if (!d->display)
        return;
    // A queue of our own: Qt's queue and its dispatching stay untouched.
    d->queue = wl_display_create_queue(d->display);
    d->registry = wl_display_get_registry(d->display);
    wl_proxy_set_queue(reinterpret_cast<wl_proxy *>(d->registry), d->queue);
    wl_registry_add_listener(d->registry, &registryListener, d.get());
    wl_display_roundtrip_queue(d->display, d->queue);
    qCDebug(lcTray) << "plasma shell" << (d->shell ? "offered, version" : "not offered")
                    << d->version;
}

PlasmaShell::~PlasmaShell() {
    for (const Private::Attached &attached : std::as_const(d->attached))
        org_kde_plasma_surface_destroy(attached.plasmaSurface);
    if (d->shell)
        org_kde_plasma_shell_destroy(d->shell);
    if (d->registry)
        wl_registry_destroy(d->registry);
    if (d->queue)
        wl_event_queue_destroy(d->queue);
}

void PlasmaShell::place(QWindow *window, QPoint position) {
    QPlatformNativeInterface *native = QGuiApplication::platformNativeInterface();
    auto *surface = static_cast<wl_surface *>(
        native->nativeResourceForWindow(QByteArrayLiteral("surface"), window));
    if (!surface)
        return;
    if (d->attached.value(window).surface != surface) {
        release(window);
        d->attached.insert(window, {surface, org_kde_plasma_shell_get_surface(d->shell, surface)});
    }
    org_kde_plasma_surface *plasmaSurface = d->attached.value(window).plasmaSurface;
    org_kde_plasma_surface_set_skip_taskbar(plasmaSurface, 1);
    if (d->version >= 5)
        org_kde_plasma_surface_set_skip_switcher(plasmaSurface, 1);
    org_kde_plasma_surface_set_position(plasmaSurface, position.x(), position.y());
    wl_display_flush(d->display);
}

void PlasmaShell::release(const QWindow *window) {
    const auto found = d->attached.constFind(window);
    if (found == d->attached.cend())
        return;
    org_kde_plasma_surface_destroy(found->plasmaSurface);
    d->attached.erase(found);
    wl_display_flush(d->display);
}
