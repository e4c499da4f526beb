// The real velmora-time on a headless KWin Wayland session, its icon in a
// StatusNotifier tray that the test plays: each click on the icon opens the
// panel beside the click, on the screen, focused and off the taskbar, as
// KWin itself reports the window.

#include "atspidriver.h"
#if VELMORA_WAYLAND_IDLE
#include "desktop/waylandidle.h"
#endif
#include "sniwatcher.h"
#include "testsupport.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <xcb/xcb.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int timeoutMs = 30000;

struct Click {
    const char *name;
    QPoint click;
    int bar = 0; // a bottom bar this high, if not 0
};

// A KWin script that tells the test, over D-Bus, how KWin sees our windows.
constexpr const char *reportScript = R"(
const windows = workspace.clientList().filter(w => w.resourceClass == "de.velmora.zeit");
callDBus("org.velmora.Test", "/Report", "org.velmora.Test", "report",
         windows.map(w => [w.frameGeometry.x, w.frameGeometry.y, w.frameGeometry.width,
                           w.frameGeometry.height, w == workspace.activeClient ? 1 : 0,
                           w.skipTaskbar ? 1 : 0, w.skipSwitcher ? 1 : 0].join(" ")).join(";"));
)";

// A bar along the bottom of the screen, as Plasma's is: an X dock window
// on KWin's XWayland that reserves its height (a strut).
class BottomBar {
public:
    BottomBar(const QByteArray &display, QRect screen, int height)
        : m_connection(xcb_connect(display.constData(), nullptr)) {
        xcb_screen_t *root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data;
        const xcb_window_t window = xcb_generate_id(m_connection);
        xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, window, root->root, 0,
                          int16_t(screen.bottom() + 1 - height), uint16_t(screen.width()),
                          uint16_t(height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, root->root_visual, 0,
                          nullptr);
        const xcb_atom_t dock = atom("_NET_WM_WINDOW_TYPE_DOCK");
        xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, window,
                            atom("_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM, 32, 1, &dock);
        const uint32_t strut[12] = {0, 0, 0, uint32_t(height),        0, 0, 0, 0,
                                    0, 0, 0, uint32_t(screen.right())};
        xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, window,
                            atom("_NET_WM_STRUT_PARTIAL"), XCB_ATOM_CARDINAL, 32, 12, strut);
        xcb_map_window(m_connection, window);
        xcb_flush(m_connection);
    }
    ~BottomBar() { xcb_disconnect(m_connection); }

private:
    xcb_atom_t atom(const char *name) {
        xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
            m_connection, xcb_intern_atom(m_connection, false, uint16_t(strlen(name)), name),
            nullptr);
        const xcb_atom_t result = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        free(reply);
        return result;
    }
    xcb_connection_t *m_connection;
};

} // namespace

// Receives the script's reports.
class Reports : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.velmora.Test")
public:
    QString last;
    int count = 0;
public Q_SLOTS:
    void report(const QString &windows) {
        last = windows;
        ++count;
    }
};

class TestE2eWayland : public QObject {
    Q_OBJECT

private Q_SLOTS:

    void initTestCase() {
        // Runs inside the KWin session (scripts/kwin-session), on its bus.
        m_environment = QProcessEnvironment::systemEnvironment();
        m_environment.remove(u"VELMORA_IN_PRIVATE_KEYRING"_s);
        QVERIFY2(m_environment.contains(u"WAYLAND_DISPLAY"_s), "not in a KWin session");
        const QString address = m_environment.value(u"DBUS_SESSION_BUS_ADDRESS"_s);
        m_bus = std::make_unique<QDBusConnection>(QDBusConnection::sessionBus());
        QVERIFY(m_bus->registerObject(u"/Report"_s, &m_reports, QDBusConnection::ExportAllSlots));
        QVERIFY(m_bus->registerService(u"org.velmora.Test"_s));
        QFile script(m_dir.filePath(u"report.js"_s));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write(reportScript);
        script.close();

        // Native Wayland, with the home of a new user.
        QVERIFY(m_watcher.start(address));
        m_environment.insert(u"QT_QPA_PLATFORM"_s, u"wayland"_s);
        m_environment.insert(u"XDG_SESSION_TYPE"_s, u"wayland"_s);
        m_environment.insert(u"QT_LINUX_ACCESSIBILITY_ALWAYS_ON"_s, u"1"_s);
        testsupport::isolateUserDirs(m_dir.filePath(u"home"_s), &m_environment);
        m_app.setProcessEnvironment(m_environment);
        m_app.setProcessChannelMode(QProcess::ForwardedChannels);
        m_app.start(QStringLiteral(VELMORA_APP_BINARY), {u"--hidden"_s});
        QVERIFY(m_app.waitForStarted(timeoutMs));
        WAIT_UNTIL(!m_watcher.items().isEmpty(), timeoutMs);
        QVERIFY(m_driver.start(m_environment));
    }

