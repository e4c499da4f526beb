#pragma once
// The tray symbols: "timer" and "record.circle.fill", our own SVGs.

#include "client/records.h"

#include <QIcon>
#include <QString>
#include <optional>

// The tray symbol for a loaded state: "record.circle.fill" while a timer
// runs, "timer" otherwise (no state loaded, or nothing running).
QString trayIconName(const std::optional<State> &state);
// Our icon of that name, drawn sharp at every size a tray asks for.
QIcon symbolIcon(const QString &name);
// Makes the symbols (and the app's own icon, ":/icons/velmora-time.svg")
// readable; resources of a static library must be registered by hand.
void registerTraySymbols();
