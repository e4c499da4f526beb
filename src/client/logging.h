#pragma once
// The app's log, one category per area. Quiet by default: debug and info
// lines appear only with --verbose or QT_LOGGING_RULES. What is logged never
// holds a token, password, setup code or request body.

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcNet)     // velmora.net: requests and their outcome
Q_DECLARE_LOGGING_CATEGORY(lcModel)   // velmora.model: what the user is told
Q_DECLARE_LOGGING_CATEGORY(lcKeyring) // velmora.keyring: token store decisions
Q_DECLARE_LOGGING_CATEGORY(lcTray)    // velmora.tray: tray and window decisions
Q_DECLARE_LOGGING_CATEGORY(lcUpdate)  // velmora.update: update checks

// Turns every velmora category on, down to debug.
void enableVerboseLogging();
