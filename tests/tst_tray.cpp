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

} // namespace

class TestTray : public QObject {
    Q_OBJECT

    MockBus m_bus;
    void network(uint state) { // 20: disconnected, 70: connected
        m_bus.mock(u"org.freedesktop.NetworkManager"_s, u"/org/freedesktop/NetworkManager"_s,
                   u"SetGlobalConnectionState"_s, {state});
    }
    void resume() {
        for (const bool sleeping : {true, false})
            m_bus.mock(u"org.freedesktop.login1"_s, u"/org/freedesktop/login1"_s, u"EmitSignal"_s,
                       {u"org.freedesktop.login1.Manager"_s, u"PrepareForSleep"_s, u"b"_s,
                        QVariantList{sleeping}});
    }

private Q_SLOTS:
    void initTestCase();
    void iconFollowsTheTimer();
    void rightThroughTheDay();
    void withoutTrayThePanelIsAWindow();
    void startAtLogin();
    void autostartCommand_data();
    void autostartCommand();
    void panelPlacement_data();
    void panelPlacement();
    void statusNotifierItem();
    void timerEntriesAsAHostReadsThem();
};

void TestTray::initTestCase() {
    // Buses of our own, with logind and NetworkManager on the system bus.
    QVERIFY(m_bus.start());
    QVERIFY(m_bus.add({u"--system"_s, u"--template"_s, u"logind"_s}, u"org.freedesktop.login1"_s));
    QVERIFY(m_bus.add({u"--system"_s, u"--template"_s, u"networkmanager"_s},
                      u"org.freedesktop.NetworkManager"_s));
}

// Signed in from the keyring, the state comes at once, not with the first
// tick; the network's loss is said once and costs no requests, its return
// and a wake from sleep each reload at once.
void TestTray::rightThroughTheDay() {
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
    resume();
    QTRY_VERIFY(model->state() && model->state()->running);

    // Started while the system still says there is no network: told at once.
    VelmoraTimeApp later(fixture.newModel(), quietOptions(10s));
    QTRY_VERIFY(later.model()->offline());
    network(70);
    QTRY_VERIFY(!later.model()->offline());
}

