#pragma once
// The user's preferences (QSettings, organization "velmora", application
// "VelmoraTime"): the server address under "VelmoraTimeURL", and after how
// many hours a running timer is reminded of under "ReminderHours".

#include <QString>
#include <optional>

class Preferences {
public:
    // The platform's per-user store, or an INI file at `iniPath` when given.
    explicit Preferences(QString iniPath = {});

    std::optional<QString> serverURL() const;
    // Throws Failure when the value could not be written.
    void setServerURL(const QString &url);

    // 4, 8 (the default) or 10; 0 means never. Anything else reads as 8.
    int reminderHours() const;
    // Throws Failure when the value could not be written.
    void setReminderHours(int hours);

private:
    QString m_iniPath;
};
