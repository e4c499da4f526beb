#pragma once
// What the system tells about the day: the machine woke from sleep (logind's
// PrepareForSleep on the system bus) and the network went or came back
// (QNetworkInformation, where a backend such as NetworkManager is there).
// Without either source nothing is reported and the periodic reload goes on.

#include <QObject>

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

private:
    void syncReachability();

    bool m_online = true;
};
