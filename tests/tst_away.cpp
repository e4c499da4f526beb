// Away and back as the desktop tells it, with the real sources: the X
// server's idle counter on Xvfb (XTest input resets it), and logind's session
// and GNOME's Mutter mocked with python3-dbusmock on a private bus.

#include "desktop/awaywatch.h"
#include "desktop/mutteridle.h"
#include "desktop/xidle.h"
#include "mockbus.h"
#include "testsupport.h"
#include "xsession.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {
const QString login1 = u"org.freedesktop.login1"_s;
const QString session = u"/org/freedesktop/login1/session/auto"_s;
const QString mutter = u"org.gnome.Mutter.IdleMonitor"_s;
const QString monitor = u"/org/gnome/Mutter/IdleMonitor/Core"_s;
} // namespace

class AwayTest : public QObject {
    Q_OBJECT

    MockBus m_bus;

    void fireMutterWatch(uint id) {
        m_bus.mock(mutter, monitor, u"EmitSignal"_s,
                   {mutter, u"WatchFired"_s, u"u"_s, QVariantList{QVariant::fromValue(id)}});
    }
    void callSession(const QString &method, const QVariantList &arguments = {}) {
        m_bus.call(login1, session, u"org.freedesktop.login1.Session"_s, method, arguments);
    }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_bus.start());
        QVERIFY(m_bus.add({u"--system"_s, u"--template"_s, u"logind"_s}, login1));
        QVERIFY(m_bus.add({mutter, monitor, mutter}, mutter));
        m_bus.mock(login1, u"/org/freedesktop/login1"_s, u"AddSession"_s,
                   {u"auto"_s, u"seat0"_s, 1000u, u"u"_s, true});
        for (const QStringList &method :
             {QStringList{u"AddIdleWatch"_s, u"t"_s, u"u"_s, u"ret = 1"_s},
              QStringList{u"AddUserActiveWatch"_s, QString(), u"u"_s, u"ret = 2"_s},
              QStringList{u"RemoveWatch"_s, u"u"_s, QString(), QString()}}) {
            m_bus.mock(mutter, monitor, u"AddMethod"_s,
                       {mutter, method[0], method[1], method[2], method[3]});
        }
    }

    // Idle and a locked screen each make the user away; back only when
    // neither holds any more, away since the earlier.
    void idleAndLockTogether() {
        QVERIFY(MutterIdle::isOffered());
        AwayWatch watch(std::make_unique<MutterIdle>());
        QSignalSpy back(&watch, &AwayWatch::cameBack);
        watch.setThreshold(10min);
        QTest::qWait(200); // the watch is added
        const QDateTime idleAt = QDateTime::currentDateTimeUtc();
        fireMutterWatch(1);
        QTRY_VERIFY(watch.isAway());
        callSession(u"Lock"_s);
        QTest::qWait(200);
        fireMutterWatch(2); // input: typing the password
        QTest::qWait(200);
        QCOMPARE(back.size(), 0);
        callSession(u"Unlock"_s);
        QTRY_COMPARE(back.size(), 1);
        const QDateTime since = back.takeFirst().at(0).toDateTime();
        QVERIFY(qAbs(since.secsTo(idleAt.addSecs(-600))) <= 2);

        // A screen saver's lock hint alone, and nothing once switched off.
        callSession(u"SetLockedHint"_s, {true});
        QTRY_VERIFY(watch.isAway());
        callSession(u"SetLockedHint"_s, {false});
        QTRY_COMPARE(back.size(), 1);
        watch.setThreshold(0ms);
        callSession(u"Lock"_s);
        callSession(u"Unlock"_s);
        QTest::qWait(300);
        QCOMPARE(back.size(), 1);
    }

    // The X server's idle counter: idle after the threshold without input,
    // active again at the first input.
    void xServerIdleTime() {
        QTemporaryDir dir;
        XSession x;
        QString why;
        QVERIFY2(x.start(dir.path(), &why, false), qPrintable(why));
        qputenv("XAUTHORITY", x.environment().value(u"XAUTHORITY"_s).toLocal8Bit());
        auto idle = XIdle::create(x.environment().value(u"DISPLAY"_s).toLocal8Bit());
        QVERIFY(idle);
        QSignalSpy idled(idle.get(), &IdleSource::idle);
        QSignalSpy active(idle.get(), &IdleSource::active);
        x.xdotool({u"mousemove"_s, u"10"_s, u"10"_s});
        idle->setThreshold(400ms);
        QVERIFY(idled.wait(5000));
        QVERIFY(qAbs(idled.first().at(0).toDateTime().msecsTo(QDateTime::currentDateTimeUtc()) -
                     400) < 1000);
        QCOMPARE(active.size(), 0);
        x.xdotool({u"mousemove"_s, u"200"_s, u"200"_s});
        QVERIFY(active.wait(5000));
        QVERIFY(idled.wait(5000)); // and idle again after the next threshold
        QCOMPARE(idled.size(), 2);
    }
};

QTEST_GUILESS_MAIN(AwayTest)
#include "tst_away.moc"
