#include "app/timerstatus.h"

#include "ui/format.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>
#include <cmath>

namespace {

const QString separator = QStringLiteral(" · ");

std::optional<QDateTime> startOf(const Entry &entry) {
    if (!std::isfinite(entry.startedAt) || std::abs(entry.startedAt) > 8.64e15)
        return std::nullopt;
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(entry.startedAt), QTimeZone::utc());
}

CommandAnswer unavailable(bool signedIn) {
    return {NotAvailable, signedIn ? QByteArrayLiteral("velmora Zeit lädt noch; bitte gleich noch "
                                                       "einmal versuchen.\n")
                                   : QByteArrayLiteral("velmora Zeit ist nicht angemeldet.\n")};
}

} // namespace

QString trayToolTip(bool signedIn, const std::optional<State> &state, const QString &trouble) {
    if (!signedIn)
        return QStringLiteral("Nicht angemeldet");
    // Nothing loaded because of trouble (a locked keyring, no network) is
    // not loading: whether a timer runs is not known.
    const QString now = !state && !trouble.isEmpty()
                            ? QStringLiteral("Ob ein Timer läuft, ist unbekannt")
                        : !state          ? QStringLiteral("Wird geladen …")
                        : !state->running ? QStringLiteral("Kein Timer läuft")
                                          : runningSummary(*state->running);
    return trouble.isEmpty() ? now : now + u'\n' + trouble;
}

QString runningSummary(const Entry &entry) {
    const auto started = startOf(entry);
    const QString since = started ? QStringLiteral("Läuft seit ") +
                                        started->toLocalTime().toString(QStringLiteral("HH:mm"))
                                  : QStringLiteral("Läuft");
    return since + separator + entry.clientName + separator + entry.reasonName;
}

CommandAnswer timerStatus(bool signedIn, const std::optional<State> &state, const QDateTime &now,
                          bool json) {
    if (!signedIn || !state)
        return unavailable(signedIn);
    if (!state->running) {
        return {NoTimer, json ? QByteArrayLiteral("{\"running\":null}\n")
                              : QStringLiteral("Kein Timer läuft\n").toUtf8()};
    }
    const Entry &entry = *state->running;
    const double nowSeconds = static_cast<double>(now.toMSecsSinceEpoch()) / 1000.0;
    const QString elapsed = formatElapsed(nowSeconds, entry.startedAt);
    if (!json) {
        return {TimerRuns,
                (entry.clientName + separator + entry.reasonName + separator + elapsed + u'\n')
                    .toUtf8()};
    }
    const auto started = startOf(entry);
    const qint64 seconds = started ? std::max<qint64>(0, started->secsTo(now)) : 0;
    const QJsonObject object{
        {QStringLiteral("client"), entry.clientName},
        {QStringLiteral("reason"), entry.reasonName},
        {QStringLiteral("note"), entry.note},
        {QStringLiteral("startedAt"),
         started ? started->toUTC().toString(Qt::ISODateWithMs) : QJsonValue(QJsonValue::Null)},
        {QStringLiteral("elapsedSeconds"), seconds},
        {QStringLiteral("rateCents"), entry.rateCents}};
    return {TimerRuns, QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n'};
}