void TestTray::iconFollowsTheTimer() {
    ModelFixture fixture;
    QVERIFY(fixture.started());
    DevServer &server = fixture.server();
    server.stopEntryFor(server.memberId());
    std::unique_ptr<Model> owned = fixture.signedInModel(server.memberId());
    QVERIFY(owned);
    const Rate rate = owned->state()->rates.value(0);
    VelmoraTimeApp app(std::move(owned), quietOptions(0ms));
    Model *model = app.model();
    QSignalSpy changes(app.tray(), &Tray::iconNameChanged);
    // Both symbols draw at the sizes trays ask for, told apart at a glance.
    for (const int size : {16, 22, 48}) {
        const QImage timer = iconImage(symbolIcon(u"timer"_s), size);
        QCOMPARE(timer.size(), QSize(size, size));
        QVERIFY(timer != iconImage(symbolIcon(u"record.circle.fill"_s), size));
    }
    QCOMPARE(app.tray()->iconName(), u"timer"_s);
    QTRY_VERIFY(app.tray()->isReady());
    const auto startElsewhere = [&] {
        server.startEntryFor(server.memberId(), rate.clientId, rate.reasonId, QString(),
                             QDateTime::currentMSecsSinceEpoch() - 60'000.0);
        return finishes(model->refresh());
    };

    // A timer started on another device shows after the next reload, in the
    // window's icon too when there is no tray.
    QVERIFY(startElsewhere());
    QCOMPARE(app.tray()->iconName(), u"record.circle.fill"_s);
    QCOMPARE(changes.size(), 1);
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
    QCOMPARE(iconImage(app.tray()->panelWindow()->windowIcon()), iconImage(symbolIcon(u"timer"_s)));

    // Signing out drops the state, and with it the running timer.
    QVERIFY(startElsewhere());
    QVERIFY(finishes(model->logout()));
    QCOMPARE(app.tray()->iconName(), u"timer"_s);
    QCOMPARE(changes.size(), 4);
}

void TestTray::withoutTrayThePanelIsAWindow() {
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
    QVERIFY(window->isVisible());
    QCOMPARE(window->windowType(), Qt::Window);
    QVERIFY(!(window->windowFlags() & Qt::FramelessWindowHint));
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

void TestTray::startAtLogin() {
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
    QVERIFY2(written.contains("\nExec=") && written.contains(" --hidden\n") &&
                 written.contains("\nX-GNOME-Autostart-enabled=true\n"),
             written.constData());
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

    // A folder that cannot be made: the mark stays off and a German message
    // says what failed.
    QVERIFY(QDir(config.filePath(u"autostart"_s)).removeRecursively());
    QVERIFY(writeFile(config.filePath(u"autostart"_s), "not a folder"));
    QVERIFY(!menuShowsChecked());
    toggle->trigger();
    QVERIFY(!toggle->isChecked());
    const auto messageBox = []() -> QMessageBox * {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            if (auto *box = qobject_cast<QMessageBox *>(widget); box && box->isVisible())
                return box;
        }
        return nullptr;
    };
    QTRY_VERIFY(messageBox());
    QMessageBox *box = messageBox();
    QVERIFY2(
        box->text().startsWith(u"Der Start beim Anmelden ließ sich nicht einrichten: "_s + entry),
        qPrintable(box->text()));
    box->close();
    qunsetenv("XDG_CONFIG_HOME");
}

void TestTray::autostartCommand_data() {
    QTest::addColumn<QString>("program"); // inside a temporary folder
    QTest::addColumn<QString>("exec");    // %1: that folder

    // An installed app is found on PATH by its name, which survives moves
    // between /usr/bin and /usr/local/bin; a build runs from where it is.
    QTest::newRow("installed") << u"bin/velmora-time"_s << u"velmora-time --hidden"_s;
    QTest::newRow("build tree") << u"build/velmora-time"_s << u"%1/build/velmora-time --hidden"_s;
    QTest::newRow("space in the path")
        << u"my build/velmora-time"_s << u"\"%1/my build/velmora-time\" --hidden"_s;
    QTest::newRow("characters to escape")
        << u"100%$/velmora-time"_s << u"\"%1/100%%\\\\$/velmora-time\" --hidden"_s;
}

void TestTray::autostartCommand() {
    QFETCH(QString, program);
    QFETCH(QString, exec);
    QTemporaryDir dir;
    for (const QString &path : {u"bin/velmora-time"_s, program}) {
        QVERIFY(writeFile(dir.filePath(path), "#!/bin/sh\n"));
        QVERIFY(QFile::setPermissions(dir.filePath(path), QFile::ReadOwner | QFile::ExeOwner));
    }
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath(u"config"_s)));
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(dir.filePath(u"bin"_s)) + ':' + path);

    XdgAutostart item(dir.filePath(program));
    QCOMPARE(item.setEnabled(true), QString());
    QVERIFY(item.isEnabled());
    const QByteArray entry = readAll(XdgAutostart::entryPath());
    const QByteArray line = "\nExec=" + exec.arg(dir.path()).toUtf8() + '\n';
    QVERIFY2(entry.contains(line), entry.constData());
    qputenv("PATH", path);
    qunsetenv("XDG_CONFIG_HOME");
}

