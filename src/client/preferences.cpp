#include "client/preferences.h"

#include "client/failure.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QUrl>
#include <algorithm>
#include <memory>

namespace {

constexpr auto serverURLKey = "VelmoraTimeURL";
constexpr auto reminderHoursKey = "ReminderHours";
constexpr int defaultReminderHours = 8;
constexpr auto awayMinutesKey = "AwayMinutes";
constexpr int defaultAwayMinutes = 10;
constexpr auto recentPairsGroup = "RecentPairs";

// One key per server; the address is encoded, as QSettings takes "/" for a
// group.
QString recentPairsKey(const QString &server) {
    return QLatin1String(recentPairsGroup) + u'/' +
           QString::fromLatin1(QUrl::toPercentEncoding(server));
}

std::unique_ptr<QSettings> openSettings(const QString &iniPath);

// Writes one value at once; throws Failure with `failure` when it could not.
void write(const QString &iniPath, const char *key, int value, const QString &failure) {
    const auto settings = openSettings(iniPath);
    settings->setValue(QLatin1String(key), value);
    settings->sync();
    if (settings->status() != QSettings::NoError)
        throw Failure(failure);
}

std::unique_ptr<QSettings> openSettings(const QString &iniPath) {
    if (iniPath.isEmpty())
        return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                           QStringLiteral("velmora"),
                                           QStringLiteral("VelmoraTime"));
    return std::make_unique<QSettings>(iniPath, QSettings::IniFormat);
}

} // namespace

Preferences::Preferences(QString iniPath)
    : m_iniPath(std::move(iniPath)) {}

std::optional<QString> Preferences::serverURL() const {
    const QVariant value = openSettings(m_iniPath)->value(QLatin1String(serverURLKey));
    if (!value.isValid())
        return std::nullopt;
    return value.toString();
}

void Preferences::setServerURL(const QString &url) {
    const auto settings = openSettings(m_iniPath);
    settings->setValue(QLatin1String(serverURLKey), url);
    settings->sync();
    if (settings->status() != QSettings::NoError)
        throw Failure(QStringLiteral("Die Server-Adresse konnte nicht gespeichert werden."));
}

int Preferences::reminderHours() const {
    bool ok = false;
    const int hours = openSettings(m_iniPath)->value(QLatin1String(reminderHoursKey)).toInt(&ok);
    return ok && (hours == 0 || hours == 4 || hours == 8 || hours == 10) ? hours
                                                                         : defaultReminderHours;
}

void Preferences::setReminderHours(int hours) {
    write(m_iniPath, reminderHoursKey, hours,
          QStringLiteral("Die Erinnerung konnte nicht gespeichert werden."));
}

int Preferences::awayMinutes() const {
    bool ok = false;
    const int minutes = openSettings(m_iniPath)->value(QLatin1String(awayMinutesKey)).toInt(&ok);
    return ok && std::ranges::find(awayChoices, minutes) != awayChoices.end() ? minutes
                                                                              : defaultAwayMinutes;
}

void Preferences::setAwayMinutes(int minutes) {
    write(m_iniPath, awayMinutesKey, minutes,
          QStringLiteral("Die Einstellung konnte nicht gespeichert werden."));
}

QList<RecentPair> Preferences::recentPairs(const QString &server) const {
    const QByteArray text =
        openSettings(m_iniPath)->value(recentPairsKey(server)).toString().toUtf8();
    QList<RecentPair> pairs;
    for (const QJsonValue value : QJsonDocument::fromJson(text).array()) {
        const QJsonObject pair = value.toObject();
        const QString clientId = pair.value(QLatin1String("clientId")).toString();
        const qint64 reasonId = pair.value(QLatin1String("reasonId")).toInteger();
        if (!clientId.isEmpty() && reasonId > 0)
            pairs.append({clientId, reasonId});
    }
    return pairs;
}

void Preferences::setRecentPairs(const QString &server, const QList<RecentPair> &pairs) {
    QJsonArray array;
    for (const RecentPair &pair : pairs)
        array.append(QJsonObject{{QLatin1String("clientId"), pair.clientId},
                                 {QLatin1String("reasonId"), pair.reasonId}});
    const auto settings = openSettings(m_iniPath);
    settings->setValue(recentPairsKey(server),
                       QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact)));
    settings->sync();
    if (settings->status() != QSettings::NoError)
        throw Failure(
            QStringLiteral("Die zuletzt genutzten Paare konnten nicht gespeichert werden."));
}
