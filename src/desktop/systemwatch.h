#pragma once
// What the system tells about the day: the machine woke from sleep (logind's
// PrepareForSleep) and the network went or came back (NetworkManager's State),
// both on the system bus. Without either service nothing is reported and the
// periodic reload goes on.

#include <QObject>
#include <QVariantMap>

class QDBusVariant;

class SystemWatch : public QObject {
    Q_OBJECT
public:
    explicit SystemWatch(QObject *parent = nullptr);

    // False only while the system says no network is there at all.
    bool online() const { return m_online; }

Q_SIGNALS:
    void resumed();
    void onlineChanged(bool online);

private Q_SLOTS:
    void prepareForSleep(bool sleeping);
    void networkPropertiesChanged(const QString &interface, const QVariantMap &changed,
                                  const QStringList &invalidated);
    void networkStateRead(const QDBusVariant &state);

private:
    void setNetworkState(uint state);

    bool m_online = true;
};
