// The app shell: the tray symbol follows the state and is set only when it
// changes, the plain window when there is no tray, where the popup goes, and
// the start at login.

#include "app/loginitem.h"
#include "app/panelwindow.h"
#include "app/velmoratimeapp.h"
#include "modelfixture.h"
#include "ui/menu.h"

#include <QAction>
#include <QApplication>
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
    options.trayWait = trayWait;
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

private Q_SLOTS:
    void iconFollowsTheTimer();
    void withoutTrayThePanelIsAWindow();
    void startAtLogin();
    void autostartCommand_data();
    void autostartCommand();
    void panelPosition_data();
    void panelPosition();
};

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
    QSignalSpy changes(&app, &VelmoraTimeApp::iconNameChanged);
    // Both symbols draw at the sizes trays ask for, told apart at a glance.
    for (const int size : {16, 22, 48}) {
        const QImage timer = iconImage(symbolIcon(u"timer"_s), size);
        QCOMPARE(timer.size(), QSize(size, size));
        QVERIFY(timer != iconImage(symbolIcon(u"record.circle.fill"_s), size));
    }
    QCOMPARE(app.iconName(), u"timer"_s);
    QTRY_VERIFY(app.isReady());
    const auto startElsewhere = [&] {
        server.startEntryFor(server.memberId(), rate.clientId, rate.reasonId, QString(),
                             QDateTime::currentMSecsSinceEpoch() - 60'000.0);
        return finishes(model->refresh());
    };

    // A timer started on another device shows after the next reload, in the
    // window's icon too when there is no tray.
    QVERIFY(startElsewhere());
    QCOMPARE(app.iconName(), u"record.circle.fill"_s);
    QCOMPARE(changes.size(), 1);
    QCOMPARE(iconImage(app.panelWindow()->windowIcon()),
             iconImage(symbolIcon(u"record.circle.fill"_s)));
    // Reloads that change nothing about it set nothing, even when other
    // parts of the state change.
    QVERIFY(finishes(model->refresh()));
    server.setNinjaSynced(false);
    QVERIFY(finishes(model->refresh()));
    QCOMPARE(changes.size(), 1);

    server.stopEntryFor(server.memberId());
    QVERIFY(finishes(model->refresh()));
    QCOMPARE(app.iconName(), u"timer"_s);
    QCOMPARE(iconImage(app.panelWindow()->windowIcon()), iconImage(symbolIcon(u"timer"_s)));

    // Signing out drops the state, and with it the running timer.
    QVERIFY(startElsewhere());
    QVERIFY(finishes(model->logout()));
    QCOMPARE(app.iconName(), u"timer"_s);
    QCOMPARE(changes.size(), 4);
}

void TestTray::withoutTrayThePanelIsAWindow() {
    QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
    ModelFixture fixture;
    QVERIFY(fixture.started());
    VelmoraTimeApp app(fixture.newModel(), quietOptions(300ms));
    QSignalSpy ready(&app, &VelmoraTimeApp::ready);
    // A show request during the wait for a tray is kept for its end.
    app.showPanel();
    QVERIFY(!app.panelWindow()->isVisible());

    QVERIFY(ready.wait(10000));
    QVERIFY(!app.hasTray());
    PanelWindow *window = app.panelWindow();
    QVERIFY(window->isVisible());
    QCOMPARE(window->windowType(), Qt::Window);
    QVERIFY(!(window->windowFlags() & Qt::FramelessWindowHint));
    QCOMPARE(window->windowTitle(), u"velmora Zeit"_s);
    // Its menu bar offers what the tray menu would.
    const QMenuBar *menuBar = window->findChild<QMenuBar *>();
    QVERIFY(menuBar && menuBar->isVisible());
    QVERIFY(app.windowMenu()->actions().contains(app.startAtLoginAction()));
    QCOMPARE(window->size(), app.menu()->sizeHint() + QSize(0, menuBar->height()));
    QCOMPARE(app.menu()->geometry().top(), menuBar->geometry().bottom() + 1);

    // The window is the whole app: it does not hide, and closing it quits.
    app.togglePanel();
    app.hidePanel();
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
    QTRY_VERIFY(app.isReady());
    QAction *toggle = app.startAtLoginAction();
    QVERIFY(toggle->isCheckable() && toggle->isVisible() && !toggle->isChecked());
    QCOMPARE(toggle->text(), u"Beim Anmelden starten"_s);
    // The check mark is read afresh whenever the menu opens.
    const auto menuShowsChecked = [&app, toggle] {
        app.windowMenu()->popup(QPoint(0, 0));
        app.windowMenu()->hide();
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

void TestTray::panelPosition_data() {
    QTest::addColumn<QRect>("anchor");
    QTest::addColumn<QRect>("available");
    QTest::addColumn<QPoint>("expected"); // of a 340 x 400 panel

    const auto row = [](const char *name, QRect anchor, QRect available, QPoint expected) {
        QTest::newRow(name) << anchor << available << expected;
    };
    const QRect full(0, 0, 1920, 1080);
    const QRect belowBar(0, 32, 1920, 1048);
    row("bottom right: above, pushed left", {1880, 1050, 24, 24}, full, {1920 - 340, 1050 - 404});
    row("top, centred under the icon", {1000, 4, 24, 24}, full, {1011 - 170, 4 + 24 + 4});
    row("top right, below a bar", {1800, 4, 24, 24}, belowBar, {1920 - 340, 32});
    row("second screen", {1920 + 700, 1050, 24, 24}, {1920, 0, 1280, 1080},
        {1920 + 711 - 170, 1050 - 404});
    // StatusNotifier trays: at the pointer, the same way.
    row("pointer in a top bar: below it", {900, 12, 1, 1}, belowBar, {900 - 170, 32});
    row("pointer at the bottom left: above it, on the screen", {15, 1070, 1, 1}, full,
        {0, 1070 - 404});
    row("pointer near the right edge, upper half", {1915, 500, 1, 1}, full,
        {1920 - 340, 500 + 1 + 4});
    row("unknown: top-right corner", {}, belowBar, {1920 - 340 - 8, 32 + 8});
    row("screen lower than the panel", {600, 300, 24, 24}, {0, 0, 800, 320}, {600 + 11 - 170, 0});
}

void TestTray::panelPosition() {
    QFETCH(QRect, anchor);
    QFETCH(QRect, available);
    QFETCH(QPoint, expected);
    QCOMPARE(::panelPosition(anchor, QSize(340, 400), available), expected);
}

QTEST_MAIN(TestTray)
#include "tst_tray.moc"
