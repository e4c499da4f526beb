// The command line of the real binary: help, version and mistakes are
// answered without a display and leave a running instance alone; a plain
// second start opens the first one's panel, a start at login does not, and a
// crashed instance's socket is taken over. --status and --stop are answered
// by the running instance, signed in to the devserver, without a display;
// their texts are shown by the timer-status test.

#include "app/remotecontrol.h"
#include "desktop/singleinstance.h"
#include "modelfixture.h"
#include "testsupport.h"

#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

struct Run {
    int exitCode = -1; // -1: did not end, or crashed
    QString out, err;
};

QProcessEnvironment appEnvironment(bool display) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString &variable : {u"DISPLAY"_s, u"WAYLAND_DISPLAY"_s, u"QT_QPA_PLATFORM"_s})
        environment.remove(variable);
    if (display)
        environment.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
    return environment;
}

// Runs the app to its end; this event loop keeps running, as the instance
// that answers it may be in this process.
Run run(const QStringList &arguments, bool display = false) {
    QProcess app;
    app.setProcessEnvironment(appEnvironment(display));
    app.start(QStringLiteral(VELMORA_APP_BINARY), arguments);
    Run result;
    if (QTest::qWaitFor([&app] { return app.state() == QProcess::NotRunning; }, 30000) &&
        app.exitStatus() == QProcess::NormalExit)
        result.exitCode = app.exitCode();
    result.out = QString::fromUtf8(app.readAllStandardOutput());
    result.err = QString::fromUtf8(app.readAllStandardError());
    return result;
}

} // namespace

class TestCommandLine : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void answers_data();
    void answers();
    void instanceCommands_data();
    void instanceCommands();
    void crashedInstanceIsReplaced();

private:
    QTemporaryDir m_home;
};

void TestCommandLine::initTestCase() {
    // The app's socket, settings and keyring stay in the temporary folder.
    testsupport::isolateUserDirs(m_home.path());
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_home.path())); // 0700, as it must be
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent");
}

void TestCommandLine::answers_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("display");
    QTest::addColumn<bool>("running"); // another instance is there
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("printed");   // on stdout
    QTest::addColumn<QString>("complaint"); // on stderr
    QTest::addColumn<int>("shown");         // show requests the running instance got
    const auto row = [](const char *name, const QStringList &arguments, bool display, bool running,
                        int exitCode, const QString &printed = {}, const QString &complaint = {},
                        int shown = 0) {
        QTest::newRow(name) << arguments << display << running << exitCode << printed << complaint
                            << shown;
    };
    const QString hint = u"Alle Optionen: velmora-time --help"_s;
    row("help, no display, running instance", {u"-h"_s}, false, true, 0, u"--hidden  "_s);
    row("version, no display, running instance", {u"--version"_s}, false, true, 0,
        u"velmora-time " VELMORA_VERSION "\n"_s);
    row("unknown option", {u"--bogus"_s}, false, true, 2, {},
        u"Unbekannte Option „--bogus“.\n"_s + hint);
    row("unknown option with one dash, named whole", {u"-bogus"_s}, false, true, 2, {},
        u"Unbekannte Option „--bogus“.\n"_s + hint);
    row("Qt's own options are Qt's", {u"-platform"_s, u"offscreen"_s, u"-reverse"_s, u"-v"_s},
        false, true, 0, u"velmora-time " VELMORA_VERSION "\n"_s);
    row("value for a switch", {u"--hidden=1"_s}, true, false, 2, {},
        u"„--hidden“ nimmt keinen Wert an."_s);
    row("stray argument", {u"jetzt"_s}, true, true, 2, {},
        u"Unerwartetes Argument „jetzt“.\n"_s + hint);
    row("no display", {}, false, false, 1, {}, u"Keine grafische Sitzung"_s);
    row("second start", {}, true, true, 0, {}, {}, 1);
    row("second start, verbose", {u"--verbose"_s}, true, true, 0, {}, {}, 1);
    row("second start at login", {u"--hidden"_s}, true, true, 0);
}

void TestCommandLine::answers() {
    QFETCH(QStringList, arguments);
    QFETCH(bool, display);
    QFETCH(bool, running);
    QFETCH(int, exitCode);
    QFETCH(QString, printed);
    QFETCH(QString, complaint);
    QFETCH(int, shown);

    SingleInstance first;
    if (running)
        QCOMPARE(first.claim(), SingleInstance::Role::First);
    QSignalSpy showRequests(&first, &SingleInstance::showRequested);
    const Run app = run(arguments, display);
    QVERIFY2(app.exitCode == exitCode, qPrintable(app.out + app.err));
    QVERIFY2(app.out.contains(printed) && app.err.contains(complaint),
             qPrintable(app.out + app.err));
    if (printed.isEmpty())
        QCOMPARE(app.out, QString());
    // A request on its way arrives within this wait; none may come unasked.
    QTest::qWait(shown ? 0 : 200);
    QTRY_COMPARE(showRequests.size(), shown);
}

