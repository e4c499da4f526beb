#pragma once
// The user's preferences: one string, the server address, under
// "VelmoraTimeURL" (QSettings, organization "velmora", application
// "VelmoraTime").

#include <QString>
#include <optional>

class Preferences {
public:
    // The platform's per-user store, or an INI file at `iniPath` when given.
    explicit Preferences(QString iniPath = {});

    std::optional<QString> serverURL() const;
    // Throws Failure when the value could not be written.
    void setServerURL(const QString &url);

private:
    QString m_iniPath;
};
