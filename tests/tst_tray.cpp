// The app shell: the tray symbol follows the state and is set only when it
// changes, the plain window when there is no tray, where the popup goes, and
// the start at login; where the panel goes per session, and what a
// StatusNotifier host sees of our item.

#include "app/settingsmenu.h"
#include "app/velmoratimeapp.h"
#include "desktop/loginitem.h"
#include "mockbus.h"
#include "modelfixture.h"
#include "sniwatcher.h"
#include "tray/dbusmenu.h"
#include "tray/panelwindow.h"
#include "tray/statusnotifieritem.h"
#include "tray/symbols.h"
#include "tray/timermenu.h"
#include "tray/tray.h"
#include "ui/menu.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDir>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTemporaryDir>

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

namespace {

const QString itemPath = u"/StatusNotifierItem"_s, sni = u"org.kde.StatusNotifierItem"_s;
const QString menuPath = u"/MenuBar"_s, dbusmenu = u"com.canonical.dbusmenu"_s;

// No tray here (offscreen), so a short wait; no update feed.
AppOptions quietOptions(std::chrono::milliseconds trayWait) {
    AppOptions options;
    options.tray.trayWait = trayWait;
    options.appcastUrl = QUrl();
    options.automaticUpdateChecks = false;
    return options;
}

QImage iconImage(const QIcon &icon, int size = 32) {
    return icon.pixmap(size, size).toImage().convertToFormat(QImage::Format_ARGB32);
}

QByteArray readAll(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &content) {
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly) &&
           file.write(content) == content.size();
}

struct Autostart {
    const char *name;
    QString program; // inside a temporary folder
    QString exec;    // %1: that folder
};

// Where a 340 x 400 panel goes, per session, for what the tray told us.
struct Where {
    const char *name;
    SessionKind session;
    PlacementMethod method;
    QRect available; // of the screen clicked on
    QPoint expected;
    QPoint click = {-1, -1}; // (-1, -1): the host did not say
    QRect icon = {};
    qreal scale = 1;                 // of that screen
    QList<ScreenScale> screens = {}; // instead, when there are more
};

} // namespace

// A StatusNotifier host on a bus connection of its own: it calls the item
// (every item, when none is named) and counts the new icons it is told of.
class Host : public QObject {
    Q_OBJECT
public:
    explicit Host(const QString &item = {})
        : m_item(item) {
        m_bus.connect(item, itemPath, sni, u"NewIcon"_s, this, SLOT(countNewIcon()));
    }
    ~Host() override { QDBusConnection::disconnectFromBus(u"velmora-test-host"_s); }

    // The reply's argument `index`.
    QVariant call(const QString &path, const QString &interface, const QString &method,
                  const QVariantList &arguments, int index = 0) {
        QDBusMessage message = QDBusMessage::createMethodCall(m_item, path, interface, method);
        message.setArguments(arguments);
        QDBusPendingCall pending = m_bus.asyncCall(message);
        (void)QTest::qWaitFor([&] { return pending.isFinished(); }, 5000);
        return pending.reply().arguments().value(index);
    }
    QVariant property(const QString &name) {
        return call(itemPath, u"org.freedesktop.DBus.Properties"_s, u"Get"_s, {sni, name})
            .value<QDBusVariant>()
            .variant();
    }
    DBusMenuLayout layout() {
        return qdbus_cast<DBusMenuLayout>(
            call(menuPath, dbusmenu, u"GetLayout"_s, {0, -1, QStringList()}, 1)
                .value<QDBusArgument>());
    }
    void click(int id) {
        call(menuPath, dbusmenu, u"Event"_s,
             {id, u"clicked"_s, QVariant::fromValue(QDBusVariant(0)), 0u});
    }

    int newIcons = 0;

public Q_SLOTS:
    void countNewIcon() { ++newIcons; }

private:
    QString m_item;
    QDBusConnection m_bus = QDBusConnection::connectToBus(
        qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"), u"velmora-test-host"_s);
};

class TestTray : public QObject {
    Q_OBJECT

