// One app per user: a later start hands over to the running one and ends.

#include "app/singleinstance.h"

#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// What a crashed run leaves behind: a socket file nobody listens on.
bool leaveStaleSocket(const QString &path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    if (name.size() >= qsizetype(sizeof(address.sun_path))) {
        ::close(fd);
        return false;
    }
    std::memcpy(address.sun_path, name.constData(), name.size());
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0;
    ::close(fd);
    return bound;
}

} // namespace

class TestSingleInstance : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void laterStartsHandOver();
    void staleSocketIsTakenOver();
    void defaultNameIsPerUser();
    void secondLaunchOfTheAppExitsAtOnce();
};

void TestSingleInstance::laterStartsHandOver() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString name = dir.filePath(QStringLiteral("s"));

    SingleInstance first(name);
    QCOMPARE(first.claim(), SingleInstance::Role::First);
    QCOMPARE(first.serverPath(), name);
    QSignalSpy shown(&first, &SingleInstance::showRequested);

    for (int start = 1; start <= 3; ++start) {
        SingleInstance later(name);
        QCOMPARE(later.claim(), SingleInstance::Role::HandedOver);
        QTRY_COMPARE(shown.size(), start);
        // The running one keeps its socket.
        QCOMPARE(first.serverPath(), name);
    }

    // Anything but the command shows nothing.
    QLocalSocket stranger;
    stranger.connectToServer(name);
    QVERIFY(stranger.waitForConnected(5000));
    stranger.write("hallo\nshowme\n" + QByteArray(200, 'x'));
    QVERIFY(stranger.waitForBytesWritten(5000));
    QTRY_COMPARE(stranger.state(), QLocalSocket::UnconnectedState);
    QCOMPARE(shown.size(), 3);
}

void TestSingleInstance::staleSocketIsTakenOver() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString name = dir.filePath(QStringLiteral("s"));
    QVERIFY(leaveStaleSocket(name));
    QVERIFY(QFileInfo::exists(name));

    SingleInstance first(name);
    QCOMPARE(first.claim(), SingleInstance::Role::First);
    QSignalSpy shown(&first, &SingleInstance::showRequested);
    SingleInstance later(name);
    QCOMPARE(later.claim(), SingleInstance::Role::HandedOver);
    QTRY_COMPARE(shown.size(), 1);
}

void TestSingleInstance::defaultNameIsPerUser() {
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    const auto restore = qScopeGuard([&] { qputenv("XDG_RUNTIME_DIR", saved); });
    const QString user = QString::number(::getuid());

    QTemporaryDir runtime;
    QVERIFY(runtime.isValid());
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    QCOMPARE(SingleInstance::defaultName(),
             runtime.filePath(QStringLiteral("velmora-zeit-") + user));

    // Without a runtime folder Qt puts the plain name into the temp folder.
    qunsetenv("XDG_RUNTIME_DIR");
    QCOMPARE(SingleInstance::defaultName(), QStringLiteral("velmora-zeit-") + user);
}

void TestSingleInstance::secondLaunchOfTheAppExitsAtOnce() {
    QTemporaryDir home;
    QVERIFY(home.isValid());
    QDir(home.path()).mkpath(QStringLiteral("run"));
    QFile::setPermissions(home.filePath(QStringLiteral("run")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.filePath(QStringLiteral("run")));
    env.insert(QStringLiteral("TMPDIR"), home.path());
    // No keyring here; the app then starts signed out.
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
               QStringLiteral("unix:path=/nonexistent/velmora-no-bus"));
    const QString socket = home.filePath(QStringLiteral("run/velmora-zeit-%1").arg(::getuid()));

    QProcess first;
    first.setProcessEnvironment(env);
    first.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    first.start(QStringLiteral(VELMORA_APP_BINARY));
    QVERIFY(first.waitForStarted(10000));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(socket), 20000);

    QProcess second;
    second.setProcessEnvironment(env);
    second.start(QStringLiteral(VELMORA_APP_BINARY));
    QVERIFY(second.waitForFinished(20000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(first.state(), QProcess::Running);

    first.terminate();
    QVERIFY(first.waitForFinished(10000));
}

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
