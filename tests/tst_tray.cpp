// The app shell: the tray symbol chosen from the state and set only when it
// changes, the plain window when there is no tray, and the popup's placement
// and focus behaviour.

#include "app/panelwindow.h"
#include "app/updater.h"
#include "app/velmoratimeapp.h"
#include "modelfixture.h"
#include "ui/menu.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>
#include <QVBoxLayout>

using namespace std::chrono_literals;

namespace {

// No tray here (offscreen), so a short wait; no update feed.
AppOptions quietOptions(std::chrono::milliseconds trayWait = 0ms) {
    AppOptions options;
    options.trayWait = trayWait;
    options.appcastUrl = QUrl();
    options.automaticUpdateChecks = false;
    return options;
}

QImage iconImage(const QIcon &icon, int size) {
    return icon.pixmap(size, size).toImage().convertToFormat(QImage::Format_ARGB32);
}

} // namespace

class TestTray : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void iconName_data();
    void iconName();
    void symbolsDraw_data();
    void symbolsDraw();
    void iconFollowsTheTimer();
    void withoutTrayThePanelIsAWindow();
    void panelPosition_data();
    void panelPosition();
    void popupClosesOnFocusLossAndKeepsTyping();
    void popupFollowsContentHeight();
};

void TestTray::iconName_data() {
    QTest::addColumn<std::optional<State>>("state");
    QTest::addColumn<QString>("name");

    State idle;
    idle.user = User{QStringLiteral("u1"), QStringLiteral("Mia"), QStringLiteral("member")};
    State running = idle;
    running.running = Entry{QStringLiteral("e1"),
                            QStringLiteral("Kunde"),
                            QStringLiteral("Grund"),
                            9000,
                            QString(),
                            1.7e12};

    QTest::newRow("no state") << std::optional<State>() << "timer";
    QTest::newRow("nothing running") << std::optional<State>(idle) << "timer";
    QTest::newRow("running") << std::optional<State>(running) << "record.circle.fill";
}

void TestTray::iconName() {
    QFETCH(std::optional<State>, state);
    QFETCH(QString, name);
    QCOMPARE(trayIconName(state), name);
}

void TestTray::symbolsDraw_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QColor>("centre"); // at 48 px

    QTest::newRow("timer") << "timer" << QColor(0x2b, 0x30, 0x38);
    QTest::newRow("record") << "record.circle.fill" << QColor(0xe0, 0x34, 0x2b);
}

void TestTray::symbolsDraw() {
    QFETCH(QString, name);
    QFETCH(QColor, centre);
    const QIcon icon = symbolIcon(name);
    QVERIFY(!icon.isNull());
    for (const int size : {16, 22, 32, 48}) {
        const QImage image = iconImage(icon, size);
        QCOMPARE(image.size(), QSize(size, size));
        // Drawn into the whole square, not a blank or a tiny corner.
        int opaque = 0;
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x)
                opaque += qAlpha(image.pixel(x, y)) > 200;
        QVERIFY2(opaque > size * size / 3, qPrintable(QString::number(opaque)));
    }
    QCOMPARE(QColor(iconImage(icon, 48).pixel(24, 24)).name(), centre.name());
    QVERIFY(symbolIcon(QStringLiteral("no-such-symbol")).isNull());
}

