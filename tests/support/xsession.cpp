#include "xsession.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTest>

namespace xsession {

namespace {

constexpr int startTimeoutMs = 15000;
constexpr int stopTimeoutMs = 5000;

void stopProcess(QProcess &process) {
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(stopTimeoutMs)) {
        process.kill();
        process.waitForFinished(stopTimeoutMs);
    }
}

QString programOutput(QProcess &process) {
    return QString::fromLocal8Bit(process.readAllStandardOutput() + process.readAllStandardError())
        .trimmed();
}

} // namespace

QStringList missingPrograms() {
    QStringList missing;
    for (const char *name : {"Xvfb", "trayer", "xdotool", "import", "dbus-daemon", "dbus-send",
                             "gnome-keyring-daemon", "secret-tool"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(name)).isEmpty())
            missing.append(QString::fromLatin1(name));
    }
    return missing;
}

XSession::~XSession() {
    stop();
}

bool XSession::start(QString *why) {
    return startXvfb(why) && startTrayer(why);
}

void XSession::stop() {
    stopProcess(m_trayer);
    stopProcess(m_xvfb);
}

bool XSession::startXvfb(QString *why) {
    // Xvfb writes the display number to -displayfd once it takes clients, and
    // ends at once when another server holds the number. Starting from our
    // process id spreads parallel runs over the range.
    const int first = 90, count = 50;
    const int offset = int(QCoreApplication::applicationPid() % count);
    QString lastError;
    for (int i = 0; i < count; ++i) {
        const int number = first + (offset + i) % count;
        if (QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(number)))
            continue;
        m_xvfb.setProcessChannelMode(QProcess::SeparateChannels);
        m_xvfb.start(QStringLiteral("Xvfb"),
                     {QStringLiteral(":%1").arg(number), QStringLiteral("-screen"),
                      QStringLiteral("0"), QStringLiteral("1280x800x24"),
                      QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                      QStringLiteral("-displayfd"), QStringLiteral("1")});
        if (!m_xvfb.waitForStarted(startTimeoutMs)) {
            *why = QStringLiteral("Xvfb did not start: ") + m_xvfb.errorString();
            return false;
        }
        QByteArray announced;
        QDeadlineTimer deadline(startTimeoutMs);
        while (!announced.contains('\n') && m_xvfb.state() == QProcess::Running &&
               !deadline.hasExpired()) {
            m_xvfb.waitForReadyRead(100);
            announced += m_xvfb.readAllStandardOutput();
        }
        if (announced.trimmed() == QByteArray::number(number) &&
            m_xvfb.state() == QProcess::Running) {
            m_display = QStringLiteral(":%1").arg(number);
            return true;
        }
        lastError = QString::fromLocal8Bit(m_xvfb.readAllStandardError()).trimmed();
        stopProcess(m_xvfb);
    }
    *why = QStringLiteral("no free display between :%1 and :%2 for Xvfb (last: %3)")
               .arg(first)
               .arg(first + count - 1)
               .arg(lastError);
    return false;
}

bool XSession::startTrayer(QString *why) {
    m_trayer.setProcessEnvironment(environment());
    m_trayer.setProcessChannelMode(QProcess::MergedChannels);
    m_trayer.start(QStringLiteral("trayer"),
                   {QStringLiteral("--edge"), QStringLiteral("bottom"), QStringLiteral("--align"),
                    QStringLiteral("right"), QStringLiteral("--widthtype"), QStringLiteral("pixel"),
                    QStringLiteral("--width"), QStringLiteral("120"),
                    QStringLiteral("--heighttype"), QStringLiteral("pixel"),
                    QStringLiteral("--height"), QStringLiteral("32")});
    if (!m_trayer.waitForStarted(startTimeoutMs)) {
        *why = QStringLiteral("trayer did not start: ") + m_trayer.errorString();
        return false;
    }
    // Its visible window (named "panel") is where icons are embedded.
    const bool shown = QTest::qWaitFor(
        [this] {
            const QList<Window> windows = visibleWindows(QStringLiteral("trayer"));
            if (windows.isEmpty())
                return m_trayer.state() != QProcess::Running;
            m_trayArea = windows.first().geometry;
            return true;
        },
        startTimeoutMs);
    if (!shown || m_trayArea.isEmpty()) {
        *why = QStringLiteral("trayer showed no window: ") + programOutput(m_trayer);
        return false;
    }
    return true;
}

QProcessEnvironment XSession::environment() const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), m_display);
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    return environment;
}

std::optional<QByteArray> XSession::run(const QString &program, const QStringList &arguments,
                                        int timeoutMs) const {
    QProcess process;
    process.setProcessEnvironment(environment());
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(stopTimeoutMs);
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    return process.readAllStandardOutput();
}

QList<Window> XSession::visibleWindows(const QString &windowClass) const {
    QList<Window> windows;
    // xdotool ends with 1 when nothing matches.
    const auto ids =
        run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                        QStringLiteral("--class"), windowClass});
    if (!ids)
        return windows;
    for (const QByteArray &line : ids->split('\n')) {
        const QString id = QString::fromLatin1(line.trimmed());
        if (id.isEmpty())
            continue;
        const auto shell = run(QStringLiteral("xdotool"), {QStringLiteral("getwindowgeometry"),
                                                           QStringLiteral("--shell"), id});
        if (!shell)
            continue; // gone meanwhile
        QMap<QByteArray, int> values;
        for (const QByteArray &assignment : shell->split('\n')) {
            const int equals = assignment.indexOf('=');
            if (equals > 0)
                values.insert(assignment.left(equals), assignment.mid(equals + 1).toInt());
        }
        windows.append({id, QRect(values.value("X"), values.value("Y"), values.value("WIDTH"),
                                  values.value("HEIGHT"))});
    }
    return windows;
}

