// The real velmora-time on a private desktop whose tray comes late, goes
// away and comes back, and on a StatusNotifier tray where the icon's place is
// unknown and the panel opens at the host's click.

#include "sniwatcher.h"
#include "testsupport.h"
#include "xsession.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

constexpr int timeoutMs = 30000;

struct LateTray {
    const char *name;
    QStringList arguments;
    int trayAfterMs;
    bool windowMeanwhile;
};

} // namespace

#define UNTIL(condition)                                                                           \
    QVERIFY2(QTest::qWaitFor([&] { return [&](const Look &l) { return condition; }(look()); },     \
                             timeoutMs),                                                           \
             qPrintable(m_seen))

class TestE2eTray : public QObject {
    Q_OBJECT

    struct Look {
        QRect icon, panel; // empty when not shown
    };

    QTemporaryDir m_dir;
    XSession m_x;
    QProcessEnvironment m_environment;
    QProcess m_app;
    QString m_seen;

    Look look() {
        Look l;
        for (const QRect &window : m_x.windows(u"VelmoraTime"_s)) {
            if (m_x.trayArea().contains(window))
                l.icon = window;
            else if (window.width() >= 200 && window.height() >= 150) // not a menu
                l.panel = window;
        }
        m_seen.clear();
        QDebug(&m_seen) << "icon" << l.icon << "panel" << l.panel;
        return l;
    }
    bool startApp(const QStringList &arguments) {
        m_app.setProcessEnvironment(m_environment);
        m_app.setProcessChannelMode(QProcess::ForwardedChannels);
        m_app.start(QStringLiteral(VELMORA_APP_BINARY), arguments);
        return m_app.waitForStarted(timeoutMs);
    }
    // Just above `point`, reaching over it, wholly on the screen.
    bool justAbove(const QRect &panel, QPoint point) const {
        const int gap = point.y() - panel.bottom();
        return m_x.screen().contains(panel) && gap > 0 && gap <= 12 && panel.left() <= point.x() &&
               point.x() <= panel.right();
    }

private Q_SLOTS:
    void initTestCase() {
        QString why;
        QVERIFY2(m_x.start(m_dir.filePath(u"keyring"_s), &why, false), qPrintable(why));
        m_environment = m_x.environment();
        testsupport::isolateUserDirs(m_dir.filePath(u"home"_s), &m_environment);
    }
    void cleanup() {
        m_app.terminate();
        if (!m_app.waitForFinished(10000))
            m_app.kill();
        m_app.waitForFinished(5000);
        m_x.stopTrayHost();
    }

    // Started by hand, the app shows its window after a short wait; started
    // at login it waits longer, and no window ever shows.
    void lateTrayHost_data() {
        testsupport::rows<LateTray>({{"by hand, tray after 5 s", {}, 5000, true},
                                     {"at login, tray after 10 s", {u"--hidden"_s}, 10000, false}});
    }
    void lateTrayHost() {
        FETCH_ROW(LateTray);
        QElapsedTimer since;
        since.start();
        QVERIFY(startApp(row.arguments));
        if (row.windowMeanwhile)
            UNTIL(!l.panel.isEmpty()); // after its short wait, however slow the machine
        // Then it stays until the tray comes; at login none ever shows.
        while (!since.hasExpired(row.trayAfterMs)) {
            QVERIFY2(look().panel.isEmpty() != row.windowMeanwhile, qPrintable(m_seen));
            QTest::qWait(250);
        }
        QCOMPARE(m_app.state(), QProcess::Running);

        QString why;
        QVERIFY2(m_x.startTrayHost(&why), qPrintable(why));
        // The icon takes over; the window goes.
        UNTIL(!l.icon.isEmpty() && l.panel.isEmpty());
    }

    void trayHostRestarts() {
        QString why;
        QVERIFY2(m_x.startTrayHost(&why), qPrintable(why));
        QVERIFY(startApp({}));
        UNTIL(!l.icon.isEmpty());

        // A shell that crashes and comes back at once: no window meanwhile,
        // and the icon back in the new tray, where a click opens the panel
        // just above it.
        m_x.stopTrayHost();
        UNTIL(l.icon.isEmpty() && l.panel.isEmpty());
        QVERIFY2(m_x.startTrayHost(&why), qPrintable(why));
        UNTIL(!l.icon.isEmpty() && l.panel.isEmpty());
        const QRect icon = look().icon;
        m_x.click(icon.center());
        UNTIL(justAbove(l.panel, QPoint(icon.center().x(), icon.top())));
        m_x.xdotool({u"key"_s, u"Escape"_s});
        UNTIL(l.panel.isEmpty());

        // Gone for longer than a restart takes: the window stands in for the
        // tray, and goes again when a tray returns.
        m_x.stopTrayHost();
        UNTIL(l.icon.isEmpty() && !l.panel.isEmpty());
        QVERIFY2(m_x.startTrayHost(&why), qPrintable(why));
        UNTIL(!l.icon.isEmpty() && l.panel.isEmpty());
    }

    // The panel opens beside the point the host's click came with, in X
    // pixels, which the app counts in its own units on a scaled screen; not at
    // the pointer (which XWayland reports stale).
    void panelAtTheClick() {
        const QPoint click(15, 790);
        SniWatcher watcher;
        QVERIFY(watcher.start(m_environment.value(u"DBUS_SESSION_BUS_ADDRESS"_s)));
        m_environment.insert(u"QT_SCALE_FACTOR"_s, u"1.25"_s);
        QVERIFY(startApp({}));
        m_environment.remove(u"QT_SCALE_FACTOR"_s);
        // The icon goes to the watcher; no window shows.
        WAIT_UNTIL(!watcher.items().isEmpty(), timeoutMs);
        QVERIFY2(look().panel.isEmpty(), qPrintable(m_seen));

        m_x.xdotool({u"mousemove"_s, u"640"_s, u"400"_s});
        QVERIFY(watcher.activate(click));
        UNTIL(justAbove(l.panel, click));
        if (!qEnvironmentVariableIsEmpty("VELMORA_SHOTS"))
            m_x.grabScreen().save(qEnvironmentVariable("VELMORA_SHOTS") + u"click.png"_s);
        // A second click closes it.
        QVERIFY(watcher.activate(click));
        UNTIL(l.panel.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestE2eTray)
#include "tst_e2e_tray.moc"