    void cleanupTestCase() {
        m_app.terminate();
        if (!m_app.waitForFinished(10000))
            m_app.kill();
        m_app.waitForFinished(5000);
    }

    void panelBesideTheClick_data() {
        // Plasma sends the pointer's point, anywhere on the icon in its bar.
        testsupport::rows<Click>({
            {"bottom right: above it", {1200, 785}},
            {"top left: below it", {100, 12}},
            {"near the top-left corner: below it", {40, 12}},
            {"top right: below it, pushed onto the screen", {1270, 12}},
            {"low in a bottom bar: on the bar's edge", {1200, 791}, 44},
            {"high in a bottom bar: on the bar's edge", {1200, 760}, 44},
        });
    }

    void panelBesideTheClick() {
        FETCH_ROW(Click);
        const auto [name, click, bar] = row;
        const QRect screen(0, 0, 1280, 800);
        std::optional<BottomBar> dock;
        if (bar) {
            dock.emplace(m_environment.value(u"DISPLAY"_s).toLocal8Bit(), screen, bar);
            QTest::qWait(500); // KWin publishes the new work area
        }
        QVERIFY(m_watcher.activate(click));
        std::optional<QList<Window>> shown;
        WAIT_UNTIL((shown = windows()) && shown->size() == 1 && shown->first().active, timeoutMs);
        const Window panel = shown->first();
        const QString seen = u"click %1,%2; panel %3,%4 %5x%6"_s.arg(click.x())
                                 .arg(click.y())
                                 .arg(panel.frame.x())
                                 .arg(panel.frame.y())
                                 .arg(panel.frame.width())
                                 .arg(panel.frame.height());
        QVERIFY2(screen.contains(panel.frame), qPrintable(seen));
        // Beside the click: just above or below it, and reaching over it; on
        // the edge of a bar, never under it.
        const int edge = bar ? screen.bottom() + 1 - bar : click.y();
        const int gap = click.y() < 400 ? panel.frame.top() - edge : edge - panel.frame.bottom();
        QVERIFY2(gap >= 1 && gap <= (bar ? 5 : 12), qPrintable(seen));
        QVERIFY2(panel.frame.left() <= click.x() && click.x() <= panel.frame.right() + 1,
                 qPrintable(seen));
        QVERIFY2(panel.skipTaskbar && panel.skipSwitcher, qPrintable(seen));

        // A second click on the icon closes it.
        QVERIFY(m_watcher.activate(click));
        WAIT_UNTIL((shown = windows()) && shown->isEmpty(), timeoutMs);
    }

    void keysReachThePanel() {
#ifndef VELMORA_FAKE_KEYS_BINARY
        QSKIP("built without KWin's fake input protocol (plasma-wayland-protocols)");
#else
        const auto typeKeys = [&](const QStringList &keys) {
            QProcess keyboard;
            keyboard.setProcessEnvironment(m_environment);
            keyboard.setProcessChannelMode(QProcess::ForwardedChannels);
            keyboard.start(QStringLiteral(VELMORA_FAKE_KEYS_BINARY), keys);
            return keyboard.waitForFinished(timeoutMs) && keyboard.exitCode() == 0;
        };
        const QString field = u"Einrichtungslink einfügen"_s;
        QVERIFY(m_watcher.activate(QPoint(1200, 785)));
        std::optional<QList<Window>> shown;
        WAIT_UNTIL((shown = windows()) && shown->size() == 1 && shown->first().active, timeoutMs);
        QString out;
        DRIVE(out, u"find"_s, u"text"_s, field, u"focused"_s);
        QVERIFY(typeKeys({u"velmora"_s}));
        WAIT_UNTIL(m_driver.run({u"value"_s, u"text"_s, field}, &out) && out == u"velmora"_s,
                   timeoutMs);
        QVERIFY(typeKeys({u"<Escape>"_s}));
        WAIT_UNTIL((shown = windows()) && shown->isEmpty(), timeoutMs);
#endif
    }

