#include "model/recentpairs.h"

QString OfferedPair::label() const {
    return clientName + QStringLiteral(" · ") + reasonName;
}

QList<RecentPair> withRecent(QList<RecentPair> pairs, const RecentPair &pair) {
    pairs.removeAll(pair);
    pairs.prepend(pair);
    if (pairs.size() > maxRecentPairs)
        pairs.resize(maxRecentPairs);
    return pairs;
}

QString foldName(const QString &name) {
    // "Müller" → "muller": take the accents off the letters, then fold.
    const QString decomposed = name.normalized(QString::NormalizationForm_KD);
    QString bare;
    bare.reserve(decomposed.size());
    for (const QChar c : decomposed) {
        if (c.category() != QChar::Mark_NonSpacing)
            bare.append(c);
    }
    return bare.toCaseFolded().simplified();
}

QList<qsizetype> matchName(const QStringList &names, const QString &typed) {
    const QString wanted = foldName(typed);
    QList<qsizetype> exact, prefix;
    if (wanted.isEmpty())
        return exact;
    for (qsizetype i = 0; i < names.size(); ++i) {
        const QString name = foldName(names[i]);
        if (name == wanted)
            exact.append(i);
        else if (name.startsWith(wanted))
            prefix.append(i);
    }
    return exact.isEmpty() ? prefix : exact;
}