    MockBus m_bus;
    void network(uint state) { // 20: disconnected, 70: connected
        m_bus.mock(u"org.freedesktop.NetworkManager"_s, u"/org/freedesktop/NetworkManager"_s,
                   u"SetGlobalConnectionState"_s, {state});
    }
    void sleep(bool sleeping) {
        m_bus.mock(u"org.freedesktop.login1"_s, u"/org/freedesktop/login1"_s, u"EmitSignal"_s,
                   {u"org.freedesktop.login1.Manager"_s, u"PrepareForSleep"_s, u"b"_s,
                    QVariantList{sleeping}});
    }

private Q_SLOTS:
    void initTestCase() {
        // Buses of our own, with logind and NetworkManager on the system bus.
        QVERIFY(m_bus.start());
        QVERIFY(
            m_bus.add({u"--system"_s, u"--template"_s, u"logind"_s}, u"org.freedesktop.login1"_s));
        QVERIFY(m_bus.add({u"--system"_s, u"--template"_s, u"networkmanager"_s},
                          u"org.freedesktop.NetworkManager"_s));
    }

    // With a StatusNotifier host on the bus the icon is an item, and the
    // host is told of each new icon.
    void iconFollowsTheTimer() {
        const QString name = u"org.kde.StatusNotifierWatcher"_s, path = u"/StatusNotifierWatcher"_s;
        QProcess watcher; // the host's, as dbusmock plays it
        watcher.start(u"/usr/bin/python3"_s, {u"-m"_s, u"dbusmock"_s, name, path, name});
        const QDBusConnectionInterface *bus = QDBusConnection::sessionBus().interface();
        QTRY_VERIFY_WITH_TIMEOUT(bus->isServiceRegistered(name), 20000);
        m_bus.mock(
            name, path, u"AddProperty"_s,
            {name, u"IsStatusNotifierHostRegistered"_s, QVariant::fromValue(QDBusVariant(true))});

        ModelFixture fixture;
        QVERIFY(fixture.started());
        DevServer &server = fixture.server();
        server.stopEntryFor(server.memberId());
        std::unique_ptr<Model> owned = fixture.signedInModel(server.memberId());
        QVERIFY(owned);
        const Rate rate = owned->state()->rates.value(0);
        VelmoraTimeApp app(std::move(owned), quietOptions(10s));
        Model *model = app.model();
        QSignalSpy changes(app.tray(), &Tray::iconNameChanged);
        // Both symbols draw at the sizes trays ask for, told apart at a glance.
        for (const int size : {16, 22, 48}) {
            const QImage timer = iconImage(symbolIcon(u"timer"_s), size);
            QCOMPARE(timer.size(), QSize(size, size));
            QVERIFY(timer != iconImage(symbolIcon(u"record.circle.fill"_s), size));
        }
        QCOMPARE(app.tray()->iconName(), u"timer"_s);
        QTRY_VERIFY(app.tray()->hasTray());
        Host host;
        const auto startElsewhere = [&] {
            server.startEntryFor(server.memberId(), rate.clientId, rate.reasonId, QString(),
                                 QDateTime::currentMSecsSinceEpoch() - 60'000.0);
            return finishes(model->refresh());
        };

        // A timer started on another device shows after the next reload, in
        // the window's icon too.
        QVERIFY(startElsewhere());
        QCOMPARE(app.tray()->iconName(), u"record.circle.fill"_s);
        QCOMPARE(changes.size(), 1);
        QTRY_COMPARE(host.newIcons, 1);
        QCOMPARE(iconImage(app.tray()->panelWindow()->windowIcon()),
                 iconImage(symbolIcon(u"record.circle.fill"_s)));
        // Reloads that change nothing about it set nothing, even when other
        // parts of the state change.
        QVERIFY(finishes(model->refresh()));
        server.setNinjaSynced(false);
        QVERIFY(finishes(model->refresh()));
        QCOMPARE(changes.size(), 1);

        server.stopEntryFor(server.memberId());
        QVERIFY(finishes(model->refresh()));
        QCOMPARE(app.tray()->iconName(), u"timer"_s);
        QCOMPARE(iconImage(app.tray()->panelWindow()->windowIcon()),
                 iconImage(symbolIcon(u"timer"_s)));

        // Signing out drops the state, and with it the running timer.
        QVERIFY(startElsewhere());
        QVERIFY(finishes(model->logout()));
        QCOMPARE(app.tray()->iconName(), u"timer"_s);
        QCOMPARE(changes.size(), 4);
        QTRY_COMPARE(host.newIcons, 4);
        watcher.kill();
        QTRY_VERIFY(!bus->isServiceRegistered(name)); // for the tests after this one
    }

    // Signed in from the keyring, the state comes at once, not with the first
    // tick; the network's loss is said once and costs no requests, its return
    // and a wake from sleep each reload at once.
    void rightThroughTheDay() {
        ModelFixture fixture;
        QVERIFY(fixture.started());
        DevServer &server = fixture.server();
        const QString member = server.memberId();
        // No tray and no window yet: nothing else would load the state.
        VelmoraTimeApp app(
            fixture.newModel(std::make_shared<MemoryTokenStore>(server.issueToken(member))),
            quietOptions(10s));
        Model *model = app.model();
        QCOMPARE(app.tray()->toolTip(), u"Wird geladen …"_s);
        QTRY_VERIFY_WITH_TIMEOUT(model->state(), 2000);
        QVERIFY(model->state()->running);
        QCOMPARE(app.tray()->iconName(), u"record.circle.fill"_s);

        // The network goes, really: reloads fail, and say so in one sentence.
        server.setFault(u"/api/state"_s, Fault{.drop = true});
        network(20);
        QTRY_VERIFY(model->offline());
        QCOMPARE(model->message(), offlineText());
        QVERIFY(app.tray()->toolTip().endsWith(u'\n' + offlineText()));
        QVERIFY(finishes(model->refresh()));
        QCOMPARE(model->message(), offlineText());
        server.clearFaults();
        server.clearRequests();

        server.stopEntryFor(member);
        network(70);
        QTRY_VERIFY(model->state() && !model->state()->running);
        QCOMPARE(server.requestsTo(u"/api/state"_s).size(), 1);
        QCOMPARE(model->message(), QString());
        QCOMPARE(app.tray()->toolTip(), u"Kein Timer läuft"_s);

        // NetworkManager may say "disconnected" of a connection it does not
        // manage: the server's answer counts, and nothing stays stuck offline.
        network(20);
        QTRY_VERIFY(model->offline());
        model->runAutomaticRefresh();
        QTRY_VERIFY(!model->offline() && model->message().isEmpty());
        QCOMPARE(app.tray()->toolTip(), u"Kein Timer läuft"_s);

        const Rate rate = model->state()->rates.value(0);
        server.startEntryFor(member, rate.clientId, rate.reasonId, QString(),
                             QDateTime::currentMSecsSinceEpoch() - 60'000.0);
        // Going to sleep reloads nothing; waking up reloads once.
        server.clearRequests();
        sleep(true);
        QTest::qWait(300);
        QCOMPARE(server.requestsTo(u"/api/state"_s).size(), 0);
        sleep(false);
        QTRY_VERIFY(model->state() && model->state()->running);
        QCOMPARE(server.requestsTo(u"/api/state"_s).size(), 1);

        // Started while the system still says there is no network: told at once.
        VelmoraTimeApp later(fixture.newModel(), quietOptions(10s));
        QTRY_VERIFY(later.model()->offline());
        network(70);
        QTRY_VERIFY(!later.model()->offline());
    }

    void withoutTrayThePanelIsAWindow() {
        QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
        ModelFixture fixture;
        QVERIFY(fixture.started());
        VelmoraTimeApp app(fixture.newModel(), quietOptions(300ms));
        QSignalSpy ready(app.tray(), &Tray::ready);
        // A show request during the wait for a tray is kept for its end.
        app.showPanel();
        QVERIFY(!app.tray()->panelWindow()->isVisible());

        QVERIFY(ready.wait(10000));
        QVERIFY(!app.tray()->hasTray());
        PanelWindow *window = app.tray()->panelWindow();
        QVERIFY(window->isVisible() && window->windowType() == Qt::Window &&
                !(window->windowFlags() & Qt::FramelessWindowHint));
        QCOMPARE(window->windowTitle(), u"velmora Zeit"_s);
        // Its menu bar offers what the tray menu would.
        const QMenuBar *menuBar = window->findChild<QMenuBar *>();
        QVERIFY(menuBar && menuBar->isVisible());
        QVERIFY(app.settingsMenu()->actions().contains(app.settingsMenu()->startAtLoginAction()));
        QCOMPARE(window->size(), app.tray()->menu()->sizeHint() + QSize(0, menuBar->height()));
        QCOMPARE(app.tray()->menu()->geometry().top(), menuBar->geometry().bottom() + 1);

        // The window is the whole app: it does not hide, and closing it quits.
        app.tray()->togglePanel();
        app.tray()->hidePanel();
        QVERIFY(window->isVisible());
        QSignalSpy closing(window, &PanelWindow::closeRequested);
        window->close();
        QCOMPARE(closing.size(), 1);
    }

    void startAtLogin() {
        QTemporaryDir config;
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
        const QString entry = config.filePath(u"autostart/de.velmora.zeit.desktop"_s);
        QCOMPARE(XdgAutostart::entryPath(), entry);
        ModelFixture fixture;
        VelmoraTimeApp app(fixture.newModel(), quietOptions(0ms));
        QTRY_VERIFY(app.tray()->isReady());
        QAction *toggle = app.settingsMenu()->startAtLoginAction();
        QVERIFY(toggle->isCheckable() && toggle->isVisible() && !toggle->isChecked());
        QCOMPARE(toggle->text(), u"Beim Anmelden starten"_s);
        // The check mark is read afresh whenever the menu opens.
        const auto menuShowsChecked = [&app, toggle] {
            app.settingsMenu()->popup(QPoint(0, 0));
            app.settingsMenu()->hide();
            return toggle->isChecked();
        };

        toggle->trigger();
        QVERIFY(toggle->isChecked());
        const QByteArray written = readAll(entry);
        QVERIFY2(written.contains("\nX-GNOME-Autostart-enabled=true\n"), written.constData());
        toggle->trigger();
        QVERIFY(!toggle->isChecked() && !QFile::exists(entry));

        // Switched on, then removed or switched off elsewhere.
        toggle->trigger();
        QVERIFY(QFile::remove(entry));
        QVERIFY(!menuShowsChecked());
        QVERIFY(writeFile(entry, written));
        QVERIFY(menuShowsChecked());
        QVERIFY(writeFile(entry, written + "Hidden=true\n"));
        QVERIFY(!menuShowsChecked());
        toggle->trigger(); // on again: the entry is written afresh
        QVERIFY(menuShowsChecked());
        QCOMPARE(readAll(entry), written);

        // A folder that cannot be made: the mark stays off and a German
        // message says what failed.
        QVERIFY(QDir(config.filePath(u"autostart"_s)).removeRecursively());
        QVERIFY(writeFile(config.filePath(u"autostart"_s), "not a folder"));
        QVERIFY(!menuShowsChecked());
        toggle->trigger();
        QVERIFY(!toggle->isChecked());
        QMessageBox *box = nullptr;
        QTRY_VERIFY((box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())));
        QVERIFY2(box->text().startsWith(u"Der Start beim Anmelden ließ sich nicht einrichten: "_s +
                                        entry),
                 qPrintable(box->text()));
        box->close();
        qunsetenv("XDG_CONFIG_HOME");
    }

    // An installed app is found on PATH by its name, which survives moves
    // between /usr/bin and /usr/local/bin; a build runs from where it is.
    void autostartCommand_data() {
        testsupport::rows<Autostart>(
            {{"installed", u"bin/velmora-time"_s, u"velmora-time --hidden"_s},
             {"build tree", u"build/velmora-time"_s, u"%1/build/velmora-time --hidden"_s},
             {"space in the path", u"my build/velmora-time"_s,
              u"\"%1/my build/velmora-time\" --hidden"_s},
             {"characters to escape", u"100%$/velmora-time"_s,
              u"\"%1/100%%\\\\$/velmora-time\" --hidden"_s}});
    }
    void autostartCommand() {
        FETCH_ROW(Autostart);
        QTemporaryDir dir;
        for (const QString &path : {u"bin/velmora-time"_s, row.program}) {
            QVERIFY(writeFile(dir.filePath(path), "#!/bin/sh\n"));
            QVERIFY(QFile::setPermissions(dir.filePath(path), QFile::ReadOwner | QFile::ExeOwner));
        }
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath(u"config"_s)));
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(dir.filePath(u"bin"_s)) + ':' + path);

