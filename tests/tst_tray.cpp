// The app shell: the tray symbol follows the state and is set only when it
// changes, the plain window when there is no tray, and where the popup goes.

#include "app/panelwindow.h"
#include "app/velmoratimeapp.h"
#include "modelfixture.h"
#include "ui/menu.h"

#include <QSignalSpy>
#include <QSystemTrayIcon>

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

} // namespace

class TestTray : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void symbolsDraw();
    void iconFollowsTheTimer();
    void withoutTrayThePanelIsAWindow();
    void panelPosition_data();
    void panelPosition();
};

void TestTray::symbolsDraw() {
    // Drawn whole at the sizes trays ask for, and told apart at a glance.
    for (const int size : {16, 22, 48}) {
        const QImage timer = iconImage(symbolIcon(u"timer"_s), size);
        const QImage record = iconImage(symbolIcon(u"record.circle.fill"_s), size);
        QCOMPARE(timer.size(), QSize(size, size));
        QCOMPARE(record.size(), QSize(size, size));
        QVERIFY(timer != record);
    }
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
    QSignalSpy changes(&app, &VelmoraTimeApp::iconNameChanged);
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
    QCOMPARE(window->size(), app.menu()->sizeHint());

    // The window is the whole app: it does not hide, and closing it quits.
    app.togglePanel();
    app.hidePanel();
    QVERIFY(window->isVisible());
    QSignalSpy closing(window, &PanelWindow::closeRequested);
    window->close();
    QCOMPARE(closing.size(), 1);
}

void TestTray::panelPosition_data() {
    QTest::addColumn<QRect>("anchor");
    QTest::addColumn<QRect>("available");
    QTest::addColumn<QPoint>("expected"); // of a 340 x 400 panel

    const QRect full(0, 0, 1920, 1080);
    const QRect belowBar(0, 32, 1920, 1048);
    QTest::newRow("bottom right: above, pushed left")
        << QRect(1880, 1050, 24, 24) << full << QPoint(1920 - 340, 1050 - 4 - 400);
    QTest::newRow("top, centred under the icon")
        << QRect(1000, 4, 24, 24) << full << QPoint(1011 - 170, 4 + 24 + 4);
    QTest::newRow("top right, below a bar")
        << QRect(1800, 4, 24, 24) << belowBar << QPoint(1920 - 340, 32);
    QTest::newRow("second screen") << QRect(1920 + 700, 1050, 24, 24) << QRect(1920, 0, 1280, 1080)
                                   << QPoint(1920 + 711 - 170, 1050 - 4 - 400);
    QTest::newRow("unknown: top-right corner")
        << QRect() << belowBar << QPoint(1920 - 340 - 8, 32 + 8);
    QTest::newRow("screen lower than the panel")
        << QRect(600, 300, 24, 24) << QRect(0, 0, 800, 320) << QPoint(600 + 11 - 170, 0);
}

void TestTray::panelPosition() {
    QFETCH(QRect, anchor);
    QFETCH(QRect, available);
    QFETCH(QPoint, expected);
    QCOMPARE(::panelPosition(anchor, QSize(340, 400), available), expected);
}

QTEST_MAIN(TestTray)
#include "tst_tray.moc"
