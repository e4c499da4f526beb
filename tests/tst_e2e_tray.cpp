// The real velmora-time on a private desktop whose tray comes late, goes
// away and comes back, and on a StatusNotifier tray where the icon's place is
// unknown and the panel opens at the host's click.

#include "sniwatcher.h"
#include "testsupport.h"
#include "xsession.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

constexpr int timeoutMs = 30000;

} // namespace

class TestE2eTray : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void lateTrayHost_data();
    void lateTrayHost();
    void trayHostRestarts();
    void panelAtTheClick_data();
    void panelAtTheClick();

private:
    struct Look {
        QRect icon, panel; // empty when not shown
    };
    Look look();
    void startApp(const QStringList &arguments);

    QTemporaryDir m_dir;
    XSession m_x;
    QProcessEnvironment m_environment;
    QProcess m_app;
    QString m_seen;
};

#define UNTIL(condition)                                                                           \
    QVERIFY2(QTest::qWaitFor([&] { return [&](const Look &l) { return condition; }(look()); },     \
                             timeoutMs),                                                           \
             qPrintable(m_seen))

void TestE2eTray::initTestCase() {
    QString why;
    QVERIFY2(m_x.start(m_dir.filePath(u"keyring"_s), &why, false), qPrintable(why));
    m_environment = m_x.environment();
    testsupport::isolateUserDirs(m_dir.filePath(u"home"_s), &m_environment);
}

void TestE2eTray::cleanup() {
    m_app.terminate();
    if (!m_app.waitForFinished(10000))
        m_app.kill();
    m_app.waitForFinished(5000);
    m_x.stopTrayHost();
}

void TestE2eTray::startApp(const QStringList &arguments) {
    m_app.setProcessEnvironment(m_environment);
    m_app.setProcessChannelMode(QProcess::ForwardedChannels);
    m_app.start(QStringLiteral(VELMORA_APP_BINARY), arguments);
    QVERIFY(m_app.waitForStarted(timeoutMs));
}

TestE2eTray::Look TestE2eTray::look() {
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

void TestE2eTray::lateTrayHost_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("trayAfterMs");
    QTest::addColumn<bool>("windowMeanwhile");

    // Started by hand, the app shows its window after a short wait; started
    // at login it waits longer, and no window ever shows.
    QTest::newRow("by hand, tray after 5 s") << QStringList() << 5000 << true;
    QTest::newRow("at login, tray after 10 s") << QStringList{u"--hidden"_s} << 10000 << false;
}

void TestE2eTray::lateTrayHost() {
    QFETCH(QStringList, arguments);
    QFETCH(int, trayAfterMs);
    QFETCH(bool, windowMeanwhile);

    QElapsedTimer since;
    since.start();
    startApp(arguments);
    bool windowSeen = false;
    if (windowMeanwhile) {
        UNTIL(!l.panel.isEmpty()); // after its short wait, however slow the machine
        windowSeen = true;
    }
    while (!since.hasExpired(trayAfterMs)) {
        windowSeen = windowSeen || !look().panel.isEmpty();
        QTest::qWait(250);
    }
    QCOMPARE(windowSeen, windowMeanwhile);
    QCOMPARE(m_app.state(), QProcess::Running);
    if (windowMeanwhile)
        QVERIFY2(!look().panel.isEmpty(), qPrintable(m_seen)); // and it stayed

    QString why;
    QVERIFY2(m_x.startTrayHost(&why), qPrintable(why));
    // The icon takes over; the window goes.
    UNTIL(!l.icon.isEmpty() && l.panel.isEmpty());
}

void TestE2eTray::trayHostRestarts() {
    QString why;
    QVERIFY2(m_x.startTrayHost(&why), qPrintable(why));
    startApp({});
    UNTIL(!l.icon.isEmpty());

    // A shell that crashes and comes back at once: no window meanwhile, and
    // the icon back in the new tray, where a click opens the panel above it.
    m_x.stopTrayHost();
    UNTIL(l.icon.isEmpty() && l.panel.isEmpty());
    QVERIFY2(m_x.startTrayHost(&why), qPrintable(why));
    UNTIL(!l.icon.isEmpty() && l.panel.isEmpty());
    const QRect icon = look().icon;
    m_x.click(icon.center());
    // Just above the icon at the bottom, reaching over it, wholly on the screen.
    UNTIL(m_x.screen().contains(l.panel) && l.panel.bottom() < icon.top() &&
          icon.top() - l.panel.bottom() <= 12 && l.panel.left() <= icon.center().x() &&
          icon.center().x() <= l.panel.right());
    m_x.xdotool({u"key"_s, u"Escape"_s});
    UNTIL(l.panel.isEmpty());

    // Gone for longer than a restart takes: the window stands in for the
    // tray, and goes again when a tray returns.
    m_x.stopTrayHost();
    UNTIL(l.icon.isEmpty() && !l.panel.isEmpty());
    QVERIFY2(m_x.startTrayHost(&why), qPrintable(why));
    UNTIL(!l.icon.isEmpty() && l.panel.isEmpty());
}

void TestE2eTray::panelAtTheClick_data() {
    QTest::addColumn<QString>("scale");
    QTest::newRow("unscaled") << QString();
    // The host's point is in X pixels; the app counts in its own units.
    QTest::newRow("scaled 1.25") << u"1.25"_s;
}

// The panel opens beside the point the host's click came with, not at the
// pointer (which XWayland reports stale), also after the host restarted.
void TestE2eTray::panelAtTheClick() {
    QFETCH(QString, scale);
    const QPoint click(15, 790);
    SniWatcher watcher;
    const QString bus = m_environment.value(u"DBUS_SESSION_BUS_ADDRESS"_s);
    QVERIFY(watcher.start(bus));
    if (!scale.isEmpty())
        m_environment.insert(u"QT_SCALE_FACTOR"_s, scale);
    startApp({});
    m_environment.remove(u"QT_SCALE_FACTOR"_s);
    // The icon goes to the watcher; no window shows.
    WAIT_UNTIL(!watcher.items().isEmpty(), timeoutMs);
    QVERIFY2(look().panel.isEmpty(), qPrintable(m_seen));
    // The icon registers again with the new watcher, and no window shows.
    watcher.stop();
    QTest::qWait(500);
    QVERIFY(watcher.start(bus));
    WAIT_UNTIL(!watcher.items().isEmpty(), timeoutMs);
    QVERIFY2(look().panel.isEmpty(), qPrintable(m_seen));

    m_x.xdotool({u"mousemove"_s, u"640"_s, u"400"_s});
    QVERIFY(watcher.activate(click));
    UNTIL(!l.panel.isEmpty());
    const QRect panel = look().panel;
    const int gap = click.y() - panel.bottom();
    QVERIFY2(m_x.screen().contains(panel) && gap > 0 && gap <= 12, qPrintable(m_seen));
    QVERIFY2(panel.left() <= click.x() && click.x() <= panel.right(), qPrintable(m_seen));
    if (!qEnvironmentVariableIsEmpty("VELMORA_SHOTS"))
        m_x.grabScreen().save(qEnvironmentVariable("VELMORA_SHOTS") + u"click.png"_s);
    // A second click closes it.
    QVERIFY(watcher.activate(click));
    UNTIL(l.panel.isEmpty());
}

QTEST_GUILESS_MAIN(TestE2eTray)
#include "tst_e2e_tray.moc"
