// One app per user: a later start hands over to the running one and ends.

#include "app/singleinstance.h"
#include "testsupport.h"

#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class TestSingleInstance : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void laterStartAsksToShow();
    void secondLaunchOfTheAppExits();
};

void TestSingleInstance::laterStartAsksToShow() {
    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("s"));
    SingleInstance first(name);
    QCOMPARE(first.claim(), SingleInstance::Role::First);
    QSignalSpy shown(&first, &SingleInstance::showRequested);
    SingleInstance later(name);
    QCOMPARE(later.claim(), SingleInstance::Role::HandedOver);
    QTRY_COMPARE(shown.size(), 1);
}

void TestSingleInstance::secondLaunchOfTheAppExits() {
    // The apps inherit a private home and runtime folder and find no keyring.
    QTemporaryDir home;
    testsupport::isolateUserDirs(home.path());
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(home.path())); // 0700, as it must be
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent");
    const QString socket = SingleInstance::defaultName();
    const auto listening = [&socket] {
        QLocalSocket probe;
        probe.connectToServer(socket);
        return probe.waitForConnected(1000);
    };
    const auto laterStartExits = [] {
        QProcess later;
        later.start(QStringLiteral(VELMORA_APP_BINARY));
        return later.waitForFinished(20000) && later.exitStatus() == QProcess::NormalExit &&
               later.exitCode() == 0;
    };

    QProcess first;
    first.start(QStringLiteral(VELMORA_APP_BINARY));
    QTRY_VERIFY_WITH_TIMEOUT(listening(), 20000);
    QVERIFY(laterStartExits());
    QCOMPARE(first.state(), QProcess::Running);

    // A crash leaves the socket behind; the next start takes it over.
    first.kill();
    QVERIFY(first.waitForFinished(10000));
    QVERIFY(QFileInfo::exists(socket) && !listening());
    QProcess next;
    next.start(QStringLiteral(VELMORA_APP_BINARY));
    QTRY_VERIFY_WITH_TIMEOUT(listening(), 20000);
    QVERIFY(laterStartExits());
    next.terminate();
    QVERIFY(next.waitForFinished(10000));
}

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
