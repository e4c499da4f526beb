// Away and back as the desktop tells it, with the real sources: the X
// server's idle counter on Xvfb (XTest input resets it), and logind's session
// and GNOME's Mutter mocked with python3-dbusmock on a private bus.

#include "desktop/awaywatch.h"
#include "desktop/mutteridle.h"
#include "desktop/xidle.h"
#include "testsupport.h"
#include "xsession.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

class AwayTest : public QObject {
    Q_OBJECT

    QProcess m_bus, m_logind, m_mutter;

    // A dbusmock object's own interface.
    QDBusInterface mock(const QString &service, const QString &path) {
        const bool system = service == u"org.freedesktop.login1";
        return QDBusInterface(service, path, u"org.freedesktop.DBus.Mock"_s,
                              system ? QDBusConnection::systemBus()
                                     : QDBusConnection::sessionBus());
    }
    void fireMutterWatch(uint id) {
        mock(u"org.gnome.Mutter.IdleMonitor"_s, u"/org/gnome/Mutter/IdleMonitor/Core"_s)
            .call(u"EmitSignal"_s, u"org.gnome.Mutter.IdleMonitor"_s, u"WatchFired"_s, u"u"_s,
                  QVariantList{QVariant::fromValue(id)});
    }
    void callSession(const QString &method, const QVariantList &arguments = {}) {
        QDBusInterface session(u"org.freedesktop.login1"_s,
                               u"/org/freedesktop/login1/session/auto"_s,
                               u"org.freedesktop.login1.Session"_s, QDBusConnection::systemBus());
        session.callWithArgumentList(QDBus::Block, method, arguments);
    }

private Q_SLOTS:
    void initTestCase() {
        // One private bus stands in for both the system and the session bus.
        m_bus.start(u"dbus-daemon"_s, {u"--session"_s, u"--nofork"_s, u"--print-address=1"_s});
        QVERIFY(m_bus.waitForStarted() && m_bus.waitForReadyRead(10000));
        const QByteArray address = m_bus.readLine().trimmed();
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", address);
        m_logind.start(u"/usr/bin/python3"_s,
                       {u"-m"_s, u"dbusmock"_s, u"--system"_s, u"--template"_s, u"logind"_s});
        m_mutter.start(u"/usr/bin/python3"_s,
                       {u"-m"_s, u"dbusmock"_s, u"org.gnome.Mutter.IdleMonitor"_s,
                        u"/org/gnome/Mutter/IdleMonitor/Core"_s,
                        u"org.gnome.Mutter.IdleMonitor"_s});
        QDBusConnectionInterface *bus = QDBusConnection::sessionBus().interface();
        QTRY_VERIFY_WITH_TIMEOUT(bus->isServiceRegistered(u"org.freedesktop.login1"_s) &&
                                     bus->isServiceRegistered(u"org.gnome.Mutter.IdleMonitor"_s),
                                 20000);
        mock(u"org.freedesktop.login1"_s, u"/org/freedesktop/login1"_s)
            .call(u"AddSession"_s, u"auto"_s, u"seat0"_s, 1000u, u"u"_s, true);
        auto mutter =
            mock(u"org.gnome.Mutter.IdleMonitor"_s, u"/org/gnome/Mutter/IdleMonitor/Core"_s);
        const QString interface = u"org.gnome.Mutter.IdleMonitor"_s;
        mutter.call(u"AddMethod"_s, interface, u"AddIdleWatch"_s, u"t"_s, u"u"_s, u"ret = 1"_s);
        mutter.call(u"AddMethod"_s, interface, u"AddUserActiveWatch"_s, QString(), u"u"_s,
                    u"ret = 2"_s);
        mutter.call(u"AddMethod"_s, interface, u"RemoveWatch"_s, u"u"_s, QString(), QString());
    }

    void cleanupTestCase() {
        for (QProcess *process : {&m_logind, &m_mutter, &m_bus}) {
            process->terminate();
            process->waitForFinished(5000);
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
