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

} // namespace

QByteArray XSession::firstLine(QProcess &process) {
    QByteArray printed;
    const QDeadlineTimer deadline(timeoutMs);
    while (!printed.contains('\n') && process.state() != QProcess::NotRunning &&
           !deadline.hasExpired()) {
        process.waitForReadyRead(100);
        printed += process.readAllStandardOutput();
    }
    return printed.trimmed();
}

bool XSession::start(const QString &dir, QString *why, bool trayHost) {
    // Without a display number Xvfb takes the first free one and writes it
    // to -displayfd once it accepts clients.
    m_xvfb.start(QStringLiteral("Xvfb"), words("-displayfd 1 -screen 0 1280x800x24 -nolisten tcp"));
    m_display = QLatin1Char(':') + QString::fromLatin1(firstLine(m_xvfb));
    m_bus.start(QStringLiteral("dbus-daemon"),
                words("--session --nofork --nopidfile --print-address=1"));
    m_busAddress = QString::fromLatin1(firstLine(m_bus));
    if (m_display.size() < 2 || m_busAddress.isEmpty()) {
        *why = QStringLiteral("Xvfb (%1) or dbus-daemon (%2) did not start")
                   .arg(m_display, m_busAddress);
        return false;
    }

    // In the foreground it reads the password from stdin and creates the
    // login keyring unlocked. A program asking before it owns its name would
    // have the bus start a second, locked keyring.
    m_dir = dir;
    QDir().mkpath(dir + QStringLiteral("/data"));
    QDir().mkpath(dir + QStringLiteral("/run"));
    QFile::setPermissions(dir + QStringLiteral("/run"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    m_keyring.setProcessEnvironment(environment());
    m_keyring.setProcessChannelMode(QProcess::MergedChannels);
    m_keyring.start(QStringLiteral("gnome-keyring-daemon"),
                    words("--foreground --components=secrets --unlock"));
    m_keyring.write("velmora");
    m_keyring.closeWriteChannel();
    const bool keyring = QTest::qWaitFor(
        [this] {
            const auto reply = run(QStringLiteral("dbus-send"),
                                   words("--print-reply --dest=org.freedesktop.DBus "
                                         "/org/freedesktop/DBus org.freedesktop.DBus.NameHasOwner "
                                         "string:org.freedesktop.secrets"));
            return reply && reply->contains("boolean true");
        },
        timeoutMs);

    if (!keyring) {
        *why = QStringLiteral("no keyring on the private bus (%1)")
                   .arg(QString::fromLocal8Bit(m_keyring.readAll()));
        return false;
    }
    return !trayHost || startTrayHost(why);
}

bool XSession::startTrayHost(QString *why) {
    // Its visible window is where icons are embedded.
    m_trayer.setProcessEnvironment(environment());
    m_trayer.setProcessChannelMode(QProcess::MergedChannels);
    m_trayer.start(QStringLiteral("trayer"), words("--edge bottom --align right --widthtype pixel "
                                                   "--width 120 --heighttype pixel --height 32"));
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
    for (QProcess *process : {&m_trayer, &m_keyring, &m_bus, &m_xvfb})
        stopProcess(*process);
}

QProcessEnvironment XSession::environment() const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), m_display);
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_busAddress);
    environment.insert(QStringLiteral("XDG_DATA_HOME"), m_dir + QStringLiteral("/data"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir + QStringLiteral("/run"));
    return environment;
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
