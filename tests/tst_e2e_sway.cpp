// The real velmora-time on a headless sway with swaybar at the bottom, its
// icon in a StatusNotifier tray that the test plays: a click on the icon
// opens the panel beside it, over the bar and never on it, as sway reports
// the window; a second click on the icon closes it.

#include "sniwatcher.h"
#include "testsupport.h"
#include "tray/swayipc.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

constexpr int timeoutMs = 30000;

QByteArray swaymsg(const QStringList &arguments) {
    QProcess process;
    process.start(u"swaymsg"_s, arguments);
    process.waitForFinished(timeoutMs);
    return process.readAllStandardOutput();
}

} // namespace

class TestE2eSway : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        if (sway::socketPath().isEmpty())
            QSKIP("sway is not installed (package sway)");
        QVERIFY(m_watcher.start(qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS")));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"QT_QPA_PLATFORM"_s, u"wayland"_s);
        environment.insert(u"XDG_SESSION_TYPE"_s, u"wayland"_s);
        testsupport::isolateUserDirs(m_dir.filePath(u"home"_s), &environment);
        m_app.setProcessEnvironment(environment);
        m_app.setProcessChannelMode(QProcess::ForwardedChannels);
        m_app.start(QStringLiteral(VELMORA_APP_BINARY), {u"--hidden"_s});
        QVERIFY(m_app.waitForStarted(timeoutMs));
        WAIT_UNTIL(!m_watcher.items().isEmpty(), timeoutMs);
    }

    void cleanupTestCase() {
        m_app.terminate();
        if (!m_app.waitForFinished(10000))
            m_app.kill();
    }

    void panelBesideTheIcon_data() {
        QTest::addColumn<QPoint>("pointer");
        QTest::addColumn<QPoint>("click"); // as the host sends it
        // waybar and swaybar send the point within the icon: the pointer counts.
        QTest::newRow("relative click on an icon in the bar") << QPoint(1200, 790) << QPoint(12, 9);
        QTest::newRow("global click: it wins over the pointer")
            << QPoint(300, 300) << QPoint(1000, 788);
    }

    void panelBesideTheIcon() {
        QFETCH(QPoint, pointer);
        QFETCH(QPoint, click);
        const QRect free(0, 0, 1280, 800 - 23); // above swaybar, once it is up
        WAIT_UNTIL(sway::focusedWorkspace(
                       QJsonDocument::fromJson(swaymsg({u"-t"_s, u"get_workspaces"_s, u"-r"_s}))
                           .array()) == free,
                   timeoutMs);
        swaymsg({u"seat"_s, u"seat0"_s, u"cursor"_s, u"set"_s, QString::number(pointer.x()),
                 QString::number(pointer.y())});
        QVERIFY(m_watcher.activate(click));
        const QPoint beside = click.x() > 64 ? click : pointer;
        std::optional<sway::Window> panel;
        // Placed: a panel, not a tile, resting on the bar's edge, reaching
        // over the icon.
        WAIT_UNTIL((panel = window()) && panel->rect.width() < free.width() / 2 &&
                       free.bottom() - panel->rect.bottom() <= 4 &&
                       panel->rect.bottom() <= free.bottom() && panel->rect.left() <= beside.x() &&
                       beside.x() <= panel->rect.right(),
                   timeoutMs);
        QVERIFY(m_watcher.activate(click));
        WAIT_UNTIL(!window(), timeoutMs);
    }

private:
    std::optional<sway::Window> window() {
        return sway::findWindow(
            QJsonDocument::fromJson(swaymsg({u"-t"_s, u"get_tree"_s, u"-r"_s})).object(),
            m_app.processId(), u"de.velmora.zeit"_s);
    }

    QTemporaryDir m_dir;
    SniWatcher m_watcher;
    QProcess m_app;
};

QTEST_GUILESS_MAIN(TestE2eSway)
#include "tst_e2e_sway.moc"
