#pragma once
// Reminds of a timer that has run long: a desktop notification once when the
// running entry passes the limit, then again every two hours, never more
// often. Its "Timer stoppen" stops the entry it was shown for, and nothing
// else: once that entry ends (here, on the command line or elsewhere) the
// notification goes, and a click on a stale one opens the panel instead.
// One timer for the next reminder, no polling.

#include "client/records.h"

#include <QDateTime>
#include <QObject>
#include <QTimer>
#include <functional>

class Model;
class Notifier;

class Reminder : public QObject {
    Q_OBJECT
public:
    using Clock = std::function<QDateTime()>;
    Reminder(Model *model, Notifier *notifier, Clock clock = &QDateTime::currentDateTimeUtc,
             QObject *parent = nullptr);

    // Hours a timer may run before the first reminder; 0: never remind.
    int limitHours() const { return m_limitHours; }
    void setLimitHours(int hours);

    // When the next reminder is due; invalid when none is.
    QDateTime nextDue() const { return m_nextDue; }

public Q_SLOTS:
    // Reads the state and the clock again. Besides state changes the app
    // calls it on every reload, so a clock that jumped while the machine
    // slept is noticed without a timer of its own.
    void reschedule();

Q_SIGNALS:
    // The running entry has run `elapsedSeconds`; shown as a notification.
    void due(const Entry &entry, qint64 elapsedSeconds);
    // "Timer stoppen" came for an entry that no longer runs.
    void openRequested();

private:
    void remind(const Entry &entry, qint64 elapsedSeconds);
    void stopNotified();

    Model *m_model;
    Notifier *m_notifier;
    Clock m_clock;
    int m_limitHours = 8;
    QTimer m_timer;
    QString m_entryId;        // the entry the reminders below are about
    QDateTime m_lastReminded; // invalid: not yet reminded of it
    QDateTime m_nextDue;
    QString m_notifiedId; // the entry the shown notification is about
};