    // KWin's idle time: idle after the threshold without input, active again at
    // the first key.
    void idleTimeFromKWin() {
#if !defined(VELMORA_FAKE_KEYS_BINARY) || !VELMORA_WAYLAND_IDLE
        QSKIP("built without the Wayland idle protocols or KWin's fake input");
#else
        for (const char *name : {"WAYLAND_DISPLAY", "XDG_RUNTIME_DIR"})
            qputenv(name, m_environment.value(QString::fromLatin1(name)).toLocal8Bit());
        auto idle = WaylandIdle::create();
        QVERIFY(idle);
        QSignalSpy idled(idle.get(), &IdleSource::idle);
        QSignalSpy active(idle.get(), &IdleSource::active);
        idle->setThreshold(std::chrono::milliseconds(400));
        QVERIFY(idled.wait(5000));
        QCOMPARE(active.size(), 0);
        QProcess keyboard;
        keyboard.setProcessEnvironment(m_environment);
        keyboard.start(QStringLiteral(VELMORA_FAKE_KEYS_BINARY), {u"<Escape>"_s});
        QVERIFY(keyboard.waitForFinished(timeoutMs) && keyboard.exitCode() == 0);
        QVERIFY(active.wait(5000));
#endif
    }

    // Keys typed on the keyboard go to the field that holds the focus when the
    // panel opens, and Esc hides it.
    // A host without dbusmenu asks for our menu: it opens beside the right
    // click, and goes when the user turns to the panel.
    void menuBesideTheRightClick() {
        const QPoint click(1200, 785);
        QVERIFY(m_watcher.activate(click, u"ContextMenu"_s));
        std::optional<QList<Window>> shown;
        WAIT_UNTIL((shown = windows()) && shown->size() == 1 && shown->first().active, timeoutMs);
        const QRect menu = shown->first().frame;
        QVERIFY2(menu.bottom() < click.y() && click.y() - menu.bottom() <= 12 &&
                     menu.left() <= click.x() && click.x() <= menu.right() + 1,
                 qPrintable(u"menu %1,%2 %3x%4"_s.arg(menu.x())
                                .arg(menu.y())
                                .arg(menu.width())
                                .arg(menu.height())));
        QVERIFY(m_watcher.activate(click));
        WAIT_UNTIL((shown = windows()) && shown->size() == 1 && shown->first().frame != menu,
                   timeoutMs);
        QVERIFY(m_watcher.activate(click));
        WAIT_UNTIL((shown = windows()) && shown->isEmpty(), timeoutMs);
    }

private:
    struct Window {
        QRect frame;
        bool active = false, skipTaskbar = false, skipSwitcher = false;
    };
    // The app's windows as KWin has them now.
    std::optional<QList<Window>> windows();

    QTemporaryDir m_dir;
    QProcessEnvironment m_environment;
    SniWatcher m_watcher;
    std::unique_ptr<QDBusConnection> m_bus;
    Reports m_reports;
    QProcess m_app;
    AtspiDriver m_driver;
    int m_script = 0;
};

std::optional<QList<TestE2eWayland::Window>> TestE2eWayland::windows() {
    const int before = m_reports.count;
    const QString name = u"velmora-report-%1"_s.arg(++m_script);
    QDBusMessage load = QDBusMessage::createMethodCall(
        u"org.kde.KWin"_s, u"/Scripting"_s, u"org.kde.kwin.Scripting"_s, u"loadScript"_s);
    load << m_dir.filePath(u"report.js"_s) << name;
    const QDBusMessage loaded = m_bus->call(load);
    if (loaded.type() != QDBusMessage::ReplyMessage)
        return std::nullopt;
    const int id = loaded.arguments().value(0).toInt();
    m_bus->call(QDBusMessage::createMethodCall(u"org.kde.KWin"_s, u"/%1"_s.arg(id),
                                               u"org.kde.kwin.Script"_s, u"run"_s));
    const bool reported = QTest::qWaitFor([&] { return m_reports.count > before; }, 5000);
    QDBusMessage unload = QDBusMessage::createMethodCall(
        u"org.kde.KWin"_s, u"/Scripting"_s, u"org.kde.kwin.Scripting"_s, u"unloadScript"_s);
    unload << name;
    m_bus->call(unload);
    if (!reported)
        return std::nullopt;
    QList<Window> result;
    for (const QString &entry : m_reports.last.split(u';', Qt::SkipEmptyParts)) {
        const QStringList v = entry.split(u' ');
        if (v.size() == 7)
            result.append({QRect(v[0].toInt(), v[1].toInt(), v[2].toInt(), v[3].toInt()),
                           v[4] == u"1"_s, v[5] == u"1"_s, v[6] == u"1"_s});
    }
    return result;
}

QTEST_GUILESS_MAIN(TestE2eWayland)
#include "tst_e2e_wayland.moc"
