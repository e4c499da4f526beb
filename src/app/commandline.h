#pragma once
// The command line, read before anything touches the window system: help,
// version and mistakes are answered without a display and without reaching
// a running instance. Texts are German whatever catalogues are installed.

#include <QByteArray>
#include <QStringList>
#include <optional>

struct CommandLine {
    // Started at login: no panel, and a longer wait for the tray to come up.
    bool hidden = false;
    // Every log category on, down to debug.
    bool verbose = false;
    // Qt's own -platform was given (QApplication reads it, and Qt's other
    // options, itself).
    bool platformChosen = false;
    // A request for the running instance, one line: "status", "status-json",
    // "stop", "toggle", "recent", "recent-json", or "start" with its JSON
    // object (see RemoteControl).
    QByteArray instanceCommand;
    // Set when the program ends at once, with this exit code (help, version,
    // a mistake); what it had to say is printed already.
    std::optional<int> exitCode;
};

// `arguments` begins with the program, as QCoreApplication::arguments() does.
// Needs a QCoreApplication (for the translator of the parser's own texts).
CommandLine parseCommandLine(const QStringList &arguments);
