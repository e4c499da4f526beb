// The command line of the real binary: help, version and mistakes are
// answered without a display and leave a running instance alone; a plain
// second start opens the first one's panel, a start at login does not.

#include "app/singleinstance.h"
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

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
