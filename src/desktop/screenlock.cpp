#include "desktop/screenlock.h"

#include "client/logging.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

using namespace Qt::StringLiterals;

namespace {
const QString login1 = u"org.freedesktop.login1"_s;
const QString sessionInterface = u"org.freedesktop.login1.Session"_s;
} // namespace

ScreenLock::ScreenLock(QObject *parent)
    : QObject(parent) {
    // logind's signals come from the session's own path, which "auto" names.
    QDBusMessage find = QDBusMessage::createMethodCall(
        login1, u"/org/freedesktop/login1"_s, u"org.freedesktop.login1.Manager"_s, u"GetSession"_s);
    find << u"auto"_s;
    auto *call = new QDBusPendingCallWatcher(QDBusConnection::systemBus().asyncCall(find), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, &ScreenLock::sessionFound);

    QDBusConnection session = QDBusConnection::sessionBus();
    for (const auto &[service, path] :
         {std::pair{u"org.freedesktop.ScreenSaver"_s, u"/org/freedesktop/ScreenSaver"_s},
          std::pair{u"org.gnome.ScreenSaver"_s, u"/org/gnome/ScreenSaver"_s}}) {
        session.connect(service, path, service, u"ActiveChanged"_s, this,
                        SLOT(screenSaverActiveChanged(bool)));
    }
}

void ScreenLock::sessionFound(QDBusPendingCallWatcher *call) {
    call->deleteLater();
    const QDBusPendingReply<QDBusObjectPath> reply = *call;
    if (reply.isError()) {
        qCDebug(lcTray) << "no logind session:" << reply.error().name();
        return;
    }
    const QString path = reply.value().path();
    QDBusConnection system = QDBusConnection::systemBus();
    system.connect(login1, path, sessionInterface, u"Lock"_s, this, SLOT(lock()));
    system.connect(login1, path, sessionInterface, u"Unlock"_s, this, SLOT(unlock()));
    system.connect(login1, path, u"org.freedesktop.DBus.Properties"_s, u"PropertiesChanged"_s, this,
                   SLOT(sessionPropertiesChanged(QString, QVariantMap, QStringList)));
}

void ScreenLock::sessionPropertiesChanged(const QString &interface, const QVariantMap &changed,
                                          const QStringList &) {
    const auto hint = changed.constFind(u"LockedHint"_s);
    if (interface == sessionInterface && hint != changed.cend())
        setLocked(hint->toBool());
}

void ScreenLock::setLocked(bool locked) {
    if (locked == isLocked())
        return;
    qCDebug(lcTray) << (locked ? "screen locked" : "screen unlocked");
    if (locked) {
        m_since = QDateTime::currentDateTimeUtc();
        Q_EMIT this->locked(m_since);
    } else {
        m_since = {};
        Q_EMIT unlocked();
    }
}
