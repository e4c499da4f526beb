#pragma once
// What the running timer looks like outside the panel: the tray icon's
// tooltip, and the answer to `velmora-time --status`. Both read the state the
// app already holds; neither sends a request.

#include "client/records.h"
#include "desktop/commandanswer.h"

#include <QByteArray>
#include <QDateTime>
#include <optional>

// "Läuft seit 09:14 · Bäckerei Süß · Support" (local time of day), "Kein
// Timer läuft", "Wird geladen …" before the first state, or "Nicht
// angemeldet"; `trouble` (no network) follows on a line of its own. Changes
// only when these do.
QString trayToolTip(bool signedIn, const std::optional<State> &state, const QString &trouble = {});
// The first of these for a running entry.
QString runningSummary(const Entry &entry);

// Exit codes of the requests to the running instance.
enum CommandExit {
    TimerRuns = 0,     // --status: a timer runs; --stop: it was stopped;
                       // --start: it started or ran already
    NoTimer = 1,       // nothing runs
    NameUnmatched = 2, // --start: no or more than one client or reason fits
    NotAvailable = 3,  // no instance runs, or it is signed out or loading
    ServerRefused = 4, // --stop, --start: the server refused; the text says why
};

// The running entry as "Bäckerei Süß · Support · 01:02:05", or "Kein Timer
// läuft"; as JSON with client, reason, note, startedAt, elapsedSeconds and
// rateCents, or {"running": null}.
// Signed out, or no state loaded yet: exit code 3 and a German line.
CommandAnswer timerStatus(bool signedIn, const std::optional<State> &state, const QDateTime &now,
                          bool json);
