#pragma once
// Enough of a StatusNotifierWatcher with a registered host for an app to
// show its icon over D-Bus; the test plays the host and clicks the icon
// itself (Activate with the click's point, as Plasma and GNOME send it).

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QObject>
#include <QPoint>
#include <QStringList>
#include <memory>

class SniWatcher : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isHostRegistered)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)

public:
    bool start(const QString &busAddress) {
        m_items.clear();
        m_bus = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(busAddress, connectionName));
        return m_bus->registerObject(QStringLiteral("/StatusNotifierWatcher"), this,
                                     QDBusConnection::ExportAllContents) &&
               m_bus->registerService(QStringLiteral("org.kde.StatusNotifierWatcher"));
    }
    // As the host's process ends: its name and items go with it.
    void stop() {
        m_bus.reset();
        QDBusConnection::disconnectFromBus(connectionName);
    }
    QDBusConnection &bus() { return *m_bus; }
    bool isHostRegistered() const { return true; }
    QStringList items() const { return m_items; }
    int protocolVersion() const { return 0; }

    // Clicks the first item's icon at `point`; true when it answered.
    bool activate(QPoint point, const QString &method = QStringLiteral("Activate")) {
        if (m_items.isEmpty())
            return false;
        QDBusMessage call = QDBusMessage::createMethodCall(
            m_items.constFirst(), QStringLiteral("/StatusNotifierItem"),
            QStringLiteral("org.kde.StatusNotifierItem"), method);
        call << point.x() << point.y();
        return m_bus->call(call).type() == QDBusMessage::ReplyMessage;
    }

Q_SIGNALS:
    // As a host does when it drops an item.
    void StatusNotifierItemUnregistered(const QString &service);

public Q_SLOTS:
    void RegisterStatusNotifierItem(const QString &service) {
        m_items.append(service.startsWith(u'/') ? message().service() : service);
    }
    void RegisterStatusNotifierHost(const QString &) {}

private:
    const QString connectionName = QStringLiteral("velmora-test-watcher");
    std::unique_ptr<QDBusConnection> m_bus;
    QStringList m_items;
};
