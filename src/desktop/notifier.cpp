#include "desktop/notifier.h"

#include "client/logging.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QSystemTrayIcon>
#include <utility>

namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
const QString interface = QStringLiteral("org.freedesktop.Notifications");

QDBusMessage call(const QString &method) {
    return QDBusMessage::createMethodCall(service, path, interface, method);
}

} // namespace

Notifier::Notifier(QObject *parent)
    : QObject(parent) {
    QDBusConnection::sessionBus().connect(service, path, interface, QStringLiteral("ActionInvoked"),
                                          this, SLOT(onActionInvoked(uint, QString)));
}

void Notifier::setFallback(QSystemTrayIcon *tray) {
    m_tray = tray;
    if (tray)
        connect(tray, &QSystemTrayIcon::messageClicked, this, &Notifier::openRequested,
                Qt::UniqueConnection);
}

void Notifier::show(const QString &summary, const QString &body, bool stopAction,
                    bool webAppAction) {
    if (m_askedCapabilities) {
        notify(summary, body, stopAction, webAppAction);
        return;
    }
    // Once: whether the service shows buttons decides whether we offer one.
    auto *watcher = new QDBusPendingCallWatcher(
        QDBusConnection::sessionBus().asyncCall(call(QStringLiteral("GetCapabilities"))), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, watcher, summary, body, stopAction, webAppAction] {
                watcher->deleteLater();
                const QDBusPendingReply<QStringList> reply = *watcher;
                if (reply.isError()) {
                    qCInfo(lcTray) << "no notification service:" << reply.error().name();
                    showFallback(summary, body);
                    return;
                }
                m_askedCapabilities = true;
                m_actions = reply.value().contains(QStringLiteral("actions"));
                notify(summary, body, stopAction, webAppAction);
            });
}

void Notifier::notify(const QString &summary, const QString &body, bool stopAction,
                      bool webAppAction) {
    QStringList actions{QStringLiteral("default"), QStringLiteral("Öffnen")};
    if (stopAction && m_actions)
        actions << QStringLiteral("stop") << QStringLiteral("Timer stoppen");
    if (webAppAction && m_actions)
        actions << QStringLiteral("web") << QStringLiteral("Web-App öffnen");
    QDBusMessage message = call(QStringLiteral("Notify"));
    message << QStringLiteral("velmora Zeit") << (m_shown ? m_shownId : 0u)
            << QStringLiteral("velmora-time") // the icon the package installs
            << summary << body << actions
            << QVariantMap{{QStringLiteral("desktop-entry"), QStringLiteral("de.velmora.zeit")},
                           {QStringLiteral("urgency"), QVariant::fromValue(uchar(1))}}
            << qint32(-1);
    auto *watcher =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(message), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, summary, body] {
        watcher->deleteLater();
        const QDBusPendingReply<uint> reply = *watcher;
        if (reply.isError()) {
            qCInfo(lcTray) << "notification refused:" << reply.error().name();
            m_askedCapabilities = false; // the service may come back
            showFallback(summary, body);
            return;
        }
        m_shownId = reply.value();
        m_shown = true;
    });
}

void Notifier::close() {
    if (!std::exchange(m_shown, false))
        return;
    QDBusMessage message = call(QStringLiteral("CloseNotification"));
    message << m_shownId;
    QDBusConnection::sessionBus().send(message);
}

void Notifier::showFallback(const QString &summary, const QString &body) {
    if (m_tray && m_tray->isVisible())
        m_tray->showMessage(summary, body, QSystemTrayIcon::Information);
}

void Notifier::onActionInvoked(uint id, const QString &key) {
    // Other programs' notifications come by on the same signal. Our last
    // one still counts after we closed it: a daemon's history may offer it.
    if (id == 0 || id != m_shownId)
        return;
    if (key == QLatin1String("stop"))
        Q_EMIT stopRequested();
    else if (key == QLatin1String("web"))
        Q_EMIT webAppRequested();
    else if (key == QLatin1String("default"))
        Q_EMIT openRequested();
}
