#pragma once
// The settings, as the tray menu, the panel's settings button and the
// window's menu bar offer them: "Beim Anmelden starten", checked while the
// autostart entry exists, "Erinnern nach" (4, 8 or 10 hours, or never) and
// "Bei Abwesenheit fragen" (5, 10, 15 or 30 minutes, or never), both kept in
// the preferences.

#include <QMenu>
#include <functional>
#include <memory>

class AwayNotice;
class Preferences;
class LoginItem;
class Reminder;

class SettingsMenu : public QMenu {
    Q_OBJECT
public:
    // `program`: what the entry for the start at login runs. `preferencesPath`:
    // the preferences file (empty: the user's own).
    SettingsMenu(Reminder *reminder, AwayNotice *awayNotice, const QString &program,
                 QString preferencesPath, QWidget *parent = nullptr);
    ~SettingsMenu() override;

    QAction *startAtLoginAction() const { return m_startAtLogin; }
    QMenu *reminderMenu() const { return m_reminderMenu; }
    QMenu *awayMenu() const { return m_awayMenu; }

public Q_SLOTS:
    // The entry may have been removed elsewhere since a menu last showed.
    void syncStartAtLogin();

private:
    void setStartAtLogin(bool enabled);
    // A submenu of radio entries, one per value (0: "Nie"), labelled with
    // `unit`; a choice is applied, then kept in the preferences by `store`.
    QMenu *addChoices(const QString &title, const QList<int> &values, int current,
                      const QString &unit, const std::function<void(int)> &apply,
                      void (Preferences::*store)(int));
    void addReminderMenu();
    void addAwayMenu();

    Reminder *m_reminder;
    AwayNotice *m_awayNotice;
    QString m_preferencesPath;
    std::unique_ptr<LoginItem> m_loginItem;
    QAction *m_startAtLogin;
    QMenu *m_reminderMenu;
    QMenu *m_awayMenu;
};