        XdgAutostart item(dir.filePath(row.program));
        QCOMPARE(item.setEnabled(true), QString());
        QVERIFY(item.isEnabled());
        const QByteArray entry = readAll(XdgAutostart::entryPath());
        const QByteArray line = "\nExec=" + row.exec.arg(dir.path()).toUtf8() + '\n';
        QVERIFY2(entry.contains(line), entry.constData());
        qputenv("PATH", path);
        qunsetenv("XDG_CONFIG_HOME");
    }

    void panelPlacement_data() {
        const QPoint none(-1, -1);
        const QRect full(0, 0, 1920, 1080), belowBar(0, 32, 1920, 1048);
        // Side by side, each 1920 x 1080 pixels: at scale 2, and at 1.5.
        const ScreenScale left{QRect(0, 0, 960, 540), 2}, right{QRect(1920, 0, 1280, 720), 1.5};
        const QList<ScreenScale> screens{left, right};
        using enum SessionKind;
        using enum PlacementMethod;
        testsupport::rows<Where>({
            // X trays say where the icon is.
            {"X11 icon bottom right: above, pushed left", X11, Move, full,
             QPoint(1920 - 340, 1050 - 404), none, QRect(1880, 1050, 24, 24)},
            {"X11 icon at the top: centred under it", X11, Move, full,
             QPoint(1011 - 170, 4 + 24 + 4), none, QRect(1000, 4, 24, 24)},
            {"X11 icon top right, below a bar", X11, Move, belowBar, QPoint(1920 - 340, 32), none,
             QRect(1800, 4, 24, 24)},
            {"X11 icon on a second screen", X11, Move, QRect(1920, 0, 1280, 1080),
             QPoint(1920 + 711 - 170, 1050 - 404), none, QRect(1920 + 700, 1050, 24, 24)},
            {"X11 screen lower than the panel", X11, Move, QRect(0, 0, 800, 320),
             QPoint(600 + 11 - 170, 0), none, QRect(600, 300, 24, 24)},
            // StatusNotifier hosts send the click; it wins over the pointer.
            {"X11 click at the bottom left: above it", X11, Move, full, QPoint(0, 1070 - 404),
             QPoint(15, 1070)},
            {"X11 click near the right edge, upper half", X11, Move, full,
             QPoint(1920 - 340, 500 + 1 + 4), QPoint(1915, 500)},
            {"X11 no click: at the pointer", X11, Move, full, QPoint(640 - 170, 400 + 1 + 4)},
            {"XWayland no click: the pointer is stale, top-right corner", XWayland, Move, belowBar,
             QPoint(1920 - 340 - 8, 32 + 8)},
            {"XWayland click in a top bar: below it", XWayland, Move, belowBar,
             QPoint(900 - 170, 32), QPoint(900, 12)},
            // Hosts on X send X pixels; Qt counts each screen from its top-left
            // corner in its own units.
            {"X11 click on the second of two screens", X11, Move, right.geometry,
             QPoint(1920 + 400 - 170, 600 - 404), QPoint(1920 + 600, 900), QRect(), 0, screens},
            {"XWayland click on the first of two screens", XWayland, Move, left.geometry,
             QPoint(500 - 170, 500 - 404), QPoint(1000, 1000), QRect(), 0, screens},
            {"KWin click is in Qt's units already", KWinWayland, PlasmaSurface, full,
             QPoint(1200 - 170, 700 - 404), QPoint(1200, 700), QRect(), 2},
            {"KWin click: through the plasma shell", KWinWayland, PlasmaSurface, full,
             QPoint(1200 - 170, 1070 - 404), QPoint(1200, 1070)},
            {"KWin no click: top-right corner", KWinWayland, PlasmaSurface, full,
             QPoint(1920 - 340 - 8, 8)},
            {"Hyprland: the compositor places it", OtherWayland, Compositor, full, QPoint(),
             QPoint(1200, 1070)},
            {"sway: beside a global click, over its socket", Sway, SwayIpc, full,
             QPoint(1200 - 170, 1070 - 404), QPoint(1200, 1070)},
            {"sway: a click relative to the icon gives no anchor", Sway, SwayIpc, full,
             QPoint(1920 - 340 - 8, 8), QPoint(12, 9)},
            // Only hosts on wlroots send points relative to the icon, near the origin.
            {"KWin click near the top-left corner: below it", KWinWayland, PlasmaSurface, full,
             QPoint(0, 12 + 1 + 4), QPoint(40, 12)},
            {"XWayland click near the origin is a real one", XWayland, Move, belowBar,
             QPoint(0, 32), QPoint(64, 20)},
            {"KWin (0, 0): no point, top-right corner", KWinWayland, PlasmaSurface, full,
             QPoint(1920 - 340 - 8, 8), QPoint(0, 0)},
            // The panel rests on a bottom bar's edge wherever on the icon the click lands.
            {"KWin click inside a bottom bar: on its edge", KWinWayland, PlasmaSurface,
             QRect(0, 0, 1920, 1036), QPoint(1200 - 170, 1036 - 400), QPoint(1200, 1070)},
        });
    }
    void panelPlacement() {
        FETCH_ROW(Where);
        const std::optional<QPoint> click =
            row.click.x() < 0 ? std::nullopt : usableClick(row.session, row.click);
        const QPoint stalePointer(640, 400);
        const Placement placement = ::panelPlacement(
            row.session, row.icon, click, stalePointer,
            row.screens.isEmpty() ? QList<ScreenScale>{{row.available, row.scale}} : row.screens);
        QCOMPARE(placement.method, row.method);
        if (row.method != PlacementMethod::Compositor)
            QCOMPARE(panelPosition(placement.anchor, QSize(340, 400), row.available), row.expected);
    }

    // What a StatusNotifier host reads and calls: the item's properties, the
    // click's point, and the menu as dbusmenu, whose checks and radios stay
    // true after a click.
    void statusNotifierItem() {
        QMenu menu;
        menu.addAction(u"Beim Anmelden starten"_s)->setCheckable(true);
        QMenu *remind = menu.addMenu(u"Erinnern nach"_s);
        auto *group = new QActionGroup(remind);
        for (const QString &text : {u"4 Stunden"_s, u"8 Stunden"_s})
            group->addAction(remind->addAction(text))->setCheckable(true);
        remind->actions().at(1)->setChecked(true);
        StatusNotifierItem item(&menu);
        item.setIconName(u"timer"_s);
        item.setToolTip(u"Kein Timer läuft"_s);
        QVERIFY(!item.serviceName().isEmpty());

        Host host(item.serviceName());
        QCOMPARE(host.property(u"Id"_s).toString(), u"de.velmora.zeit"_s);
        QCOMPARE(host.property(u"Title"_s).toString(), u"velmora Zeit"_s);
        QCOMPARE(host.property(u"Menu"_s).value<QDBusObjectPath>().path(), menuPath);
        const auto toolTip =
            qdbus_cast<SniToolTip>(host.property(u"ToolTip"_s).value<QDBusArgument>());
        QCOMPARE(toolTip.title, u"velmora Zeit"_s);
        QCOMPARE(toolTip.text, u"Kein Timer läuft"_s);
        const auto pixmaps =
            qdbus_cast<SniPixmaps>(host.property(u"IconPixmap"_s).value<QDBusArgument>());
        QVERIFY(!pixmaps.isEmpty());
        QCOMPARE(pixmaps.first().argb.size(), pixmaps.first().width * pixmaps.first().height * 4);
        // A themed name only for a symbol installed into the hicolor theme.
        QTemporaryDir data;
        qputenv("XDG_DATA_HOME", QFile::encodeName(data.filePath(u"home"_s)));
        qputenv("XDG_DATA_DIRS", QFile::encodeName(data.path()));
        QCOMPARE(host.property(u"IconName"_s).toString(), QString());
        QVERIFY(writeFile(
            data.filePath(u"icons/hicolor/scalable/status/de.velmora.zeit-timer.svg"_s), "<svg/>"));
        QCOMPARE(host.property(u"IconName"_s).toString(), u"de.velmora.zeit-timer"_s);
        item.setIconName(u"record.circle.fill"_s);
        QCOMPARE(host.property(u"IconName"_s).toString(), QString());
        qunsetenv("XDG_DATA_HOME");
        qunsetenv("XDG_DATA_DIRS");

        // A click's point reaches the tray as the host sent it.
        QSignalSpy activated(&item, &StatusNotifierItem::activated);
        host.call(itemPath, sni, u"Activate"_s, {1200, 780});
        QCOMPARE(activated.takeFirst().at(0).value<QPoint>(), QPoint(1200, 780));

        // Told only when something changed.
        QSignalSpy layoutUpdated(item.dbusMenu(), &DBusMenu::layoutUpdated);
        DBusMenuLayout root = host.layout();
        QCOMPARE(root.children.size(), 2);
        QCOMPARE(root.children[0].properties.value(u"label"_s).toString(),
                 u"Beim Anmelden starten"_s);
        QCOMPARE(root.children[0].properties.value(u"toggle-type"_s).toString(), u"checkmark"_s);
        const DBusMenuLayout &hours = root.children[1];
        QCOMPARE(hours.properties.value(u"children-display"_s).toString(), u"submenu"_s);
        QCOMPARE(hours.children[0].properties.value(u"toggle-type"_s).toString(), u"radio"_s);
        QCOMPARE(hours.children[0].properties.value(u"toggle-state"_s).toInt(), 0);
        QCOMPARE(hours.children[1].properties.value(u"toggle-state"_s).toInt(), 1);
        QCOMPARE(layoutUpdated.size(), 0);

        host.click(hours.children[0].id);
        QTRY_COMPARE(layoutUpdated.size(), 1); // one update for both radios
        root = host.layout();
        QCOMPARE(root.children[1].children[0].properties.value(u"toggle-state"_s).toInt(), 1);
        QCOMPARE(root.children[1].children[1].properties.value(u"toggle-state"_s).toInt(), 0);
        QVERIFY(remind->actions().at(0)->isChecked());

        // A watcher that comes up gets the item; dropped by it, the item comes back.
        SniWatcher watcher;
        QVERIFY(watcher.start(qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS")));
        QTRY_COMPARE(watcher.items(), QStringList{item.serviceName()});
        Q_EMIT watcher.StatusNotifierItemUnregistered(item.serviceName());
        QTRY_COMPARE(watcher.items().size(), 2);
        watcher.stop();
    }

    // The timer's entries of the exported menu, read and clicked over D-Bus
    // as a host does: stop names the running pair, the other recent pairs
    // switch, the host is told only of real changes, and nothing is offered
    // signed out.
    void timerEntriesAsAHostReadsThem() {
        ModelFixture fixture;
        QVERIFY(fixture.started());
        DevServer &server = fixture.server();
        auto model = fixture.signedInModel(server.memberId()); // Müller GmbH · Entwicklung runs
        QVERIFY(model);
        TimerMenu timer(model.get());
        // Its own menu (the window's, without a tray) is there for the stop
        // alone too.
        QVERIFY(timer.menuAction()->isVisible());
        QVERIFY(finishes(model->startPair({u"c4"_s, 3})));
        QMenu menu;
        menu.addActions(timer.entries());
        menu.addAction(u"Öffnen"_s);
        StatusNotifierItem item(&menu);
        Host host(item.serviceName());
        // The visible entries' labels, "-" for a separator, "(off)" when disabled.
        QList<int> ids;
        const auto shown = [&] {
            const DBusMenuLayout root = host.layout();
            QStringList labels;
            ids.clear();
            for (const DBusMenuLayout &entry : root.children) {
                const QVariantMap &p = entry.properties;
                if (!p.value(u"visible"_s, true).toBool())
                    continue;
                labels << (p.value(u"type"_s) == u"separator"_s ? u"-"_s
                                                                : p.value(u"label"_s).toString()) +
                              (p.value(u"enabled"_s, true).toBool() ? QString() : u" (off)"_s);
                ids << entry.id;
            }
            return labels;
        };
        QCOMPARE(shown(), (QStringList{u"Timer stoppen – Bäckerei Schäfer · Support"_s,
                                       u"Müller GmbH · Entwicklung"_s, u"-"_s, u"Öffnen"_s}));

        QSignalSpy layoutUpdated(item.dbusMenu(), &DBusMenu::layoutUpdated);
        QVERIFY(finishes(model->refresh()));
        QTest::qWait(50);
        QCOMPARE(layoutUpdated.size(), 0); // the same state: nothing to redraw

        server.clearRequests();
        host.click(ids[1]);
        QTRY_COMPARE(shown(), (QStringList{u"Timer stoppen – Müller GmbH · Entwicklung"_s,
                                           u"Bäckerei Schäfer · Support"_s, u"-"_s, u"Öffnen"_s}));
        QTRY_VERIFY(!model->busy());
        QCOMPARE(server.requestsTo(u"/api/time/start"_s).size(), 1);
        QVERIFY(layoutUpdated.size() >= 1);

        QVERIFY(finishes(model->logout()));
        QTRY_COMPARE(shown(), QStringList{u"Öffnen"_s});
        QVERIFY(!timer.menuAction()->isVisible());
    }
};

QTEST_MAIN(TestTray)
#include "tst_tray.moc"
