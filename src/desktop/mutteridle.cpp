#include "desktop/mutteridle.h"

#include "client/logging.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

using namespace Qt::StringLiterals;

namespace {
const QString service = u"org.gnome.Mutter.IdleMonitor"_s;
const QString path = u"/org/gnome/Mutter/IdleMonitor/Core"_s;
const QString interface = u"org.gnome.Mutter.IdleMonitor"_s;
} // namespace

MutterIdle::MutterIdle(QObject *parent)
    : IdleSource(parent) {
    QDBusConnection::sessionBus().connect(service, path, interface, u"WatchFired"_s, this,
                                          SLOT(watchFired(uint)));
}

MutterIdle::~MutterIdle() {
    removeWatch(&m_idleWatch);
    removeWatch(&m_activeWatch);
}

bool MutterIdle::isOffered() {
    const QDBusConnectionInterface *bus = QDBusConnection::sessionBus().interface();
    return bus && bus->isServiceRegistered(service).value();
}

void MutterIdle::setThreshold(std::chrono::milliseconds threshold) {
    m_threshold = threshold;
    removeWatch(&m_idleWatch);
    removeWatch(&m_activeWatch);
    if (threshold.count() > 0)
        addWatch(u"AddIdleWatch"_s, {quint64(threshold.count())}, &m_idleWatch);
}

void MutterIdle::watchFired(uint id) {
    if (id == 0)
        return;
    if (id == m_idleWatch) {
        // Told once per idle time; the active watch tells its end, once.
        addWatch(u"AddUserActiveWatch"_s, {}, &m_activeWatch);
        Q_EMIT idle(QDateTime::currentDateTimeUtc().addMSecs(-m_threshold.count()));
    } else if (id == m_activeWatch) {
        m_activeWatch = 0;
        Q_EMIT active();
    }
}

void MutterIdle::addWatch(const QString &method, const QVariantList &arguments, uint *into) {
    QDBusMessage add = QDBusMessage::createMethodCall(service, path, interface, method);
    add.setArguments(arguments);
    auto *call = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(add), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, [this, call, into, method] {
        call->deleteLater();
        const QDBusPendingReply<uint> reply = *call;
        if (reply.isError())
            qCDebug(lcTray) << "Mutter's idle monitor refused" << method << reply.error().name();
        else
            *into = reply.value();
    });
}

void MutterIdle::removeWatch(uint *id) {
    if (*id == 0)
        return;
    QDBusMessage remove =
        QDBusMessage::createMethodCall(service, path, interface, u"RemoveWatch"_s);
    remove << *id;
    QDBusConnection::sessionBus().send(remove);
    *id = 0;
}
