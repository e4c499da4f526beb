#pragma once
// Coming back to a timer that ran on: after the user was away for at least
// the chosen minutes (no input, or a locked screen), while a timer ran
// through it, a notification says so, with "Timer stoppen" for that entry
// and "Web-App öffnen", where its end can be corrected (the server takes no
// end time from us). The panel's message line says the same until the
// notification is answered, and both go when the entry ends by other means.

#include "client/records.h"

#include <QDateTime>
#include <QObject>

class Model;
class Notifier;

// What to say on coming back at `back` after being away since `since`, with
// `running` the entry running now; empty when nothing is to be said: the
// setting is 0 ("Nie"), the absence was shorter, or no timer ran through it.
QString awayText(int minutes, const QDateTime &since, const QDateTime &back,
                 const std::optional<Entry> &running);

class AwayNotice : public QObject {
    Q_OBJECT
public:
    // `notifier`: one of its own, so that its answers are about this notice.
    AwayNotice(Model *model, Notifier *notifier, QObject *parent = nullptr);

    // Minutes away before a timer that ran on is mentioned; 0: never.
    int minutes() const { return m_minutes; }
    void setMinutes(int minutes);

public Q_SLOTS:
    // The user is back, away since `since`.
    void cameBack(const QDateTime &since, const QDateTime &now = QDateTime::currentDateTimeUtc());

Q_SIGNALS:
    void minutesChanged(int minutes);
    // "Web-App öffnen" in the notification.
    void webAppRequested();

private:
    // Whether the entry the notice is about still runs.
    bool entryRuns() const;
    void sync();
    void answered();
    void stopNotified();

    Model *m_model;
    Notifier *m_notifier;
    int m_minutes = 10;
    QString m_entryId; // the entry the shown notice is about
};
