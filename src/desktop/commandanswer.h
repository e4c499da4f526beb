#pragma once
// What the running instance answers a later start's command with.

#include <QByteArray>

struct CommandAnswer {
    int exitCode = 0;
    QByteArray text; // to stdout for exit codes 0 and 1, else to stderr
    bool operator==(const CommandAnswer &) const = default;
};