// Where a 340 x 400 panel goes, per session, for what the tray told us.
void TestTray::panelPlacement_data() {
    QTest::addColumn<SessionKind>("session");
    QTest::addColumn<QRect>("icon");
    QTest::addColumn<QPoint>("click");   // (-1, -1): the host did not say
    QTest::addColumn<QPoint>("pointer"); // where Qt thinks the pointer is
    QTest::addColumn<QRect>("available");
    QTest::addColumn<qreal>("scale"); // of the screen `available` is on
    QTest::addColumn<PlacementMethod>("method");
    QTest::addColumn<QPoint>("expected");

    const QPoint none(-1, -1);
    const QRect full(0, 0, 1920, 1080);
    const QRect belowBar(0, 32, 1920, 1048);
    const QPoint stale(640, 400);
    const auto scaledRow = [&](const char *name, SessionKind session, QRect icon, QPoint click,
                               QRect available, qreal scale, PlacementMethod method,
                               QPoint expected) {
        QTest::newRow(name) << session << icon << click << stale << available << scale << method
                            << expected;
    };
    const auto row = [&](const char *name, SessionKind session, QRect icon, QPoint click,
                         QRect available, PlacementMethod method, QPoint expected) {
        scaledRow(name, session, icon, click, available, 1.0, method, expected);
    };
    using enum SessionKind;
    using enum PlacementMethod;
    // X trays say where the icon is.
    row("X11 icon bottom right: above, pushed left", X11, {1880, 1050, 24, 24}, none, full, Move,
        {1920 - 340, 1050 - 404});
    row("X11 icon at the top: centred under it", X11, {1000, 4, 24, 24}, none, full, Move,
        {1011 - 170, 4 + 24 + 4});
    row("X11 icon top right, below a bar", X11, {1800, 4, 24, 24}, none, belowBar, Move,
        {1920 - 340, 32});
    row("X11 icon on a second screen", X11, {1920 + 700, 1050, 24, 24}, none, {1920, 0, 1280, 1080},
        Move, {1920 + 711 - 170, 1050 - 404});
    row("X11 screen lower than the panel", X11, {600, 300, 24, 24}, none, {0, 0, 800, 320}, Move,
        {600 + 11 - 170, 0});
    // StatusNotifier hosts send the click; it wins over the pointer.
    row("X11 click at the bottom left: above it", X11, {}, {15, 1070}, full, Move, {0, 1070 - 404});
    row("X11 click near the right edge, upper half", X11, {}, {1915, 500}, full, Move,
        {1920 - 340, 500 + 1 + 4});
    row("X11 no click: at the pointer", X11, {}, none, full, Move, {640 - 170, 400 + 1 + 4});
    row("XWayland no click: the pointer is stale, top-right corner", XWayland, {}, none, belowBar,
        Move, {1920 - 340 - 8, 32 + 8});
    row("XWayland click in a top bar: below it", XWayland, {}, {900, 12}, belowBar, Move,
        {900 - 170, 32});
    // Hosts on X send X pixels; Qt counts in its own units on scaled screens.
    scaledRow("X11 click on a screen scaled 2", X11, {}, {1900, 2100}, full, 2.0, Move,
              {950 - 170, 1050 - 404});
    scaledRow("XWayland click on a second screen scaled 1.5", XWayland, {}, {1920 + 600, 900},
              {1920, 0, 1280, 720}, 1.5, Move, {1920 + 400 - 170, 600 - 404});
    scaledRow("KWin click is in Qt's units already", KWinWayland, {}, {1200, 700}, full, 2.0,
              PlasmaSurface, {1200 - 170, 700 - 404});
    row("KWin click: through the plasma shell", KWinWayland, {}, {1200, 1070}, full, PlasmaSurface,
        {1200 - 170, 1070 - 404});
    row("KWin no click: top-right corner", KWinWayland, {}, none, full, PlasmaSurface,
        {1920 - 340 - 8, 8});
    row("Hyprland: the compositor places it", OtherWayland, {}, {1200, 1070}, full, Compositor, {});
    row("sway: beside a global click, over its socket", Sway, {}, {1200, 1070}, full, SwayIpc,
        {1200 - 170, 1070 - 404});
    row("sway: a click relative to the icon gives no anchor", Sway, {}, {12, 9}, full, SwayIpc,
        {1920 - 340 - 8, 8});
    // Only hosts on wlroots send points relative to the icon, near the origin.
    row("KWin click near the top-left corner: below it", KWinWayland, {}, {40, 12}, full,
        PlasmaSurface, {0, 12 + 1 + 4});
    row("XWayland click near the origin is a real one", XWayland, {}, {64, 20}, belowBar, Move,
        {0, 32});
    row("KWin (0, 0): no point, top-right corner", KWinWayland, {}, {0, 0}, full, PlasmaSurface,
        {1920 - 340 - 8, 8});
    // The panel rests on a bottom bar's edge wherever on the icon the click lands.
    row("KWin click inside a bottom bar: on its edge", KWinWayland, {}, {1200, 1070},
        {0, 0, 1920, 1036}, PlasmaSurface, {1200 - 170, 1036 - 400});
}

void TestTray::panelPlacement() {
    QFETCH(SessionKind, session);
    QFETCH(QRect, icon);
    QFETCH(QPoint, click);
    QFETCH(QPoint, pointer);
    QFETCH(QRect, available);
    QFETCH(qreal, scale);
    QFETCH(PlacementMethod, method);
    QFETCH(QPoint, expected);
    const Placement placement =
        ::panelPlacement(session, icon, click.x() < 0 ? std::nullopt : usableClick(session, click),
                         pointer, {{available, scale}});
    QCOMPARE(placement.method, method);
    if (method != PlacementMethod::Compositor)
        QCOMPARE(panelPosition(placement.anchor, QSize(340, 400), available), expected);
}

