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

struct Answer {
    const char *name;
    QStringList arguments;
    bool display;
    bool running; // another instance is there
    int exitCode;
    QString printed{}, complaint{}; // on stdout, on stderr
    int shown = 0;                  // show requests the running instance got
};

// "member" (a timer runs), "idle member" (it was stopped: one recent pair),
// "admin" (nothing runs, nothing recent), "": no instance.
struct InstanceCommand {
    const char *name;
    QStringList arguments;
    QString instance;
    int exitCode;
    QString printed{}, complaint{};
    QStringList requests{}; // what reaches the server, in order
    QString refused{};      // the path the server refuses
    bool busy = false;      // a slow stop of the panel's is under way
};

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
    void initTestCase() {
        // The app's socket, settings and keyring stay in the temporary folder.
        testsupport::isolateUserDirs(m_home.path());
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_home.path())); // 0700, as it must be
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent");
    }

    void answers_data() {
        const QString hint = u"Alle Optionen: velmora-time --help"_s;
        const QString version = u"velmora-time " VELMORA_VERSION "\n"_s;
        // clang-format off
        testsupport::rows<Answer>({
            {"help, no display, running instance", {u"-h"_s}, false, true, 0, u"--hidden  "_s},
            {"version, no display, running instance", {u"--version"_s}, false, true, 0, version},
            {"unknown option", {u"--bogus"_s}, false, true, 2, {}, u"Unbekannte Option „--bogus“.\n"_s + hint},
            {"unknown option with one dash, named whole", {u"-bogus"_s}, false, true, 2, {},
             u"Unbekannte Option „--bogus“.\n"_s + hint},
            {"Qt's own options are Qt's", {u"-platform"_s, u"offscreen"_s, u"-reverse"_s, u"-v"_s},
             false, true, 0, version},
            {"value for a switch", {u"--hidden=1"_s}, true, false, 2, {}, u"„--hidden“ nimmt keinen Wert an."_s},
            {"stray argument", {u"jetzt"_s}, true, true, 2, {}, u"Unerwartetes Argument „jetzt“.\n"_s + hint},
            {"a third name", {u"--start"_s, u"a"_s, u"b"_s, u"c"_s}, true, true, 2, {},
             u"Unerwartetes Argument „c“."_s},
            {"two requests at once", {u"--start"_s, u"--stop"_s}, true, true, 2, {},
             u"--status, --stop, --start, --toggle und --recent gehen nur einzeln."_s},
            {"note without start", {u"--toggle"_s, u"--note"_s, u"x"_s}, true, true, 2, {},
             u"--note gilt nur zusammen mit --start."_s},
            {"no display", {}, false, false, 1, {}, u"Keine grafische Sitzung"_s},
            {"second start", {}, true, true, 0, {}, {}, 1},
            {"second start, verbose", {u"--verbose"_s}, true, true, 0, {}, {}, 1},
            {"second start at login", {u"--hidden"_s}, true, true, 0},
        });
        // clang-format on
    }

    void answers() {
        FETCH_ROW(Answer);
        SingleInstance first;
        if (row.running)
            QCOMPARE(first.claim(), SingleInstance::Role::First);
        QSignalSpy showRequests(&first, &SingleInstance::showRequested);
        const Run app = run(row.arguments, row.display);
        QVERIFY2(app.exitCode == row.exitCode, qPrintable(app.out + app.err));
        QVERIFY2(app.out.contains(row.printed) && app.err.contains(row.complaint),
                 qPrintable(app.out + app.err));
        if (row.printed.isEmpty())
            QCOMPARE(app.out, QString());
        // A request on its way arrives within this wait; none may come unasked.
        QTest::qWait(row.shown ? 0 : 200);
        QTRY_COMPARE(showRequests.size(), row.shown);
    }

    void instanceCommands_data() {
        const QString stop = u"/api/time/stop"_s, start = u"/api/time/start"_s,
                      state = u"/api/state"_s;
        const QString member = u"member"_s, idle = u"idle member"_s, admin = u"admin"_s;
        // clang-format off
        testsupport::rows<InstanceCommand>({
            {"status, timer runs", {u"--status"_s}, member, 0, u"Müller GmbH · Entwicklung · 01:2"_s},
            {"status as JSON, no timer", {u"--json"_s, u"--status"_s}, admin, 1, u"{\"running\":null}\n"_s},
            {"status, no instance", {u"--status"_s}, {}, 3, {}, u"läuft nicht"_s},
            {"stop", {u"--stop"_s}, member, 0, u"Timer gestoppt."_s, {}, {stop, state}},
            {"stop, no timer", {u"--stop"_s}, admin, 1, u"Kein Timer läuft\n"_s},
            {"stop refused", {u"--stop"_s}, member, 4, {}, u"Kein Zugriff.\n"_s, {stop}, stop},
            {"stop while another stop is under way", {u"--stop"_s}, member, 1, u"Kein Timer läuft\n"_s, {},
             {stop, state}, {}, true},
            {"json alone", {u"--json"_s}, member, 2, {}, u"--json gilt nur zusammen mit --status oder --recent."_s},
            {"start by folded prefixes switches",
             {u"--start"_s, u"bäck"_s, u"SUP"_s, u"--note"_s, u"Brot\nund Brötchen"_s}, member, 0,
             u"Timer gestartet: Bäckerei Schäfer · Support\n"_s, {}, {stop, start, state}},
            {"start, the pair runs already", {u"--start"_s, u"muller gmbh"_s, u"entw"_s}, member, 0,
             u"Läuft bereits: Müller GmbH · Entwicklung\n"_s},
            {"start, ambiguous client", {u"--start"_s, u"mul"_s}, member, 2, {},
             u"„mul“ ist nicht eindeutig. Gemeint ist einer von:\n  Müller GmbH\n  MÜLLER Logistik\n  Muller & Co\n"_s},
            {"start, unknown reason", {u"--start"_s, u"Bäckerei"_s, u"Reise"_s}, member, 2, {},
             u"Kein Grund passt zu „Reise“. Zur Auswahl:\n  Beratung\n  Support\n"_s},
            {"start, client without a reason named", {u"--start"_s, u"praxis"_s}, admin, 2, {},
             u"Welcher Grund für Praxis Dr. Weiß?"_s},
            {"start, the client's only reason", {u"--start"_s, u"öko"_s}, admin, 0,
             u"Timer gestartet: Öko-Hof Jürgens · Support\n"_s, {}, {start, state}},
            {"start refused", {u"--start"_s, u"öko"_s}, admin, 4, {}, u"Kein Zugriff.\n"_s, {start}, start},
            {"start, nothing recent", {u"--start"_s}, admin, 2, {}, u"--start KUNDE GRUND"_s},
            {"start, signed out", {u"--start"_s}, u"signed out"_s, 3, {}, u"nicht angemeldet"_s},
            {"toggle stops", {u"--toggle"_s}, member, 0, u"Timer gestoppt."_s, {}, {stop, state}},
            {"toggle starts the newest pair", {u"--toggle"_s}, idle, 0,
             u"Timer gestartet: Müller GmbH · Entwicklung\n"_s, {}, {start, state}},
            {"recent", {u"--recent"_s}, idle, 0, u"Müller GmbH · Entwicklung\n"_s},
            {"recent as JSON", {u"--recent"_s, u"--json"_s}, idle, 0,
             u"[{\"client\":\"Müller GmbH\",\"clientId\":\"c1\",\"reason\":\"Entwicklung\",\"reasonId\":2}]\n"_s},
        });
        // clang-format on
    }

    void instanceCommands() {
        FETCH_ROW(InstanceCommand);
        const auto &[name, arguments, instance, exitCode, printed, complaint, requests, refused,
                     busy] = row;
        ModelFixture fixture;
        QVERIFY(fixture.started());
        DevServer &server = fixture.server();
        std::unique_ptr<Model> model =
            instance.contains(u"member") ? fixture.signedInModel(server.memberId())
            : instance == u"admin"       ? fixture.signedInModel(server.adminId())
                                         : fixture.newModel();
        QVERIFY(model);
        if (instance == u"idle member") {
            server.stopEntryFor(server.memberId());
            QVERIFY(finishes(model->refresh()));
        }
        if (!refused.isEmpty())
            server.setFault(refused, Fault{.status = 403, .body = R"({"error":"Kein Zugriff."})"});
        server.clearRequests();
        SingleInstance first;
        RemoteControl remote(model.get());
        if (!instance.isEmpty()) {
            QCOMPARE(first.claim(), SingleInstance::Role::First);
            first.setCommandHandler(
                [&remote](QByteArray command) { return remote.answer(command); });
        }

        if (busy) {
            server.setFault(u"/api/time/stop"_s, Fault{.delayMs = 1000, .times = 1});
            model->runStop();
        }

        const Run app = run(arguments);
        QVERIFY2(app.exitCode == exitCode, qPrintable(app.out + app.err));
        QVERIFY2(app.out.contains(printed) && app.err.contains(complaint),
                 qPrintable(app.out + app.err));
        QStringList sent;
        for (const RecordedRequest &request : server.requests())
            sent << request.path;
        QCOMPARE(sent, requests);
        if (requests.contains(u"/api/time/start"_s) && exitCode == 0)
            QCOMPARE(server.requestsTo(u"/api/time/start"_s).constFirst().body.contains("Brot"),
                     arguments.contains(u"--note"_s));
    }

    // A crash leaves the socket behind; the next start takes it over and a later
    // start hands over to it.
    void crashedInstanceIsReplaced() {
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

private:
    QTemporaryDir m_home;
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
