#pragma once
// One way of learning that nobody has touched keyboard or pointer for a
// while: the X server, the Wayland compositor or GNOME's Mutter tells us, by
// an event, never by our asking again and again.

#include <QDateTime>
#include <QObject>
#include <chrono>

class IdleSource : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Reports idle once nobody touched anything for `threshold`; zero: stops.
    virtual void setThreshold(std::chrono::milliseconds threshold) = 0;

Q_SIGNALS:
    // Idle since `since`, the last input (the threshold ago).
    void idle(const QDateTime &since);
    // Input again after idle.
    void active();
};
