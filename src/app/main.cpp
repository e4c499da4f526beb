#include "app/commandline.h"
#include "app/remotecontrol.h"
#include "app/velmoratimeapp.h"
#include "client/logging.h"
#include "desktop/singleinstance.h"
#include "tray/panelplacement.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QTranslator>
#include <cstdio>
#include <cstdlib>

using namespace std::chrono_literals;

namespace {

// A desktop session may take half a minute to bring up its panel.
constexpr auto trayWaitAtLogin = 30s;

// Qt would abort with an English message of its own.
bool displayMissing() {
#ifdef Q_OS_LINUX
    for (const char *variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        if (!qEnvironmentVariableIsEmpty(variable))
            return false;
    }
    return true;
#else
    return false;
#endif
}

// What Qt says while it opens the display, held back: if no platform can
// start, Qt's English abort becomes one German line and exit 1.
QtMessageHandler qtHandler = nullptr;
struct HeldBack {
    QtMsgType type;
    // The caller's literals: they outlive the call.
    const char *file, *function, *category;
    int line;
    QString message;
};
QList<HeldBack> *heldBack = nullptr;

void holdBack(QtMsgType type, const QMessageLogContext &context, const QString &message) {
    if (type == QtFatalMsg) {
        std::fputs("velmora-time: Die grafische Sitzung lässt sich nicht öffnen (weder X11 noch "
                   "Wayland antwortet, oder das Paket qt6-wayland fehlt).\n",
                   stderr);
        std::_Exit(1);
    }
    heldBack->append(
        {type, context.file, context.function, context.category, context.line, message});
}

void stopHoldingBack() {
    qInstallMessageHandler(qtHandler);
    for (const HeldBack &held : std::as_const(*heldBack))
        if (qtHandler)
            qtHandler(held.type,
                      QMessageLogContext(held.file, held.line, held.function, held.category),
                      held.message);
    delete heldBack;
    heldBack = nullptr;
}

// GNOME on Wayland places no window where a client asks; on its XWayland
// the panel may go beside the icon.
void choosePlatform(bool platformArgument) {
    const QString platform = preferredPlatform(
        qEnvironmentVariable("XDG_CURRENT_DESKTOP"), !qEnvironmentVariableIsEmpty("DISPLAY"),
        !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"),
        platformArgument || !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"));
    if (!platform.isEmpty())
        qputenv("QT_QPA_PLATFORM", platform.toLatin1());
}

// Waits as long as a switch may take: a stop's and a start's deadline and a
// reload.
constexpr int instanceAnswerMs = 200'000;

int askRunningInstance(const QByteArray &command) {
    const std::optional<CommandAnswer> answer =
        SingleInstance::ask(SingleInstance::defaultName(), command, instanceAnswerMs);
    if (!answer) {
        std::fputs("velmora Zeit läuft nicht.\n", stderr);
        return NotAvailable;
    }
    std::fputs(answer->text.constData(),
               answer->exitCode == TimerRuns || answer->exitCode == NoTimer ? stdout : stderr);
    return answer->exitCode;
}

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication::setOrganizationName(QStringLiteral("velmora"));
    QCoreApplication::setApplicationName(QStringLiteral("VelmoraTime"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELMORA_VERSION));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("velmora Zeit"));
    QGuiApplication::setDesktopFileName(QStringLiteral("de.velmora.zeit"));

    // Read before the display is opened: help and version need none, and
    // they must not reach a running instance.
    CommandLine commandLine;
    {
        QCoreApplication core(argc, argv);
        commandLine = parseCommandLine(QCoreApplication::arguments());
        // Questions go to the running instance; this process never talks to
        // the server, and needs no display.
        if (!commandLine.exitCode && !commandLine.instanceCommand.isEmpty())
            commandLine.exitCode = askRunningInstance(commandLine.instanceCommand);
    }
    if (commandLine.exitCode)
        return *commandLine.exitCode;
    if (commandLine.verbose)
        enableVerboseLogging();
    if (displayMissing()) {
        std::fputs("velmora-time: Keine grafische Sitzung gefunden (DISPLAY und WAYLAND_DISPLAY "
                   "sind leer).\n",
                   stderr);
        return 1;
    }

    choosePlatform(commandLine.platformChosen);
    heldBack = new QList<HeldBack>;
    qtHandler = qInstallMessageHandler(holdBack);
    QApplication application(argc, argv);
    stopHoldingBack();
    // The panel lives on after its window closes; only "Beenden" quits.
    QApplication::setQuitOnLastWindowClosed(false);

    // Qt's own texts, network failures among them, in German like the rest.
    QTranslator qtTexts;
    if (qtTexts.load(QStringLiteral("qtbase_de"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTexts);

    // A start at login finds a running app and leaves it be; a start by
    // hand opens its panel.
    SingleInstance instance;
    if (instance.claim(!commandLine.hidden) == SingleInstance::Role::HandedOver)
        return 0;

    AppOptions options;
    if (commandLine.hidden)
        options.tray.trayWait = trayWaitAtLogin;
    VelmoraTimeApp app(options);
    RemoteControl remote(app.model());
    instance.setCommandHandler([&remote](QByteArray command) { return remote.answer(command); });
    QApplication::setWindowIcon(QIcon::fromTheme(
        QStringLiteral("velmora-time"), QIcon(QStringLiteral(":/icons/velmora-time.svg"))));
    QObject::connect(&instance, &SingleInstance::showRequested, &app, &VelmoraTimeApp::showPanel);
    return QApplication::exec();
}
