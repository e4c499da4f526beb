#include "desktop/waylandidle.h"

#include "client/logging.h"

#include <QSocketNotifier>
#include <cstring>
#include <wayland-client.h>

#include "wayland-ext-idle-notify-v1-client-protocol.h"
#include "wayland-idle-client-protocol.h"

struct WaylandIdle::Private {
    WaylandIdle *q = nullptr;
    wl_display *display = nullptr;
    wl_registry *registry = nullptr;
    wl_seat *seat = nullptr;
    ext_idle_notifier_v1 *notifier = nullptr;
    org_kde_kwin_idle *kwinIdle = nullptr;
    // The one watch for the threshold now.
    ext_idle_notification_v1 *notification = nullptr;
    org_kde_kwin_idle_timeout *kwinTimeout = nullptr;
    std::chrono::milliseconds threshold{0};
    std::unique_ptr<QSocketNotifier> readable;

    void idled() { Q_EMIT q->idle(QDateTime::currentDateTimeUtc().addMSecs(-threshold.count())); }
    void resumed() { Q_EMIT q->active(); }

    void release() {
        if (notification)
            ext_idle_notification_v1_destroy(std::exchange(notification, nullptr));
        if (kwinTimeout)
            org_kde_kwin_idle_timeout_release(std::exchange(kwinTimeout, nullptr));
    }

    // Whatever was bound, also when the compositor offered too little.
    ~Private() {
        readable.reset();
        release();
        if (notifier)
            ext_idle_notifier_v1_destroy(notifier);
        if (kwinIdle)
            org_kde_kwin_idle_destroy(kwinIdle);
        if (seat)
            wl_seat_destroy(seat);
        if (registry)
            wl_registry_destroy(registry);
        if (display)
            wl_display_disconnect(display);
    }
};

namespace {

using Private = WaylandIdle::Private;

void global(void *data, wl_registry *registry, uint32_t name, const char *interface, uint32_t) {
    auto *d = static_cast<Private *>(data);
    const auto bind = [&](const wl_interface &kind) {
        return wl_registry_bind(registry, name, &kind, 1);
    };
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && !d->seat)
        d->seat = static_cast<wl_seat *>(bind(wl_seat_interface));
    else if (std::strcmp(interface, ext_idle_notifier_v1_interface.name) == 0 && !d->notifier)
        d->notifier = static_cast<ext_idle_notifier_v1 *>(bind(ext_idle_notifier_v1_interface));
    else if (std::strcmp(interface, org_kde_kwin_idle_interface.name) == 0 && !d->kwinIdle)
        d->kwinIdle = static_cast<org_kde_kwin_idle *>(bind(org_kde_kwin_idle_interface));
}
void globalRemove(void *, wl_registry *, uint32_t) {}
const wl_registry_listener registryListener{global, globalRemove};

const ext_idle_notification_v1_listener notificationListener{
    [](void *data, ext_idle_notification_v1 *) { static_cast<Private *>(data)->idled(); },
    [](void *data, ext_idle_notification_v1 *) { static_cast<Private *>(data)->resumed(); }};
const org_kde_kwin_idle_timeout_listener kwinTimeoutListener{
    [](void *data, org_kde_kwin_idle_timeout *) { static_cast<Private *>(data)->idled(); },
    [](void *data, org_kde_kwin_idle_timeout *) { static_cast<Private *>(data)->resumed(); }};

} // namespace

std::unique_ptr<WaylandIdle> WaylandIdle::create() {
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return nullptr;
    auto d = std::make_unique<Private>();
    d->display = wl_display_connect(nullptr);
    if (!d->display)
        return nullptr;
    d->registry = wl_display_get_registry(d->display);
    wl_registry_add_listener(d->registry, &registryListener, d.get());
    wl_display_roundtrip(d->display);
    if (d->seat && (d->notifier || d->kwinIdle)) {
        qCDebug(lcTray) << "idle time from the compositor:"
                        << (d->notifier ? "ext_idle_notifier_v1" : "org_kde_kwin_idle");
        return std::unique_ptr<WaylandIdle>(new WaylandIdle(std::move(d)));
    }
    return nullptr;
}

WaylandIdle::WaylandIdle(std::unique_ptr<Private> private_)
    : d(std::move(private_)) {
    d->q = this;
    d->readable =
        std::make_unique<QSocketNotifier>(wl_display_get_fd(d->display), QSocketNotifier::Read);
    connect(d->readable.get(), &QSocketNotifier::activated, this, &WaylandIdle::readEvents);
}

WaylandIdle::~WaylandIdle() = default;

void WaylandIdle::setThreshold(std::chrono::milliseconds threshold) {
    d->release();
    d->threshold = threshold;
    if (threshold.count() > 0) {
        const auto timeout = uint32_t(threshold.count());
        if (d->notifier) {
            d->notification =
                ext_idle_notifier_v1_get_idle_notification(d->notifier, timeout, d->seat);
            ext_idle_notification_v1_add_listener(d->notification, &notificationListener, d.get());
        } else {
            d->kwinTimeout = org_kde_kwin_idle_get_idle_timeout(d->kwinIdle, d->seat, timeout);
            org_kde_kwin_idle_timeout_add_listener(d->kwinTimeout, &kwinTimeoutListener, d.get());
        }
    }
    wl_display_flush(d->display);
}

void WaylandIdle::readEvents() {
    if (wl_display_dispatch(d->display) < 0) {
        qCDebug(lcTray) << "the compositor went away; no idle time from it";
        d->readable->setEnabled(false);
    }
}
