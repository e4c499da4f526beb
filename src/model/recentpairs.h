#pragma once
// The pairs of client and reason worked on lately, and finding a client or
// reason by the name a person types on the command line.

#include "client/preferences.h"

#include <QList>
#include <QString>
#include <QStringList>

// A recent pair that the pickers would offer now, with the names shown.
struct OfferedPair {
    RecentPair pair;
    QString clientName;
    QString reasonName;
    // "Kunde · Grund"
    QString label() const;
    bool operator==(const OfferedPair &) const = default;
};

constexpr qsizetype maxRecentPairs = 5;

// `pairs` with `pair` first, each pair once, at most `maxRecentPairs`.
QList<RecentPair> withRecent(QList<RecentPair> pairs, const RecentPair &pair);

// A name as it is compared: letter case and accents do not count.
QString foldName(const QString &name);
// The positions in `names` that `typed` means: the names equal to it once
// folded or, if there is none, the names it begins.
QList<qsizetype> matchName(const QStringList &names, const QString &typed);
