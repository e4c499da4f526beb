#pragma once
// The user's preferences (QSettings, organization "velmora", application
// "VelmoraTime"): the server address under "VelmoraTimeURL", and after how
// many hours a running timer is reminded of under "ReminderHours", and the
// recent pairs of client and reason under "RecentPairs", per server.

#include <QList>
#include <QString>
#include <array>
#include <optional>

// A client and a reason the user started a timer for, by id only.
struct RecentPair {
    QString clientId;
    qint64 reasonId = 0;
    bool operator==(const RecentPair &) const = default;
};

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

    // After how many minutes away to ask about a timer that ran on.
    static constexpr std::array<int, 5> awayChoices{5, 10, 15, 30, 0};
    // One of awayChoices, 10 by default; 0 means never. Anything else reads as 10.
    int awayMinutes() const;
    // Throws Failure when the value could not be written.
    void setAwayMinutes(int minutes);

    // The recent pairs kept for the server at `server`, newest first. What
    // is unreadable reads as no pairs.
    QList<RecentPair> recentPairs(const QString &server) const;
    // Throws Failure when the value could not be written.
    void setRecentPairs(const QString &server, const QList<RecentPair> &pairs);

private:
    QString m_iniPath;
};
