#include "desktop/systemwatch.h"

#include "client/logging.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>

using namespace Qt::StringLiterals;

namespace {
const QString networkService = u"org.freedesktop.NetworkManager"_s;
const QString networkPath = u"/org/freedesktop/NetworkManager"_s;
const QString propertiesInterface = u"org.freedesktop.DBus.Properties"_s;
// NetworkManager's NMState values that mean no connection at all.
constexpr uint stateDisconnecting = 30;
constexpr uint stateDisconnected = 20;
} // namespace

// NetworkManager is asked straight over the bus the app already holds: Qt's
// network-information plugin would cost about half a MiB for the same bit.
SystemWatch::SystemWatch(QObject *parent)
    : QObject(parent) {
    QDBusConnection bus = QDBusConnection::systemBus();
    bus.connect(u"org.freedesktop.login1"_s, u"/org/freedesktop/login1"_s,
                u"org.freedesktop.login1.Manager"_s, u"PrepareForSleep"_s, this,
                SLOT(prepareForSleep(bool)));
    bus.connect(networkService, networkPath, propertiesInterface, u"PropertiesChanged"_s, this,
                SLOT(networkPropertiesChanged(QString, QVariantMap, QStringList)));
    QDBusMessage get =
        QDBusMessage::createMethodCall(networkService, networkPath, propertiesInterface, u"Get"_s);
    get << networkService << u"State"_s;
    // Without NetworkManager the error is dropped and the app counts as online.
    bus.callWithCallback(get, this, SLOT(networkStateRead(QDBusVariant)));
}

void SystemWatch::prepareForSleep(bool sleeping) {
    if (!sleeping) {
        qCInfo(lcTray) << "resumed from sleep";
        Q_EMIT resumed();
    }
}

void SystemWatch::networkPropertiesChanged(const QString &interface, const QVariantMap &changed,
                                           const QStringList &) {
    const auto state = changed.constFind(u"State"_s);
    if (interface == networkService && state != changed.cend())
        setNetworkState(state->toUInt());
}

void SystemWatch::networkStateRead(const QDBusVariant &state) {
    setNetworkState(state.variant().toUInt());
}

void SystemWatch::setNetworkState(uint state) {
    // Local or site reach may be enough: the server can be in the office. Unknown,
    // asleep or connecting say nothing yet.
    const bool online = state != stateDisconnected && state != stateDisconnecting;
    if (online == m_online)
        return;
    m_online = online;
    qCInfo(lcTray) << (online ? "network back" : "network gone");
    Q_EMIT onlineChanged(online);
}
