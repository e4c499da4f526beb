#pragma once
// Knows when the user comes back after having been away: nobody touched
// keyboard or pointer for the threshold (from whichever idle source the
// session has), or the screen was locked (logind's session, or the desktop's
// screen saver). Only events wake it; while away, nothing runs.

#include "desktop/idlesource.h"

#include <QDateTime>
#include <QObject>
#include <chrono>
#include <memory>

class ScreenLock;

class AwayWatch : public QObject {
    Q_OBJECT
public:
    // `idle`: where idle time comes from; null: the session's own (see
    // idleSourceForSession). Taken over.
    explicit AwayWatch(std::unique_ptr<IdleSource> idle = nullptr, QObject *parent = nullptr);
    ~AwayWatch() override;

    // How long without input counts as away; zero: not watched at all.
    void setThreshold(std::chrono::milliseconds threshold);
    bool isAway() const { return m_since.isValid(); }

Q_SIGNALS:
    // Back after having been away since `since`.
    void cameBack(const QDateTime &since);

private:
    void wentAway(const QDateTime &since);
    void sync();

    std::unique_ptr<IdleSource> m_idle;
    ScreenLock *m_lock;
    std::chrono::milliseconds m_threshold{0};
    bool m_idleNow = false;
    QDateTime m_since; // invalid while here
};

// The idle source of the session the app runs in: the Wayland compositor's
// (KWin, sway), else GNOME's Mutter on the session bus, else the X server's;
// null where none is there.
std::unique_ptr<IdleSource> idleSourceForSession();
