#include "desktop/keyringwatch.h"

#include "client/logging.h"

#include <QDBusConnection>

using namespace Qt::StringLiterals;

KeyringWatch::KeyringWatch(QObject *parent)
    : QObject(parent) {
    // Any collection's path: the default one may be made or renamed later.
    QDBusConnection::sessionBus().connect(
        u"org.freedesktop.secrets"_s, QString(), u"org.freedesktop.DBus.Properties"_s,
        u"PropertiesChanged"_s, this, SLOT(propertiesChanged(QString, QVariantMap, QStringList)));
}

void KeyringWatch::propertiesChanged(const QString &interface, const QVariantMap &changed,
                                     const QStringList &) {
    const auto locked = changed.constFind(u"Locked"_s);
    if (interface != u"org.freedesktop.Secret.Collection" || locked == changed.cend() ||
        locked->toBool())
        return;
    qCDebug(lcKeyring) << "a collection was unlocked";
    Q_EMIT unlocked();
}
