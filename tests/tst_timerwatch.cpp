// A timer nobody forgets: the tray's tooltip and the command line's status
// from real states, and the reminder against a notification service on a
// private bus, on a clock the test controls.

#include "app/awaynotice.h"
#include "app/reminder.h"
#include "app/timerstatus.h"
#include "client/decoder.h"
#include "desktop/notifier.h"
#include "mockbus.h"
#include "modelfixture.h"
#include "testsupport.h"

#include <QDBusArgument>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>
#include <QTimeZone>

namespace {

const QString notifications = QStringLiteral("org.freedesktop.Notifications");
const QString notificationsPath = QStringLiteral("/org/freedesktop/Notifications");

// 2026-12-06 08:14:00 UTC, 09:14 in Berlin.
constexpr qint64 startedMs = 1796544840000;

State stateWith(const char *running) {
    return decodeState(QByteArray(R"({"user":{"id":"u","name":"U","role":"member"},
        "clients":[],"reasons":[],"rates":[],"running":)") +
                       running + "}");
}

const char *entry = R"({"id":"e1","client_name":"Bäckerei Süß","reason_name":"Support",
    "rate_cents":9550,"note":"Ofen","started_at":1796544840000})";

struct Texts {
    const char *name;
    bool signedIn;
    const char *running; // empty: no state loaded
    const char *toolTip;
    int exitCode;
    const char *line;
    const char *json = "";
};

struct Away {
    const char *name;
    int minutes;     // the setting; 0: "Nie"
    int awayMinutes; // from 14:05 on 2026-12-06
    QByteArray running;
    QString expected = {};
};

} // namespace

class TimerWatchTest : public QObject {
    Q_OBJECT

    MockBus m_bus;
    qsizetype m_seen = 0; // calls to the service read so far
    int m_lastId = 0;     // the last new id it gave

    // The next notification the service was asked for, or closed ("closed":
    // its id), or an empty object.
    QJsonObject nextNotification(int timeoutMs = 5000) {
        QJsonObject next;
        (void)QTest::qWaitFor(
            [&] {
                const QDBusArgument calls =
                    m_bus.mock(notifications, notificationsPath, u"GetCalls"_qs)
                        .arguments()
                        .value(0)
                        .value<QDBusArgument>();
                calls.beginArray();
                for (qsizetype i = 0; !calls.atEnd(); ++i) {
                    quint64 time = 0;
                    QString method;
                    QVariantList args;
                    calls.beginStructure();
                    calls >> time >> method >> args;
                    calls.endStructure();
                    if (i < m_seen || !next.isEmpty())
                        continue;
                    m_seen = i + 1;
                    if (method == u"CloseNotification") {
                        next = {{u"closed"_qs, args.value(0).toInt()}};
                    } else if (method == u"Notify") {
                        const int replaces = args.value(1).toInt();
                        next = {{u"id"_qs, replaces ? replaces : ++m_lastId},
                                {u"replaces"_qs, replaces},
                                {u"icon"_qs, args.value(2).toString()},
                                {u"summary"_qs, args.value(3).toString()},
                                {u"body"_qs, args.value(4).toString()},
                                {u"actions"_qs, QJsonArray::fromStringList(
                                                    qdbus_cast<QStringList>(args.value(5)))}};
                    }
                }
                calls.endArray();
                return !next.isEmpty();
            },
            timeoutMs);
        return next;
    }
    // The user clicks an action of the notification `id`.
    void invoke(const QJsonValue &id, const QString &key) {
        m_bus.mock(notifications, notificationsPath, u"EmitSignal"_qs,
                   {notifications, u"ActionInvoked"_qs, u"us"_qs,
                    QVariantList{QVariant::fromValue(uint(id.toInt())), key}});
    }

private Q_SLOTS:
    void initTestCase() {
        qputenv("TZ", "Europe/Berlin");
        // Buses of our own with a notification service that shows actions.
        QVERIFY(m_bus.start());
        QVERIFY(m_bus.add({u"--template"_qs, u"notification_daemon"_qs, u"--parameters"_qs,
                           u"{\"capabilities\": \"body actions\"}"_qs},
                          notifications));
    }

    void texts_data() {
        // clang-format off
        testsupport::rows<Texts>({
            {"running", true, entry, "Läuft seit 09:14 · Bäckerei Süß · Support", 0,
             "Bäckerei Süß · Support · 01:02:05\n",
             R"({"client":"Bäckerei Süß","elapsedSeconds":3725,"note":"Ofen","rateCents":9550,)"
             R"("reason":"Support","startedAt":"2026-12-06T08:14:00.000Z"})"},
            {"idle", true, "null", "Kein Timer läuft", 1, "Kein Timer läuft\n", R"({"running":null})"},
            {"loading", true, "", "Wird geladen …", 3, "velmora Zeit lädt noch; bitte gleich noch einmal versuchen.\n"},
            {"signed out", false, entry, "Nicht angemeldet", 3, "velmora Zeit ist nicht angemeldet.\n"},
        });
        // clang-format on
    }

