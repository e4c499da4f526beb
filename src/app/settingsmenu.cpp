#include "app/settingsmenu.h"

#include "app/awaynotice.h"
#include "app/reminder.h"
#include "client/failure.h"
#include "client/preferences.h"
#include "desktop/loginitem.h"

#include <QActionGroup>
#include <QMessageBox>

SettingsMenu::SettingsMenu(Reminder *reminder, AwayNotice *awayNotice, const QString &program,
                           QString preferencesPath, QWidget *parent)
    : QMenu(QStringLiteral("&Einstellungen"), parent)
    , m_reminder(reminder)
    , m_awayNotice(awayNotice)
    , m_preferencesPath(std::move(preferencesPath))
    , m_loginItem(LoginItem::create(program)) {
    m_startAtLogin = addAction(QStringLiteral("Beim Anmelden starten"));
    m_startAtLogin->setCheckable(true);
    m_startAtLogin->setVisible(m_loginItem->isSupported());
    connect(m_startAtLogin, &QAction::triggered, this, &SettingsMenu::setStartAtLogin);
    syncStartAtLogin();
    m_reminder->setLimitHours(Preferences(m_preferencesPath).reminderHours());
    addReminderMenu();
    m_awayNotice->setMinutes(Preferences(m_preferencesPath).awayMinutes());
    addAwayMenu();
    connect(this, &QMenu::aboutToShow, this, &SettingsMenu::syncStartAtLogin);
}

SettingsMenu::~SettingsMenu() = default;

void SettingsMenu::syncStartAtLogin() {
    m_startAtLogin->setChecked(m_loginItem->isEnabled());
}

void SettingsMenu::setStartAtLogin(bool enabled) {
    const QString failure = m_loginItem->setEnabled(enabled);
    syncStartAtLogin();
    if (failure.isEmpty())
        return;
    auto *box = new QMessageBox(QMessageBox::Warning, QStringLiteral("velmora Zeit"), failure,
                                QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void SettingsMenu::addReminderMenu() {
    m_reminderMenu = addMenu(QStringLiteral("Erinnern nach"));
    auto *choices = new QActionGroup(m_reminderMenu);
    for (const int hours : {4, 8, 10, 0}) {
        QAction *choice = m_reminderMenu->addAction(hours ? QStringLiteral("%1 Stunden").arg(hours)
                                                          : QStringLiteral("Nie"));
        choice->setCheckable(true);
        choice->setChecked(hours == m_reminder->limitHours());
        choices->addAction(choice);
        connect(choice, &QAction::triggered, this, [this, hours] {
            m_reminder->setLimitHours(hours);
            try {
                Preferences(m_preferencesPath).setReminderHours(hours);
            } catch (const Failure &failure) {
                QMessageBox::warning(nullptr, QStringLiteral("velmora Zeit"),
                                     failure.description());
            }
        });
    }
}

void SettingsMenu::addAwayMenu() {
    m_awayMenu = addMenu(QStringLiteral("Bei Abwesenheit fragen"));
    auto *choices = new QActionGroup(m_awayMenu);
    for (const int minutes : Preferences::awayChoices) {
        QAction *choice = m_awayMenu->addAction(minutes ? QStringLiteral("%1 Minuten").arg(minutes)
                                                        : QStringLiteral("Nie"));
        choice->setCheckable(true);
        choice->setChecked(minutes == m_awayNotice->minutes());
        choices->addAction(choice);
        connect(choice, &QAction::triggered, this, [this, minutes] {
            m_awayNotice->setMinutes(minutes);
            try {
                Preferences(m_preferencesPath).setAwayMinutes(minutes);
            } catch (const Failure &failure) {
                QMessageBox::warning(nullptr, QStringLiteral("velmora Zeit"),
                                     failure.description());
            }
        });
    }
}
