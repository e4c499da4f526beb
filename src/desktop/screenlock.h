#pragma once
// Whether the screen is locked: logind's session says so (its Lock and
// Unlock signals, and LockedHint, which screen lockers set), and so do the
// desktops' screen savers (org.freedesktop.ScreenSaver on KDE and others,
// org.gnome.ScreenSaver on GNOME) with ActiveChanged. Any of them will do.

#include <QDateTime>
#include <QObject>
#include <QVariantMap>

class QDBusPendingCallWatcher;

class ScreenLock : public QObject {
    Q_OBJECT
public:
    explicit ScreenLock(QObject *parent = nullptr);

    bool isLocked() const { return m_since.isValid(); }

Q_SIGNALS:
    void locked(const QDateTime &since);
    void unlocked();

private Q_SLOTS:
    void sessionFound(QDBusPendingCallWatcher *call);
    void lock() { setLocked(true); }
    void unlock() { setLocked(false); }
    void sessionPropertiesChanged(const QString &interface, const QVariantMap &changed,
                                  const QStringList &invalidated);
    void screenSaverActiveChanged(bool active) { setLocked(active); }

private:
    void setLocked(bool locked);

    QDateTime m_since; // invalid while unlocked
};
