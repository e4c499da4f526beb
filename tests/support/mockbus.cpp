#include "mockbus.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QTest>

MockBus::~MockBus() {
    for (const auto &service : m_services) {
        service->terminate();
        service->waitForFinished(5000);
    }
    m_daemon.terminate();
    m_daemon.waitForFinished(5000);
}

bool MockBus::start() {
    m_daemon.start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--session"), QStringLiteral("--nofork"),
                    QStringLiteral("--print-address=1")});
    if (!m_daemon.waitForStarted() ||
        !QTest::qWaitFor([this] { return m_daemon.canReadLine(); }, 10000))
        return false;
    const QByteArray address = m_daemon.readLine().trimmed();
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", address);
    return true;
}

bool MockBus::add(const QStringList &arguments, const QString &name) {
    auto &service = m_services.emplace_back(std::make_unique<QProcess>());
    service->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    service->start(QStringLiteral("/usr/bin/python3"),
                   QStringList{QStringLiteral("-m"), QStringLiteral("dbusmock")} + arguments);
    const QDBusConnectionInterface *bus = QDBusConnection::sessionBus().interface();
    return service->waitForStarted() &&
           QTest::qWaitFor([&] { return bus->isServiceRegistered(name).value(); }, 20000);
}

QDBusMessage MockBus::mock(const QString &service, const QString &path, const QString &method,
                           const QVariantList &arguments) {
    return call(service, path, QStringLiteral("org.freedesktop.DBus.Mock"), method, arguments);
}

QDBusMessage MockBus::call(const QString &service, const QString &path, const QString &interface,
                           const QString &method, const QVariantList &arguments) {
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    return QDBusConnection::sessionBus().call(message);
}
