#pragma once
// Hears the Secret Service unlock a collection: the keyring usually unlocks
// with the session, just when the user comes back, and a token that could
// not be read before can be read now. Only a match rule on the session bus:
// the service sends these signals on a lock or unlock, nothing wakes us else.

#include <QObject>
#include <QVariantMap>

class KeyringWatch : public QObject {
    Q_OBJECT
public:
    explicit KeyringWatch(QObject *parent = nullptr);

Q_SIGNALS:
    void unlocked();

private Q_SLOTS:
    void propertiesChanged(const QString &interface, const QVariantMap &changed,
                           const QStringList &invalidated);
};
