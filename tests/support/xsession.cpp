#include "xsession.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTest>

namespace {

constexpr int timeoutMs = 45000; // generous: CI machines are slow under load

void stopProcess(QProcess &process) {
    process.terminate();
    if (!process.waitForFinished(5000))
        process.kill();
    process.waitForFinished(5000);
}

QStringList words(const char *line) {
    return QString::fromLatin1(line).split(QLatin1Char(' '));
}

// Run inside the session: its variables, then a wait for stdin to close.
constexpr const char *environmentDump =
    "for name in DISPLAY DBUS_SESSION_BUS_ADDRESS XDG_DATA_HOME XDG_RUNTIME_DIR "
    "QT_LINUX_ACCESSIBILITY_ALWAYS_ON; do eval \"echo velmora-env:$name=\\$$name\"; done; "
    "echo velmora-session-ready; exec cat >/dev/null";

} // namespace

bool XSession::start(const QString &dir, QString *why, bool trayHost) {
    // A display that dies right after it answered (seen once on a loaded CI
    // machine: the tray host then found no display) gets one more try.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (startOnce(dir, why) && (!trayHost || startTrayHost(why)))
            return true;
        qWarning("xsession: %s; starting again", qPrintable(*why));
        stop();
    }
    return false;
}

bool XSession::startOnce(const QString &dir, QString *why) {
    // The scripts print the session's environment, then wait for stdin to
    // close; ending the command stops X, the bus and the keyring. The tray
    // host is ours, so that it can come and go.
    QDir().mkpath(dir);
    QProcessEnvironment outside = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"VELMORA_IN_PRIVATE_KEYRING", "DISPLAY", "WAYLAND_DISPLAY",
                             "QT_QPA_PLATFORM", "DBUS_SESSION_BUS_ADDRESS"})
        outside.remove(QString::fromLatin1(name));
    outside.insert(QStringLiteral("TMPDIR"), dir);
    m_session.setProcessEnvironment(outside);
    // What the servers say goes to a file, apart from the lines read here.
    const QString log = dir + QStringLiteral("/session.log");
    m_session.setStandardErrorFile(log);
    const QString scripts = QStringLiteral(VELMORA_SOURCE_DIR "/scripts/");
    m_session.start(scripts + QStringLiteral("with-keyring"),
                    {scripts + QStringLiteral("xsession"), QStringLiteral("--accessible"),
                     QStringLiteral("--no-tray"), QStringLiteral("sh"), QStringLiteral("-c"),
                     QString::fromLatin1(environmentDump)});

    QByteArray printed;
    const QDeadlineTimer deadline(timeoutMs);
    while (!printed.contains("\nvelmora-session-ready\n") &&
           m_session.state() != QProcess::NotRunning && !deadline.hasExpired()) {
        m_session.waitForReadyRead(100);
        printed += m_session.readAll();
    }
    m_environment = QProcessEnvironment::systemEnvironment();
    m_environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    m_environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    m_environment.remove(QStringLiteral("VELMORA_IN_PRIVATE_KEYRING"));
    for (const QByteArray &line : printed.split('\n')) {
        const int equals = line.indexOf('=');
        if (line.startsWith("velmora-env:") && equals > 0)
            m_environment.insert(QString::fromUtf8(line.mid(12, equals - 12)),
                                 QString::fromUtf8(line.mid(equals + 1)));
    }
    if (!printed.contains("velmora-session-ready")) {
        QFile said(log);
        said.open(QIODevice::ReadOnly);
        *why = QStringLiteral("the private X session did not start: %1 %2")
                   .arg(QString::fromLocal8Bit(printed), QString::fromLocal8Bit(said.readAll()));
        return false;
    }
    return true;
}

bool XSession::startTrayHost(QString *why) {
    m_trayer.setProcessEnvironment(environment());
    m_trayer.setProcessChannelMode(QProcess::MergedChannels);
    m_trayer.start(QStringLiteral(VELMORA_SOURCE_DIR "/scripts/tray-host"), {});
    // Its visible window is where icons are embedded.
    const bool tray = QTest::qWaitFor(
        [this] {
            m_trayArea = windows(QStringLiteral("trayer")).value(0);
            return !m_trayArea.isEmpty();
        },
        timeoutMs);
    if (!tray)
        *why =
            QStringLiteral("no trayer window (%1)").arg(QString::fromLocal8Bit(m_trayer.readAll()));
    return tray;
}

void XSession::stopTrayHost() {
    stopProcess(m_trayer);
}

void XSession::stop() {
    stopTrayHost();
    if (m_session.state() == QProcess::NotRunning)
        return;
    m_session.closeWriteChannel();
    if (!m_session.waitForFinished(timeoutMs))
        stopProcess(m_session);
}

QProcessEnvironment XSession::environment() const {
    return m_environment;
}

std::optional<QByteArray> XSession::run(const QString &program,
                                        const QStringList &arguments) const {
    QProcess process;
    process.setProcessEnvironment(environment());
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs))
        stopProcess(process); // then a crash exit
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    return process.readAllStandardOutput();
}

QList<QRect> XSession::windows(const QString &windowClass) const {
    // One block of WINDOW, X, Y, WIDTH, HEIGHT and SCREEN per window.
    const auto shell =
        run(QStringLiteral("xdotool"), words("search --onlyvisible --class")
                                           << windowClass << words("getwindowgeometry --shell %@"));
    QList<QRect> found;
    QMap<QByteArray, int> values;
    for (const QByteArray &line : shell.value_or(QByteArray()).split('\n')) {
        const int equals = line.indexOf('=');
        values.insert(line.left(equals), line.mid(equals + 1).toInt());
        if (line.startsWith("SCREEN="))
            found.append(QRect(values["X"], values["Y"], values["WIDTH"], values["HEIGHT"]));
    }
    return found;
}

QImage XSession::grabScreen() const {
    const auto png = run(QStringLiteral("import"), words("-window root png:-"));
    return png ? QImage::fromData(*png, "PNG").convertToFormat(QImage::Format_RGB32) : QImage();
}

void XSession::click(const QPoint &at) {
    // Two clicks within the double-click interval would arrive as a double
    // click, which the tray icon does not take as a click.
    constexpr qint64 apartMs = 700;
    if (m_lastClick.isValid() && !m_lastClick.hasExpired(apartMs))
        QTest::qWait(int(apartMs - m_lastClick.elapsed()));
    m_lastClick.start();
    xdotool({QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y()),
             QStringLiteral("click"), QStringLiteral("1")});
}

void XSession::xdotool(const QStringList &arguments) const {
    run(QStringLiteral("xdotool"), arguments);
}

std::optional<QString> XSession::secret(const QString &service, const QString &key) const {
    // QtKeychain's attributes: the service as "server", the key as "user".
    const auto found =
        run(QStringLiteral("secret-tool"), {QStringLiteral("lookup"), QStringLiteral("server"),
                                            service, QStringLiteral("user"), key});
    return found ? std::optional(QString::fromUtf8(*found)) : std::nullopt;
}