// What a StatusNotifier host reads and calls, over a bus connection of its
// own: the item's properties, the click's point, and the menu as dbusmenu,
// whose checks and radios stay true after a click.
void TestTray::statusNotifierItem() {
    QMenu menu;
    QAction *login = menu.addAction(u"Beim Anmelden starten"_s);
    login->setCheckable(true);
    QMenu *remind = menu.addMenu(u"Erinnern nach"_s);
    auto *group = new QActionGroup(remind);
    for (const char *text : {"4 Stunden", "8 Stunden"}) {
        QAction *choice = remind->addAction(QString::fromUtf8(text));
        choice->setCheckable(true);
        group->addAction(choice);
    }
    remind->actions().at(1)->setChecked(true);
    StatusNotifierItem item(&menu);
    item.setIconName(u"timer"_s);
    item.setToolTip(u"Kein Timer läuft"_s);
    QVERIFY(!item.serviceName().isEmpty());

    QDBusConnection host = QDBusConnection::connectToBus(
        qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"), u"velmora-test-host"_s);
    QVERIFY(host.isConnected());
    const auto call = [&](const QString &path, const QString &interface, const QString &method,
                          const QVariantList &arguments) {
        QDBusMessage message =
            QDBusMessage::createMethodCall(item.serviceName(), path, interface, method);
        message.setArguments(arguments);
        QDBusPendingCall pending = host.asyncCall(message);
        (void)QTest::qWaitFor([&] { return pending.isFinished(); }, 5000);
        return pending.reply();
    };
    const auto property = [&](const QString &name) {
        return call(u"/StatusNotifierItem"_s, u"org.freedesktop.DBus.Properties"_s, u"Get"_s,
                    {u"org.kde.StatusNotifierItem"_s, name})
            .arguments()
            .value(0)
            .value<QDBusVariant>()
            .variant();
    };
    QCOMPARE(property(u"Id"_s).toString(), u"de.velmora.zeit"_s);
    QCOMPARE(property(u"Title"_s).toString(), u"velmora Zeit"_s);
    QCOMPARE(property(u"Menu"_s).value<QDBusObjectPath>().path(), u"/MenuBar"_s);
    const auto toolTip = qdbus_cast<SniToolTip>(property(u"ToolTip"_s).value<QDBusArgument>());
    QCOMPARE(toolTip.title, u"velmora Zeit"_s);
    QCOMPARE(toolTip.text, u"Kein Timer läuft"_s);
    const auto pixmaps = qdbus_cast<SniPixmaps>(property(u"IconPixmap"_s).value<QDBusArgument>());
    QVERIFY(!pixmaps.isEmpty());
    QCOMPARE(pixmaps.first().argb.size(), pixmaps.first().width * pixmaps.first().height * 4);
    // A themed name only for a symbol installed into the hicolor theme.
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", QFile::encodeName(data.filePath(u"home"_s)));
    qputenv("XDG_DATA_DIRS", QFile::encodeName(data.path()));
    QCOMPARE(property(u"IconName"_s).toString(), QString());
    QVERIFY(writeFile(data.filePath(u"icons/hicolor/scalable/status/de.velmora.zeit-timer.svg"_s),
                      "<svg/>"));
    QCOMPARE(property(u"IconName"_s).toString(), u"de.velmora.zeit-timer"_s);
    item.setIconName(u"record.circle.fill"_s);
    QCOMPARE(property(u"IconName"_s).toString(), QString());
    qunsetenv("XDG_DATA_HOME");
    qunsetenv("XDG_DATA_DIRS");

    // A click's point reaches the tray as the host sent it.
    QSignalSpy activated(&item, &StatusNotifierItem::activated);
    call(u"/StatusNotifierItem"_s, u"org.kde.StatusNotifierItem"_s, u"Activate"_s, {1200, 780});
    QCOMPARE(activated.takeFirst().at(0).value<QPoint>(), QPoint(1200, 780));

    // Told only when something changed.
    QSignalSpy layoutUpdated(item.dbusMenu(), &DBusMenu::layoutUpdated);
    const auto layout = [&] {
        return qdbus_cast<DBusMenuLayout>(
            call(u"/MenuBar"_s, u"com.canonical.dbusmenu"_s, u"GetLayout"_s, {0, -1, QStringList()})
                .arguments()
                .value(1)
                .value<QDBusArgument>());
    };
    DBusMenuLayout root = layout();
    QCOMPARE(root.children.size(), 2);
    QCOMPARE(root.children[0].properties.value(u"label"_s).toString(), login->text());
    QCOMPARE(root.children[0].properties.value(u"toggle-type"_s).toString(), u"checkmark"_s);
    const DBusMenuLayout &hours = root.children[1];
    QCOMPARE(hours.properties.value(u"children-display"_s).toString(), u"submenu"_s);
    QCOMPARE(hours.children[0].properties.value(u"toggle-type"_s).toString(), u"radio"_s);
    QCOMPARE(hours.children[0].properties.value(u"toggle-state"_s).toInt(), 0);
    QCOMPARE(hours.children[1].properties.value(u"toggle-state"_s).toInt(), 1);
    QCOMPARE(layoutUpdated.size(), 0);

    call(u"/MenuBar"_s, u"com.canonical.dbusmenu"_s, u"Event"_s,
         {hours.children[0].id, u"clicked"_s, QVariant::fromValue(QDBusVariant(0)), 0u});
    QTRY_COMPARE(layoutUpdated.size(), 1); // one update for both radios
    root = layout();
    QCOMPARE(root.children[1].children[0].properties.value(u"toggle-state"_s).toInt(), 1);
    QCOMPARE(root.children[1].children[1].properties.value(u"toggle-state"_s).toInt(), 0);
    QVERIFY(remind->actions().at(0)->isChecked());
    QDBusConnection::disconnectFromBus(u"velmora-test-host"_s);

    // A watcher that comes up gets the item; dropped by it, the item comes back.
    SniWatcher watcher;
    QVERIFY(watcher.start(qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS")));
    QTRY_COMPARE(watcher.items(), QStringList{item.serviceName()});
    Q_EMIT watcher.StatusNotifierItemUnregistered(item.serviceName());
    QTRY_COMPARE(watcher.items().size(), 2);
    watcher.stop();
}

// The timer's entries of the exported menu, read and clicked over D-Bus as a
// host does: stop names the running pair, the other recent pairs switch, the
// host is told only of real changes, and nothing is offered signed out.
void TestTray::timerEntriesAsAHostReadsThem() {
    ModelFixture fixture;
    QVERIFY(fixture.started());
    DevServer &server = fixture.server();
    auto model = fixture.signedInModel(server.memberId()); // Müller GmbH · Entwicklung runs
    QVERIFY(model);
    QVERIFY(finishes(model->startPair({u"c4"_s, 3})));
    TimerMenu timer(model.get());
    QMenu menu;
    menu.addActions(timer.entries());
    menu.addAction(u"Öffnen"_s);
    StatusNotifierItem item(&menu);

    QDBusConnection host = QDBusConnection::connectToBus(
        qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS"), u"velmora-menu-host"_s);
    const auto call = [&](const QString &method, const QVariantList &arguments) {
        QDBusMessage message = QDBusMessage::createMethodCall(item.serviceName(), u"/MenuBar"_s,
                                                              u"com.canonical.dbusmenu"_s, method);
        message.setArguments(arguments);
        QDBusPendingCall pending = host.asyncCall(message);
        (void)QTest::qWaitFor([&] { return pending.isFinished(); }, 5000);
        return pending.reply();
    };
    // The visible entries' labels, "-" for a separator, "(off)" when disabled.
    QList<int> ids;
    const auto shown = [&] {
        const auto root = qdbus_cast<DBusMenuLayout>(call(u"GetLayout"_s, {0, -1, QStringList()})
                                                         .arguments()
                                                         .value(1)
                                                         .value<QDBusArgument>());
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
    call(u"Event"_s, {ids[1], u"clicked"_s, QVariant::fromValue(QDBusVariant(0)), 0u});
    QTRY_COMPARE(shown(), (QStringList{u"Timer stoppen – Müller GmbH · Entwicklung"_s,
                                       u"Bäckerei Schäfer · Support"_s, u"-"_s, u"Öffnen"_s}));
    QTRY_VERIFY(!model->busy());
    QCOMPARE(server.requestsTo(u"/api/time/start"_s).size(), 1);
    QVERIFY(layoutUpdated.size() >= 1);

    QVERIFY(finishes(model->logout()));
    QTRY_COMPARE(shown(), QStringList{u"Öffnen"_s});
    QDBusConnection::disconnectFromBus(u"velmora-menu-host"_s);
}

QTEST_MAIN(TestTray)
#include "tst_tray.moc"
