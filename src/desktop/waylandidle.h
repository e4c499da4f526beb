#pragma once
// The Wayland compositor's idle time: ext_idle_notifier_v1 (KWin 5.27, sway
// 1.8 and later) or else KWin's org_kde_kwin_idle (sway 1.7 too). A
// connection of its own, so it also serves an app that runs on XWayland
// inside a Wayland session, where the X server misses Wayland input.

#include "desktop/idlesource.h"

#include <memory>

class WaylandIdle : public IdleSource {
    Q_OBJECT
public:
    // Null without a Wayland compositor that offers either protocol.
    static std::unique_ptr<WaylandIdle> create();
    ~WaylandIdle() override;

    void setThreshold(std::chrono::milliseconds threshold) override;

    struct Private;

private:
    explicit WaylandIdle(std::unique_ptr<Private> d);
    void readEvents();

    std::unique_ptr<Private> d;
};
