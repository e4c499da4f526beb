#include "tray/plasmashell.h"

#include "client/logging.h"

#include <QGuiApplication>
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
    // The plasma surface of the window's current wl_surface.
    wl_surface *surface = nullptr;
    org_kde_plasma_surface *plasmaSurface = nullptr;
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
    if (d->plasmaSurface)
        org_kde_plasma_surface_destroy(d->plasmaSurface);
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
    if (surface != d->surface) {
        release();
        d->surface = surface;
        d->plasmaSurface = org_kde_plasma_shell_get_surface(d->shell, surface);
    }
    org_kde_plasma_surface_set_skip_taskbar(d->plasmaSurface, 1);
    if (d->version >= 5)
        org_kde_plasma_surface_set_skip_switcher(d->plasmaSurface, 1);
    org_kde_plasma_surface_set_position(d->plasmaSurface, position.x(), position.y());
    wl_display_flush(d->display);
}

void PlasmaShell::release() {
    if (!d->plasmaSurface)
        return;
    org_kde_plasma_surface_destroy(d->plasmaSurface);
    d->plasmaSurface = nullptr;
    d->surface = nullptr;
    wl_display_flush(d->display);
}
