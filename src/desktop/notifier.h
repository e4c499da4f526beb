#pragma once
// Desktop notifications through the freedesktop notification service on the
// session bus, with the tray icon's message where there is no such service.

#include <QObject>
#include <QPointer>
#include <QStringList>

class QDBusPendingCallWatcher;
class QSystemTrayIcon;

class Notifier : public QObject {
    Q_OBJECT
public:
    explicit Notifier(QObject *parent = nullptr);

    // Used when the session bus has no notification service.
    void setFallback(QSystemTrayIcon *tray);

    // Replaces the previous notification of this notifier, if still shown.
    // Where the service shows actions: `stopAction` offers "Timer stoppen",
    // `webAppAction` "Web-App öffnen".
    void show(const QString &summary, const QString &body, bool stopAction,
              bool webAppAction = false);
    // Takes our notification off the screen, if one is shown.
    void close();

Q_SIGNALS:
    void stopRequested();
    void webAppRequested();
    void openRequested();

private Q_SLOTS:
    void onActionInvoked(uint id, const QString &key);

private:
    void notify(const QString &summary, const QString &body, bool stopAction, bool webAppAction);
    void showFallback(const QString &summary, const QString &body);

    QPointer<QSystemTrayIcon> m_tray;
    uint m_shownId = 0;   // our last notification
    bool m_shown = false; // and it is still on screen
    bool m_askedCapabilities = false;
    bool m_actions = false;
};
