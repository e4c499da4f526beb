#include "desktop/loginitem.h"

#include <algorithm>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace {

class Unsupported : public LoginItem {
public:
    bool isSupported() const override { return false; }
    bool isEnabled() const override { return false; }
    QString setEnabled(bool) override {
        return QStringLiteral("Der Start beim Anmelden wird auf diesem System noch nicht "
                              "unterstützt.");
    }
};

// An argument of an Exec line: quoted where the shell-like rules need it.
QString execArgument(const QString &argument) {
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    if (!std::any_of(argument.begin(), argument.end(),
                     [](QChar c) { return reserved.contains(c); }))
        return argument;
    QString quoted = argument;
    for (const QChar c : {u'\\', u'"', u'`', u'$'})
        quoted.replace(c, QStringLiteral("\\") + c);
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

// A value in a desktop entry: backslashes and line ends escaped.
QString entryValue(QString value) {
    value.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    value.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    return value;
}

} // namespace

std::unique_ptr<LoginItem> LoginItem::create(const QString &program) {
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    return std::make_unique<XdgAutostart>(program);
#else
    Q_UNUSED(program);
    return std::make_unique<Unsupported>();
#endif
}

QString XdgAutostart::entryPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/de.velmora.zeit.desktop");
}

QString XdgAutostart::command() const {
    const QFileInfo program(m_program);
    const QString onPath = QStandardPaths::findExecutable(program.fileName());
    if (!onPath.isEmpty() && QFileInfo(onPath).canonicalFilePath() == program.canonicalFilePath())
        return program.fileName();
    return program.absoluteFilePath();
}

bool XdgAutostart::isEnabled() const {
    QFile file(entryPath());
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    // Desktops switch an entry off with one of these instead of removing it.
    bool inMainGroup = false;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line.startsWith('[')) {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        const QByteArray key = line.left(equals).trimmed();
        const QByteArray value = line.mid(equals + 1).trimmed();
        if (inMainGroup && ((key == "Hidden" && value == "true") ||
                            (key == "X-GNOME-Autostart-enabled" && value == "false")))
            return false;
    }
    return true;
}

QString XdgAutostart::setEnabled(bool enabled) {
    const QString path = entryPath();
    if (!enabled) {
        QFile file(path);
        if (!file.exists() || file.remove())
            return {};
        return QStringLiteral("Der Start beim Anmelden ließ sich nicht abschalten: %1 (%2).")
            .arg(QDir::toNativeSeparators(path), file.errorString());
    }
    const QString command = this->command();
    const QString entry =
        QStringLiteral("[Desktop Entry]\n"
                       "Type=Application\n"
                       "Name=velmora Zeit\n"
                       "Comment=Projektzeit starten und stoppen, aus dem Infobereich\n"
                       "Exec=%1 --hidden\n"
                       "TryExec=%2\n"
                       "Icon=velmora-time\n"
                       "Terminal=false\n"
                       "X-GNOME-Autostart-enabled=true\n")
            .arg(entryValue(execArgument(command).replace(QLatin1Char('%'), QStringLiteral("%%"))),
                 entryValue(command));
    QSaveFile file(path);
    const bool written = QDir().mkpath(QFileInfo(path).path()) &&
                         file.open(QIODevice::WriteOnly | QIODevice::Text) &&
                         file.write(entry.toUtf8()) >= 0 && file.commit();
    if (written)
        return {};
    return QStringLiteral("Der Start beim Anmelden ließ sich nicht einrichten: %1 (%2).")
        .arg(QDir::toNativeSeparators(path), file.errorString().isEmpty()
                                                 ? QStringLiteral("Ordner nicht anlegbar")
                                                 : file.errorString());
}