QImage XSession::grabScreen() const {
    const auto png =
        run(QStringLiteral("import"),
            {QStringLiteral("-window"), QStringLiteral("root"), QStringLiteral("png:-")});
    if (!png)
        return {};
    return QImage::fromData(*png, "PNG").convertToFormat(QImage::Format_RGB32);
}

void XSession::click(const QPoint &at, int button) const {
    // Two clicks closer than the double-click interval would arrive as one
    // double click, which the tray icon does not treat as a click.
    constexpr qint64 apartMs = 700;
    if (m_lastClick.isValid() && !m_lastClick.hasExpired(apartMs))
        QTest::qWait(int(apartMs - m_lastClick.elapsed()));
    m_lastClick.start();
    run(QStringLiteral("xdotool"),
        {QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y()),
         QStringLiteral("click"), QString::number(button)});
}

void XSession::type(const QString &text) const {
    run(QStringLiteral("xdotool"),
        {QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("15"), text});
}

void XSession::keys(const QStringList &names) const {
    run(QStringLiteral("xdotool"), QStringList{QStringLiteral("key")} + names);
}

PrivateKeyring::~PrivateKeyring() {
    stop();
}

bool PrivateKeyring::start(const QString &dir, QString *why) {
    m_dir = dir;
    QDir().mkpath(dir + QStringLiteral("/data"));
    QDir().mkpath(dir + QStringLiteral("/run"));
    QFile::setPermissions(dir + QStringLiteral("/run"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    m_bus.start(QStringLiteral("dbus-daemon"),
                {QStringLiteral("--session"), QStringLiteral("--nofork"),
                 QStringLiteral("--nopidfile"), QStringLiteral("--print-address=1")});
    QDeadlineTimer deadline(startTimeoutMs);
    QByteArray printed;
    while (!printed.contains('\n') && m_bus.state() != QProcess::NotRunning &&
           !deadline.hasExpired()) {
        m_bus.waitForReadyRead(100);
        printed += m_bus.readAllStandardOutput();
    }
    m_address = QString::fromLatin1(printed.trimmed());
    if (m_address.isEmpty()) {
        *why = QStringLiteral("dbus-daemon gave no address: ") + programOutput(m_bus);
        return false;
    }

    // In the foreground it reads the password from stdin and creates the
    // login keyring unlocked; it ends with its bus.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    applyTo(environment);
    m_keyring.setProcessEnvironment(environment);
    m_keyring.setProcessChannelMode(QProcess::MergedChannels);
    m_keyring.start(QStringLiteral("gnome-keyring-daemon"),
                    {QStringLiteral("--foreground"), QStringLiteral("--components=secrets"),
                     QStringLiteral("--unlock")});
    if (!m_keyring.waitForStarted(startTimeoutMs)) {
        *why = QStringLiteral("gnome-keyring-daemon did not start: ") + m_keyring.errorString();
        return false;
    }
    m_keyring.write("velmora");
    m_keyring.closeWriteChannel();
    // A program asking before the name is taken would have the bus start a
    // second, locked keyring.
    if (!QTest::qWaitFor([this] { return secretsOwned(); }, startTimeoutMs)) {
        *why = QStringLiteral("the keyring did not appear on the private bus: ") +
               programOutput(m_keyring);
        return false;
    }
    return true;
}

void PrivateKeyring::stop() {
    stopProcess(m_keyring);
    stopProcess(m_bus);
}

void PrivateKeyring::applyTo(QProcessEnvironment &environment) const {
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_address);
    environment.insert(QStringLiteral("XDG_DATA_HOME"), m_dir + QStringLiteral("/data"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir + QStringLiteral("/run"));
}

bool PrivateKeyring::secretsOwned() const {
    QProcess ask;
    ask.start(QStringLiteral("dbus-send"),
              {QStringLiteral("--bus=") + m_address, QStringLiteral("--print-reply"),
               QStringLiteral("--dest=org.freedesktop.DBus"),
               QStringLiteral("/org/freedesktop/DBus"),
               QStringLiteral("org.freedesktop.DBus.NameHasOwner"),
               QStringLiteral("string:org.freedesktop.secrets")});
    if (!ask.waitForFinished(stopTimeoutMs)) {
        ask.kill();
        ask.waitForFinished(stopTimeoutMs);
        return false;
    }
    return ask.readAllStandardOutput().contains("boolean true");
}

std::optional<QString> PrivateKeyring::lookup(const QString &service, const QString &key) const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    applyTo(environment);
    QProcess lookup;
    lookup.setProcessEnvironment(environment);
    // QtKeychain's attributes: the service as "server", the key as "user".
    lookup.start(QStringLiteral("secret-tool"), {QStringLiteral("lookup"), QStringLiteral("server"),
                                                 service, QStringLiteral("user"), key});
    if (!lookup.waitForFinished(startTimeoutMs)) {
        lookup.kill();
        lookup.waitForFinished(stopTimeoutMs);
        return std::nullopt;
    }
    if (lookup.exitStatus() != QProcess::NormalExit || lookup.exitCode() != 0)
        return std::nullopt;
    return QString::fromUtf8(lookup.readAllStandardOutput());
}

} // namespace xsession