void TestCommandLine::instanceCommands_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("instance"); // "member" (a timer runs), "admin", "": none
    QTest::addColumn<bool>("refuse");      // the server refuses the stop
    QTest::addColumn<bool>("busy");        // a slow stop of the panel's is under way
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("printed");
    QTest::addColumn<QString>("complaint");
    const auto row = [](const char *name, const QStringList &arguments, const QString &instance,
                        int exitCode, const QString &printed, const QString &complaint = {},
                        bool refuse = false, bool busy = false) {
        QTest::newRow(name) << arguments << instance << refuse << busy << exitCode << printed
                            << complaint;
    };
    const QStringList status{u"--status"_s}, stop{u"--stop"_s};
    row("status, timer runs", status, u"member"_s, 0, u"Müller GmbH · Entwicklung · 01:2"_s);
    row("status as JSON, no timer", {u"--json"_s, u"--status"_s}, u"admin"_s, 1,
        u"{\"running\":null}\n"_s);
    row("status, no instance", status, {}, 3, {}, u"läuft nicht"_s);
    row("stop", stop, u"member"_s, 0, u"Timer gestoppt."_s);
    row("stop, no timer", stop, u"admin"_s, 1, u"Kein Timer läuft\n"_s);
    row("stop refused", stop, u"member"_s, 4, {}, u"Kein Zugriff.\n"_s, true);
    row("stop while another stop is under way", stop, u"member"_s, 1, u"Kein Timer läuft\n"_s, {},
        false, true);
    row("json alone", {u"--json"_s}, u"member"_s, 2, {},
        u"--json gilt nur zusammen mit --status."_s);
}

void TestCommandLine::instanceCommands() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, instance);
    QFETCH(bool, refuse);
    QFETCH(bool, busy);
    QFETCH(int, exitCode);
    QFETCH(QString, printed);
    QFETCH(QString, complaint);
    const bool stopped = exitCode == 0 && arguments == QStringList{u"--stop"_s};

    ModelFixture fixture;
    QVERIFY(fixture.started());
    DevServer &server = fixture.server();
    std::unique_ptr<Model> model = instance == u"member"  ? fixture.signedInModel(server.memberId())
                                   : instance == u"admin" ? fixture.signedInModel(server.adminId())
                                                          : fixture.newModel();
    QVERIFY(model);
    if (refuse)
        server.setFault(u"/api/time/stop"_s,
                        Fault{.status = 403, .body = R"({"error":"Kein Zugriff."})"});
    server.clearRequests();
    SingleInstance first;
    RemoteControl remote(model.get());
    if (!instance.isEmpty()) {
        QCOMPARE(first.claim(), SingleInstance::Role::First);
        first.setCommandHandler([&remote](QByteArray command) { return remote.answer(command); });
    }

    if (busy) {
        server.setFault(u"/api/time/stop"_s, Fault{.delayMs = 1000, .times = 1});
        model->runStop();
    }

    const Run app = run(arguments);
    QVERIFY2(app.exitCode == exitCode, qPrintable(app.out + app.err));
    QVERIFY2(app.out.contains(printed) && app.err.contains(complaint),
             qPrintable(app.out + app.err));
    QCOMPARE(server.requestsTo(u"/api/time/stop"_s).size(), stopped || refuse || busy ? 1 : 0);
    // Only a stop reaches the server; a status is answered from the state held.
    QCOMPARE(server.requestsTo(u"/api/state"_s).size(), stopped || busy ? 1 : 0);
    if (stopped)
        QVERIFY(model->state() && !model->state()->running);
}

// A crash leaves the socket behind; the next start takes it over and a later
// start hands over to it.
void TestCommandLine::crashedInstanceIsReplaced() {
    const QString socket = SingleInstance::defaultName();
    const auto listening = [&socket] {
        QLocalSocket probe;
        probe.connectToServer(socket);
        return probe.waitForConnected(1000);
    };
    QProcess crashed, next;
    crashed.setProcessEnvironment(appEnvironment(true));
    crashed.start(QStringLiteral(VELMORA_APP_BINARY));
    QTRY_VERIFY_WITH_TIMEOUT(listening(), 20000);
    crashed.kill();
    QVERIFY(crashed.waitForFinished(10000));
    QVERIFY(QFileInfo::exists(socket) && !listening());

    next.setProcessEnvironment(appEnvironment(true));
    next.start(QStringLiteral(VELMORA_APP_BINARY));
    QTRY_VERIFY_WITH_TIMEOUT(listening(), 20000);
    QCOMPARE(run({}, true).exitCode, 0);
    QCOMPARE(next.state(), QProcess::Running);
    next.terminate();
    QVERIFY(next.waitForFinished(10000));
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
