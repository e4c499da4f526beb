#pragma once
// The settings, as the tray menu, the panel's settings button and the
// window's menu bar offer them: "Beim Anmelden starten", checked while the
// autostart entry exists, and "Erinnern nach" (4, 8 or 10 hours, or never),
// kept in the preferences.

#include <QMenu>
#include <memory>

class LoginItem;
class Reminder;

class SettingsMenu : public QMenu {
    Q_OBJECT
public:
    // `program`: what the entry for the start at login runs. `preferencesPath`:
    // the preferences file (empty: the user's own).
    SettingsMenu(Reminder *reminder, const QString &program, QString preferencesPath,
                 QWidget *parent = nullptr);
    ~SettingsMenu() override;

    QAction *startAtLoginAction() const { return m_startAtLogin; }
    QMenu *reminderMenu() const { return m_reminderMenu; }

public Q_SLOTS:
    // The entry may have been removed elsewhere since a menu last showed.
    void syncStartAtLogin();

private:
    void setStartAtLogin(bool enabled);
    void addReminderMenu();

    Reminder *m_reminder;
    QString m_preferencesPath;
    std::unique_ptr<LoginItem> m_loginItem;
    QAction *m_startAtLogin;
    QMenu *m_reminderMenu;
};
