#include "app/systemwatch.h"

#include "client/logging.h"

#include <QDBusConnection>
#include <QNetworkInformation>

SystemWatch::SystemWatch(QObject *parent)
    : QObject(parent) {
    QDBusConnection::systemBus().connect(
        QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"), this,
        SLOT(prepareForSleep(bool)));
    if (QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability)) {
        connect(QNetworkInformation::instance(), &QNetworkInformation::reachabilityChanged, this,
                &SystemWatch::syncReachability);
        syncReachability();
    } else {
        qCDebug(lcTray) << "no network information; reloads go on by the clock";
    }
}

void SystemWatch::prepareForSleep(bool sleeping) {
    if (!sleeping) {
        qCInfo(lcTray) << "resumed from sleep";
        Q_EMIT resumed();
    }
}

void SystemWatch::syncReachability() {
    // Local or site reach may be enough: the server can be in the office.
    const bool online = QNetworkInformation::instance()->reachability() !=
                        QNetworkInformation::Reachability::Disconnected;
    if (online == m_online)
        return;
    m_online = online;
    Q_EMIT onlineChanged(online);
}
