#include "desktop/awaywatch.h"

#include "desktop/idlesource.h"
#include "desktop/mutteridle.h"
#include "desktop/screenlock.h"
#if VELMORA_WAYLAND_IDLE
#include "desktop/waylandidle.h"
#endif
#include "desktop/xidle.h"

AwayWatch::AwayWatch(std::unique_ptr<IdleSource> idle, QObject *parent)
    : QObject(parent)
    , m_idle(idle ? std::move(idle) : idleSourceForSession())
    , m_lock(new ScreenLock(this)) {
    if (m_idle) {
        connect(m_idle.get(), &IdleSource::idle, this, [this](const QDateTime &since) {
            m_idleNow = true;
            wentAway(since);
        });
        connect(m_idle.get(), &IdleSource::active, this, [this] {
            m_idleNow = false;
            sync();
        });
    }
    connect(m_lock, &ScreenLock::locked, this, &AwayWatch::wentAway);
    connect(m_lock, &ScreenLock::unlocked, this, &AwayWatch::sync);
}

AwayWatch::~AwayWatch() = default;

void AwayWatch::setThreshold(std::chrono::milliseconds threshold) {
    m_threshold = threshold;
    if (m_idle)
        m_idle->setThreshold(threshold);
    if (threshold.count() <= 0) {
        m_idleNow = false;
        m_since = {};
    }
}

void AwayWatch::wentAway(const QDateTime &since) {
    if (m_threshold.count() <= 0)
        return;
    // Idle first, then locked (or the other way): away since the earlier.
    if (!m_since.isValid() || since < m_since)
        m_since = since;
}

void AwayWatch::sync() {
    // Back only when neither idle nor locked any more.
    if (!m_since.isValid() || m_idleNow || m_lock->isLocked())
        return;
    const QDateTime since = std::exchange(m_since, QDateTime());
    Q_EMIT cameBack(since);
}

std::unique_ptr<IdleSource> idleSourceForSession() {
    // Under XWayland the X server misses input to Wayland windows: there
    // the compositor, or Mutter, knows better.
#if VELMORA_WAYLAND_IDLE
    if (auto wayland = WaylandIdle::create())
        return wayland;
#endif
    if (MutterIdle::isOffered())
        return std::make_unique<MutterIdle>();
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return XIdle::create();
    return nullptr;
}
