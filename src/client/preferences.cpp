#include "client/preferences.h"

#include "client/failure.h"

#include <QSettings>
#include <memory>

namespace {

constexpr auto serverURLKey = "VelmoraTimeURL";
constexpr auto reminderHoursKey = "ReminderHours";
constexpr int defaultReminderHours = 8;

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
    const auto settings = openSettings(m_iniPath);
    settings->setValue(QLatin1String(reminderHoursKey), hours);
    settings->sync();
    if (settings->status() != QSettings::NoError)
        throw Failure(QStringLiteral("Die Erinnerung konnte nicht gespeichert werden."));
}
