#pragma once
// A private D-Bus daemon that stands in for both the session and the system
// bus of this process, with python3-dbusmock services on it (logind,
// NetworkManager, Mutter's idle monitor, …), driven over dbusmock's own
// org.freedesktop.DBus.Mock interface.

#include <QDBusMessage>
#include <QProcess>
#include <memory>
#include <vector>

class MockBus {
public:
    ~MockBus();
    // Starts the daemon and points DBUS_SESSION_BUS_ADDRESS and
    // DBUS_SYSTEM_BUS_ADDRESS at it; before the first use of either bus.
    bool start();
    // Runs `python3 -m dbusmock ARGUMENTS` and waits for `name` on the bus:
    // the private one, or without start() the session bus this process has.
    bool add(const QStringList &arguments, const QString &name);
    // A method of org.freedesktop.DBus.Mock on the object `path` of `service`.
    QDBusMessage mock(const QString &service, const QString &path, const QString &method,
                      const QVariantList &arguments = {});
    // A method of the service's own `interface`.
    QDBusMessage call(const QString &service, const QString &path, const QString &interface,
                      const QString &method, const QVariantList &arguments = {});

private:
    QProcess m_daemon;
    std::vector<std::unique_ptr<QProcess>> m_services;
};
