#pragma once
// The application: the one Model, Updater and Reminder of the process, the
// tray with its panel, and the settings; it wires them together and to the
// desktop (sleep, network, notifications).

#include "tray/tray.h"

#include <QObject>
#include <QTimer>
#include <QUrl>
#include <chrono>
#include <memory>

class AwayNotice;
class AwayWatch;
class Model;
class Notifier;
class Reminder;
class SettingsMenu;
class SystemWatch;
class Updater;

struct AppOptions {
    // How long the tray is waited for.
    TrayOptions tray;
    // What the entry for the start at login runs (empty: this program).
    QString program;
    // The preferences file for the reminder (empty: the user's own).
    QString preferencesPath;
    // Where the update checker reads the feed.
    QUrl appcastUrl = QUrl(QStringLiteral(VELMORA_APPCAST_URL));
    // Whether the update checker starts its own checks (the first after
    // `firstUpdateCheck`, then daily).
    bool automaticUpdateChecks = true;
    // Not at start-up: the check loads the TLS libraries, several MiB that
    // then stay resident, and an app quit soon after never needs them.
    std::chrono::milliseconds firstUpdateCheck{std::chrono::minutes(10)};
    // One minute of "Bei Abwesenheit fragen"; tests make it shorter.
    std::chrono::milliseconds awayMinute{std::chrono::minutes(1)};
};

class VelmoraTimeApp : public QObject {
    Q_OBJECT
public:
    // The user's own model: system keyring, user's preferences.
    explicit VelmoraTimeApp(AppOptions options = {}, QObject *parent = nullptr);
    VelmoraTimeApp(std::unique_ptr<Model> model, AppOptions options = {},
                   QObject *parent = nullptr);
    ~VelmoraTimeApp() override;

    Model *model() const { return m_model.get(); }
    Tray *tray() const { return m_tray.get(); }
    // What the tray menu and the window's menu bar offer besides the panel.
    SettingsMenu *settingsMenu() const { return m_settings.get(); }
    Reminder *reminder() const { return m_reminder.get(); }
    AwayNotice *awayNotice() const { return m_awayNotice.get(); }

public Q_SLOTS:
    void showPanel();

private:
    void updateToolTip();

    AppOptions m_options;
    std::unique_ptr<Model> m_model;
#if VELMORA_UPDATER
    std::unique_ptr<Updater> m_updater;
#endif
    std::unique_ptr<Notifier> m_notifier;
    std::unique_ptr<Reminder> m_reminder;
    std::unique_ptr<Notifier> m_awayNotifier;
    std::unique_ptr<AwayNotice> m_awayNotice;
    std::unique_ptr<SettingsMenu> m_settings;
    std::unique_ptr<Tray> m_tray; // shows the settings: goes first
    SystemWatch *m_systemWatch;
    AwayWatch *m_awayWatch;
    QTimer m_refresh;
    QTimer m_firstUpdateCheck;
};
