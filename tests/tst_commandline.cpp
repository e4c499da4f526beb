// The command line of the real binary: help, version and mistakes are
// answered without a display and leave a running instance alone; a plain
// second start opens the first one's panel, a start at login does not.
// --status and --stop are answered by the running instance, signed in to the
// devserver, and need no display either.

#include "app/remotecontrol.h"
#include "app/singleinstance.h"
#include "modelfixture.h"
#include "testsupport.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class TestCommandLine : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void answers_data();
    void answers();
    void instanceCommands_data();
    void instanceCommands();

private:
    QTemporaryDir m_home;
};

void TestCommandLine::initTestCase() {
    // The app's socket, settings and keyring stay in the temporary folder.
    testsupport::isolateUserDirs(m_home.path());
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_home.path()));
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

    const QString hint = u"Alle Optionen: velmora-time --help"_s;
    QTest::newRow("help, no display")
        << QStringList{u"--help"_s} << false << false << 0 << u"--hidden  "_s << QString() << 0;
    QTest::newRow("help, running instance") << QStringList{u"-h"_s} << true << true << 0
                                            << u"Zeigt die Version an."_s << QString() << 0;
    QTest::newRow("version, no display, running instance")
        << QStringList{u"--version"_s} << false << true << 0
        << QStringLiteral("velmora-time " VELMORA_VERSION "\n") << QString() << 0;
    QTest::newRow("unknown option") << QStringList{u"--bogus"_s} << false << true << 2 << QString()
                                    << u"Unbekannte Option „--bogus“.\n"_s + hint << 0;
    QTest::newRow("value for a switch") << QStringList{u"--hidden=1"_s} << true << false << 2
                                        << QString() << u"„--hidden“ nimmt keinen Wert an."_s << 0;
    QTest::newRow("stray argument") << QStringList{u"jetzt"_s} << true << true << 2 << QString()
                                    << u"Unerwartetes Argument „jetzt“.\n"_s + hint << 0;
    QTest::newRow("no display") << QStringList() << false << false << 1 << QString()
                                << u"Keine grafische Sitzung"_s << 0;
    QTest::newRow("second start") << QStringList() << true << true << 0 << QString() << QString()
                                  << 1;
    QTest::newRow("second start, verbose")
        << QStringList{u"--verbose"_s} << true << true << 0 << QString() << QString() << 1;
    QTest::newRow("second start at login")
        << QStringList{u"--hidden"_s} << true << true << 0 << QString() << QString() << 0;
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

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString &variable : {u"DISPLAY"_s, u"WAYLAND_DISPLAY"_s, u"QT_QPA_PLATFORM"_s})
        environment.remove(variable);
    if (display)
        environment.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
    QProcess app;
    app.setProcessEnvironment(environment);
    app.start(QStringLiteral(VELMORA_APP_BINARY), arguments);
    QVERIFY(app.waitForFinished(20000));
    const QString out = QString::fromLocal8Bit(app.readAllStandardOutput());
    const QString err = QString::fromLocal8Bit(app.readAllStandardError());
    QCOMPARE(app.exitStatus(), QProcess::NormalExit);
    QVERIFY2(app.exitCode() == exitCode, qPrintable(out + err));
    QVERIFY2(out.contains(printed) && err.contains(complaint), qPrintable(out + err));
    if (printed.isEmpty())
        QCOMPARE(out, QString());
    // A request on its way arrives within this wait; none may come unasked.
    QTest::qWait(shown ? 0 : 200);
    QTRY_COMPARE(showRequests.size(), shown);
}

void TestCommandLine::instanceCommands_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("instance"); // "member" (a timer runs), "admin", "signed out", ""
    QTest::addColumn<bool>("refuse");      // the server refuses the stop
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("printed");
    QTest::addColumn<QString>("complaint");
    QTest::addColumn<bool>("stopped");

    const QStringList status{u"--status"_s}, stop{u"--stop"_s};
    QTest::newRow("status, timer runs")
        << status << u"member"_s << false << 0 << u"Müller GmbH · Entwicklung · 01:2"_s << QString()
        << false;
    QTest::newRow("status as JSON") << QStringList{u"--status"_s, u"--json"_s} << u"member"_s
                                    << false << 0 << u"\"elapsedSeconds\":"_s << QString() << false;
    QTest::newRow("status, no timer")
        << status << u"admin"_s << false << 1 << u"Kein Timer läuft\n"_s << QString() << false;
    QTest::newRow("status as JSON, no timer")
        << QStringList{u"--json"_s, u"--status"_s} << u"admin"_s << false << 1
        << u"{\"running\":null}\n"_s << QString() << false;
    QTest::newRow("status, signed out")
        << status << u"signed out"_s << false << 3 << QString() << u"nicht angemeldet"_s << false;
    QTest::newRow("status, no instance")
        << status << QString() << false << 3 << QString() << u"läuft nicht"_s << false;
    QTest::newRow("stop") << stop << u"member"_s << false << 0 << u"Timer gestoppt."_s << QString()
                          << true;
    QTest::newRow("stop, no timer")
        << stop << u"admin"_s << false << 1 << u"Kein Timer läuft\n"_s << QString() << false;
    QTest::newRow("stop refused") << stop << u"member"_s << true << 4 << QString()
                                  << u"Kein Zugriff.\n"_s << false;
    QTest::newRow("stop, no instance")
        << stop << QString() << false << 3 << QString() << u"läuft nicht"_s << false;
    QTest::newRow("json alone") << QStringList{u"--json"_s} << u"member"_s << false << 2
                                << QString() << u"--json gilt nur zusammen mit --status."_s
                                << false;
}

void TestCommandLine::instanceCommands() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, instance);
    QFETCH(bool, refuse);
    QFETCH(int, exitCode);
    QFETCH(QString, printed);
    QFETCH(QString, complaint);
    QFETCH(bool, stopped);

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

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString &variable : {u"DISPLAY"_s, u"WAYLAND_DISPLAY"_s, u"QT_QPA_PLATFORM"_s})
        environment.remove(variable);
    QProcess app;
    app.setProcessEnvironment(environment);
    app.start(QStringLiteral(VELMORA_APP_BINARY), arguments);
    // Not waitForFinished: this event loop is the instance that answers.
    QVERIFY(QTest::qWaitFor([&app] { return app.state() == QProcess::NotRunning; }, 30000));
    const QString out = QString::fromUtf8(app.readAllStandardOutput());
    const QString err = QString::fromUtf8(app.readAllStandardError());
    QVERIFY2(app.exitCode() == exitCode, qPrintable(out + err));
    QVERIFY2(out.contains(printed) && err.contains(complaint), qPrintable(out + err));
    QCOMPARE(server.requestsTo(u"/api/time/stop"_s).size(), stopped || refuse ? 1 : 0);
    // Only a stop reaches the server; a status is answered from the state held.
    QCOMPARE(server.requestsTo(u"/api/state"_s).size(), stopped ? 1 : 0);
    if (stopped)
        QVERIFY(model->state() && !model->state()->running);
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