void TestTray::iconFollowsTheTimer() {
    ModelFixture fixture;
    QVERIFY(fixture.started());
    DevServer &server = fixture.server();
    server.stopEntryFor(server.memberId());
    std::unique_ptr<Model> owned = fixture.signedInModel(server.memberId());
    QVERIFY(owned);
    const Rate rate = owned->state()->rates.value(0);
    QVERIFY(!rate.clientId.isEmpty());

    VelmoraTimeApp app(std::move(owned), quietOptions());
    Model *model = app.model();
    QSignalSpy changes(&app, &VelmoraTimeApp::iconNameChanged);
    QCOMPARE(app.iconName(), QStringLiteral("timer"));

    // A timer started on another device shows after the next reload.
    server.startEntryFor(server.memberId(), rate.clientId, rate.reasonId, QStringLiteral("Telefon"),
                         QDateTime::currentMSecsSinceEpoch() - 60'000.0);
    QVERIFY(finishes(model->refresh()));
    QCOMPARE(app.iconName(), QStringLiteral("record.circle.fill"));
    QCOMPARE(changes.size(), 1);
    QCOMPARE(changes[0][0].toString(), QStringLiteral("record.circle.fill"));

    // Reloads that change nothing about it set nothing, even when other
    // parts of the state change.
    QVERIFY(finishes(model->refresh()));
    server.setNinjaSynced(false);
    QVERIFY(finishes(model->refresh()));
    QCOMPARE(changes.size(), 1);

    server.stopEntryFor(server.memberId());
    QVERIFY(finishes(model->refresh()));
    QCOMPARE(app.iconName(), QStringLiteral("timer"));
    QCOMPARE(changes.size(), 2);

    // Without a tray the window's icon carries the symbol.
    QTRY_VERIFY(app.isReady());
    QCOMPARE(iconImage(app.panelWindow()->windowIcon(), 32),
             iconImage(symbolIcon(QStringLiteral("timer")), 32));

    // Signing out drops the state: no timer shown.
    server.startEntryFor(server.memberId(), rate.clientId, rate.reasonId, QString(),
                         QDateTime::currentMSecsSinceEpoch());
    QVERIFY(finishes(model->refresh()));
    QCOMPARE(app.iconName(), QStringLiteral("record.circle.fill"));
    QCOMPARE(iconImage(app.panelWindow()->windowIcon(), 32),
             iconImage(symbolIcon(QStringLiteral("record.circle.fill")), 32));
    QVERIFY(finishes(model->logout()));
    QCOMPARE(app.iconName(), QStringLiteral("timer"));
    QCOMPARE(changes.size(), 4);
}

void TestTray::withoutTrayThePanelIsAWindow() {
    QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
    ModelFixture fixture;
    QVERIFY(fixture.started());
    VelmoraTimeApp app(fixture.newModel(), quietOptions(300ms));
    QSignalSpy ready(&app, &VelmoraTimeApp::ready);
    QVERIFY(!app.isReady());
    // A show request during the wait is kept for its end.
    app.showPanel();
    QVERIFY(!app.panelWindow()->isVisible());

    QVERIFY(ready.wait(10000));
    QVERIFY(app.isReady());
    QVERIFY(!app.hasTray());
    QCOMPARE(app.trayIcon(), nullptr);
    PanelWindow *window = app.panelWindow();
    QVERIFY(window->isVisible());
    QCOMPARE(window->mode(), PanelWindow::Mode::Window);
    QCOMPARE(window->windowType(), Qt::Window);
    QVERIFY(!(window->windowFlags() & Qt::FramelessWindowHint));
    QCOMPARE(window->windowTitle(), QStringLiteral("velmora Zeit"));
    QCOMPARE(window->content(), app.menu());
    QVERIFY(window->isAncestorOf(app.menu()));
    QCOMPARE(window->size(), app.menu()->sizeHint());
    QCOMPARE(app.menu()->geometry(), window->rect());

    // Without a tray, hiding is not offered: the window is the whole app.
    app.togglePanel();
    app.hidePanel();
    QVERIFY(window->isVisible());

    // Closing it quits (the app connects this to quitting).
    QSignalSpy closing(window, &PanelWindow::closeRequested);
    window->close();
    QCOMPARE(closing.size(), 1);
    QCOMPARE(ready.size(), 1);
}

void TestTray::panelPosition_data() {
    QTest::addColumn<QRect>("anchor");
    QTest::addColumn<QRect>("available");
    QTest::addColumn<QPoint>("expected");

    const QSize screen(1920, 1080);
    const QRect full(QPoint(0, 0), screen);
    // Panel: 340 x 400.
    QTest::newRow("bottom right: above, pushed left")
        << QRect(1880, 1050, 24, 24) << full << QPoint(1920 - 340, 1050 - 4 - 400);
    QTest::newRow("top right, below a bar")
        << QRect(1800, 4, 24, 24) << QRect(0, 32, 1920, 1048) << QPoint(1920 - 340, 32);
    QTest::newRow("top, centred under the icon")
        << QRect(1000, 4, 24, 24) << full << QPoint(1011 - 170, 4 + 24 + 4);
    QTest::newRow("bottom left: above, pushed right")
        << QRect(2, 1050, 24, 24) << full << QPoint(0, 1050 - 4 - 400);
    QTest::newRow("second screen") << QRect(1920 + 700, 1050, 24, 24) << QRect(1920, 0, 1280, 1080)
                                   << QPoint(1920 + 711 - 170, 1050 - 4 - 400);
    QTest::newRow("unknown: top-right corner")
        << QRect() << QRect(0, 32, 1920, 1048) << QPoint(1920 - 340 - 8, 32 + 8);
    QTest::newRow("screen lower than the panel")
        << QRect(600, 300, 24, 24) << QRect(0, 0, 800, 320) << QPoint(600 + 11 - 170, 0);
    QTest::newRow("screen narrower than the panel")
        << QRect() << QRect(0, 0, 300, 600) << QPoint(0, 8);
}

void TestTray::panelPosition() {
    QFETCH(QRect, anchor);
    QFETCH(QRect, available);
    QFETCH(QPoint, expected);
    QCOMPARE(::panelPosition(anchor, QSize(340, 400), available), expected);
}

void TestTray::popupClosesOnFocusLossAndKeepsTyping() {
    ModelFixture fixture;
    QVERIFY(fixture.started());
    fixture.server().stopEntryFor(fixture.server().memberId());
    std::unique_ptr<Model> model = fixture.signedInModel(fixture.server().memberId());
    QVERIFY(model);
    auto *menu = new Menu(model.get());
    PanelWindow panel(menu);
    QCOMPARE(panel.mode(), PanelWindow::Mode::Popup);
    QVERIFY(panel.windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(!panel.justClosedByFocusLoss());

    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect anchor(screen.right() - 40, screen.bottom() - 24, 24, 24);
    panel.popUp(anchor);
    QVERIFY(QTest::qWaitForWindowActive(&panel));
    QVERIFY(screen.contains(panel.geometry()));
    QVERIFY(panel.geometry().bottom() < anchor.top());

    auto *note = menu->findChild<QLineEdit *>(QStringLiteral("noteField"));
    QVERIFY(note);
    QVERIFY(note->isVisible());
    note->setFocus();
    QTest::keyClicks(note, QStringLiteral("Angebot"));
    QCOMPARE(model->note(), QStringLiteral("Angebot"));

    // A picker's list opens above the panel without closing it.
    auto *clients = menu->findChild<QComboBox *>(QStringLiteral("clientPicker"));
    QVERIFY(clients);
    clients->showPopup();
    QTRY_VERIFY(clients->view()->isVisible());
    QVERIFY(panel.isVisible());
    clients->hidePopup();
    QVERIFY(QTest::qWaitForWindowActive(&panel));

    // Another window takes the focus: the panel closes.
    QWidget other;
    other.resize(200, 100);
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    QTRY_VERIFY(!panel.isVisible());
    QVERIFY(panel.justClosedByFocusLoss());

    // Reopened, it is the same panel with the text still there.
    panel.popUp(anchor);
    QVERIFY(QTest::qWaitForWindowActive(&panel));
    QCOMPARE(panel.content(), menu);
    QCOMPARE(note->text(), QStringLiteral("Angebot"));
    QCOMPARE(model->note(), QStringLiteral("Angebot"));

    // Escape closes it too.
    QTest::keyClick(&panel, Qt::Key_Escape);
    QVERIFY(!panel.isVisible());
}

void TestTray::popupFollowsContentHeight() {
    auto *content = new QWidget;
    auto *layout = new QVBoxLayout(content);
    auto *first = new QLabel(QStringLiteral("Zeile 1"));
    auto *extra = new QLabel(QStringLiteral("Zeile 2"));
    first->setFixedSize(300, 40);
    extra->setFixedSize(300, 120);
    layout->addWidget(first);
    layout->addWidget(extra);
    extra->hide();
    PanelWindow panel(content);

    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect anchor(screen.center().x(), screen.bottom() - 24, 24, 24);
    panel.popUp(anchor);
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    const int before = panel.height();
    const QPoint expectedBefore = ::panelPosition(anchor, panel.size(), screen);
    QCOMPARE(panel.pos(), expectedBefore);

    // Taller content grows the panel upwards, still above the icon.
    extra->show();
    QTRY_VERIFY(panel.height() >= before + 120);
    QCOMPARE(panel.pos(), ::panelPosition(anchor, panel.size(), screen));
    QVERIFY(panel.geometry().bottom() < anchor.top());

    extra->hide();
    QTRY_COMPARE(panel.height(), before);
    QCOMPARE(panel.pos(), expectedBefore);
}

QTEST_MAIN(TestTray)
#include "tst_tray.moc"
