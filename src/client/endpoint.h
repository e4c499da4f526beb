#pragma once
// Turning the typed server address into the base address the client talks to.
// The update checker holds its feed address to the same rule.

#include <QString>
#include <QUrl>
#include <optional>

// https to any host; plain http only to exactly "localhost" or "127.0.0.1".
// Nothing is trimmed or normalised; the parsed address is returned as is.
std::optional<QUrl> resolveEndpoint(const QString &serverURL);

// The base address with `path` appended as path segments: exactly one "/"
// between the base path and `path`, no "/" added at the end.
QUrl appendPath(const QUrl &base, const QString &path);

// "/?tab=inbox" resolved against the base address: same scheme and authority,
// path "/", query "tab=inbox".
std::optional<QUrl> inboxURLFor(const QUrl &base);
