#pragma once
// GNOME's idle time from Mutter (org.gnome.Mutter.IdleMonitor on the session
// bus). On GNOME the app runs on XWayland, whose X server misses input to
// Wayland windows, and Mutter offers no Wayland idle protocol.

#include "desktop/idlesource.h"

class QDBusPendingCallWatcher;

class MutterIdle : public IdleSource {
    Q_OBJECT
public:
    explicit MutterIdle(QObject *parent = nullptr);
    ~MutterIdle() override;

    // Whether Mutter's monitor is on the session bus now.
    static bool isOffered();

    void setThreshold(std::chrono::milliseconds threshold) override;

private Q_SLOTS:
    void watchFired(uint id);

private:
    // Adds a watch by `method`; `into` receives its id once Mutter answers.
    void addWatch(const QString &method, const QVariantList &arguments, uint *into);
    void removeWatch(uint *id);

    std::chrono::milliseconds m_threshold{0};
    uint m_idleWatch = 0;
    uint m_activeWatch = 0;
};