    void texts() {
        FETCH_ROW(Texts);
        const std::optional<State> state =
            *row.running ? std::optional(stateWith(row.running)) : std::nullopt;
        const QDateTime now =
            QDateTime::fromMSecsSinceEpoch(startedMs + 3725'400, QTimeZone::utc());
        const QString toolTip = QString::fromUtf8(row.toolTip);
        QCOMPARE(trayToolTip(row.signedIn, state), toolTip);
        // Trouble, such as no network, on a line of its own; with nothing
        // loaded it is no longer loading, and nobody knows whether a timer runs.
        const QString known = state ? toolTip : u"Ob ein Timer läuft, ist unbekannt"_qs;
        if (row.signedIn)
            QCOMPARE(trayToolTip(row.signedIn, state, u"Kein Netz"_qs), known + u"\nKein Netz"_qs);
        for (const bool json : {false, true}) {
            const CommandAnswer answer = timerStatus(row.signedIn, state, now, json);
            QCOMPARE(answer.exitCode, row.exitCode);
            if (!json || *row.json)
                QCOMPARE(answer.text, QByteArray(json ? row.json : row.line) + (json ? "\n" : ""));
        }
    }

    // Whether coming back mentions a timer that ran on, and how.
    void awayRule_data() {
        const QByteArray during = QByteArray(entry).replace("1796544840000", "1796562600000");
        const QString ranOn = u" Der Timer für Bäckerei Süß · Support lief weiter."_qs;
        // clang-format off
        testsupport::rows<Away>({
            {"a meeting", 10, 42, entry, u"Sie waren 42 Min. weg (seit 14:05)."_qs + ranOn},
            {"exactly the setting", 10, 10, entry, u"Sie waren 10 Min. weg (seit 14:05)."_qs + ranOn},
            {"shorter than the setting", 10, 9, entry},
            {"setting Nie", 0, 120, entry},
            {"no timer ran", 5, 60, "null"},
            {"started while away, on the phone", 5, 60, during},
            {"lunch", 30, 125, entry, u"Sie waren 2 Std. 5 Min. weg (seit 14:05)."_qs + ranOn},
            {"the night", 30, 16 * 60, entry, u"Sie waren 16 Std. weg (seit 6.12. 14:05)."_qs + ranOn},
        });
        // clang-format on
    }

    void awayRule() {
        FETCH_ROW(Away);
        const QDateTime since = QDateTime::fromMSecsSinceEpoch(1796562300000, QTimeZone::utc());
        QCOMPARE(awayText(row.minutes, since, since.addSecs(row.awayMinutes * 60 + 59),
                          stateWith(row.running.constData()).running),
                 row.expected);
    }

    // The notice and its notification, bound to the entry that ran on: they
    // go when it ends elsewhere, "Timer stoppen" stops it, "Web-App öffnen"
    // is passed on.
    void comingBack() {
        ModelFixture fixture;
        QVERIFY(fixture.started());
        auto model = fixture.signedInModel(fixture.server().memberId()); // the demo timer runs
        QVERIFY(model && model->state() && model->state()->running);
        const QString member = fixture.server().memberId();
        Notifier notifier;
        AwayNotice notice(model.get(), &notifier);
        QSignalSpy webApp(&notice, &AwayNotice::webAppRequested);
        const auto comeBack = [&] {
            const QDateTime now = QDateTime::currentDateTimeUtc();
            notice.cameBack(now.addSecs(-42 * 60), now);
            return nextNotification();
        };
        const auto startElsewhere = [&] {
            fixture.server().stopEntryFor(member);
            fixture.server().startEntryFor(
                member, u"c1"_qs, 2, QString(),
                double(QDateTime::currentMSecsSinceEpoch() - 3 * 3600'000));
            const auto &running = model->state()->running;
            const QString before = running ? running->id : QString();
            model->runRefresh();
            return QTest::qWaitFor([&] {
                return model->state() && model->state()->running &&
                       model->state()->running->id != before;
            });
        };

        QVERIFY(startElsewhere());
        const QJsonObject first = comeBack();
        QVERIFY2(first[u"body"].toString().startsWith(u"Sie waren 42 Min. weg (seit "_qs),
                 qPrintable(first[u"body"].toString()));
        QCOMPARE(model->notice(), first[u"body"].toString());
        QCOMPARE(first[u"actions"].toArray(),
                 QJsonArray({u"default"_qs, u"Öffnen"_qs, u"stop"_qs, u"Timer stoppen"_qs,
                             u"web"_qs, u"Web-App öffnen"_qs}));
        QVERIFY(startElsewhere());
        QCOMPARE(nextNotification()[u"closed"].toInt(), first[u"id"].toInt());
        QCOMPARE(model->notice(), QString());

        const QJsonObject second = comeBack();
        fixture.server().clearRequests();
        invoke(second[u"id"], u"stop"_qs);
        QTRY_VERIFY_WITH_TIMEOUT(model->state() && !model->state()->running, 10000);
        QCOMPARE(fixture.server().requestsTo(u"/api/time/stop"_qs).size(), 1);
        QCOMPARE(nextNotification()[u"closed"].toInt(), second[u"id"].toInt());
        QCOMPARE(model->notice(), QString());
        QVERIFY(comeBack().isEmpty()); // nothing runs: nothing to say

        QVERIFY(startElsewhere());
        const QJsonObject third = comeBack();
        invoke(third[u"id"], u"web"_qs);
        QVERIFY(webApp.wait(5000));
        QCOMPARE(nextNotification()[u"closed"].toInt(), third[u"id"].toInt());
        QVERIFY(model->state()->running && model->notice().isEmpty());
    }

    // Nothing before the limit, one notification when it passes, the next two
    // hours later, nothing with "Nie"; its "Timer stoppen" stops the timer on
    // the server.
    void reminderOfALongTimer() {
        ModelFixture fixture;
        QVERIFY(fixture.started());
        auto model = fixture.signedInModel(fixture.server().memberId()); // the demo timer runs
        QVERIFY(model && model->state() && model->state()->running);
        const QDateTime started = QDateTime::fromMSecsSinceEpoch(
            qint64(model->state()->running->startedAt), QTimeZone::utc());
        QDateTime now = started.addSecs(8 * 3600 - 60);
        Notifier notifier;
        Reminder reminder(model.get(), &notifier, [&now] { return now; });
        QCOMPARE(reminder.nextDue(), started.addSecs(8 * 3600));
        QVERIFY(nextNotification(500).isEmpty());

        // Late, as after a night asleep: the next one counts from this one.
        now = started.addSecs(9 * 3600);
        reminder.reschedule();
        QCOMPARE(reminder.nextDue(), now.addSecs(2 * 3600));
        const QJsonObject first = nextNotification();
        QCOMPARE(first[u"summary"].toString(), u"Der Timer läuft seit 9 Stunden"_qs);
        QVERIFY(first[u"body"].toString().contains(model->state()->running->clientName));
        QVERIFY(first[u"actions"].toArray().contains(u"stop"_qs));

        now = started.addSecs(11 * 3600 - 1); // not yet two hours since
        reminder.reschedule();
        QVERIFY(nextNotification(500).isEmpty());
        now = started.addSecs(11 * 3600);
        reminder.reschedule();
        const QJsonObject second = nextNotification();
        QCOMPARE(second[u"summary"].toString(), u"Der Timer läuft seit 11 Stunden"_qs);
        QCOMPARE(second[u"replaces"].toInt(), first[u"id"].toInt());

        // The notification belongs to its entry: when that entry ends
        // elsewhere and another starts, it goes, and its "Timer stoppen", if
        // a daemon still offers it, stops nothing and opens the panel.
        const QString member = fixture.server().memberId();
        const QString stale = model->state()->running->id;
        fixture.server().stopEntryFor(member);
        fixture.server().startEntryFor(member, u"c1"_qs, 2, u"B"_qs,
                                       double(now.addSecs(-3600).toMSecsSinceEpoch()));
        model->runRefresh();
        QTRY_VERIFY(model->state() && model->state()->running &&
                    model->state()->running->id != stale);
        QCOMPARE(nextNotification()[u"closed"].toInt(), second[u"id"].toInt());
        QSignalSpy opened(&reminder, &Reminder::openRequested);
        fixture.server().clearRequests();
        invoke(second[u"id"], u"stop"_qs);
        QVERIFY(opened.wait(5000));
        QVERIFY(fixture.server().requestsTo(u"/api/time/stop"_qs).isEmpty());
        QVERIFY(fixture.server().hasRunningEntry(member));

        // B's own reminder, after its own eight hours, from a new
        // notification, stops B.
        now = now.addSecs(2 * 3600);
        reminder.reschedule();
        QVERIFY(nextNotification(500).isEmpty());
        now = now.addSecs(5 * 3600 + 1);
        reminder.reschedule();
        const QJsonObject third = nextNotification();
        QCOMPARE(third[u"replaces"].toInt(), 0);
        QCOMPARE(third[u"icon"].toString(), u"velmora-time"_qs);
        invoke(third[u"id"], u"stop"_qs);
        QTRY_VERIFY_WITH_TIMEOUT(model->state() && !model->state()->running, 10000);
        QCOMPARE(fixture.server().requestsTo(u"/api/time/stop"_qs).size(), 1);
        QCOMPARE(nextNotification()[u"closed"].toInt(), third[u"id"].toInt());

        fixture.server().startEntryFor(member, u"c1"_qs, 2, QString(),
                                       double(now.addSecs(-20 * 3600).toMSecsSinceEpoch()));
        reminder.setLimitHours(0);
        model->runRefresh();
        QTRY_VERIFY(model->state() && model->state()->running);
        QVERIFY(!reminder.nextDue().isValid());
        QVERIFY(nextNotification(500).isEmpty());
    }
};

QTEST_MAIN(TimerWatchTest)
#include "tst_timerwatch.moc"
