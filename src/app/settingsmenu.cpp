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

QMenu *SettingsMenu::addChoices(const QString &title, const QList<int> &values, int current,
                                const QString &unit, const std::function<void(int)> &apply,
                                void (Preferences::*store)(int)) {
    QMenu *menu = addMenu(title);
    auto *choices = new QActionGroup(menu);
    for (const int value : values) {
        QAction *choice = menu->addAction(value ? unit.arg(value) : QStringLiteral("Nie"));
        choice->setCheckable(true);
        choice->setChecked(value == current);
        choices->addAction(choice);
        connect(choice, &QAction::triggered, this, [this, value, apply, store] {
            apply(value);
            try {
                (Preferences(m_preferencesPath).*store)(value);
            } catch (const Failure &failure) {
                QMessageBox::warning(nullptr, QStringLiteral("velmora Zeit"),
                                     failure.description());
            }
        });
    }
    return menu;
}

void SettingsMenu::addReminderMenu() {
    m_reminderMenu = addChoices(
        QStringLiteral("Erinnern nach"), {4, 8, 10, 0}, m_reminder->limitHours(),
        QStringLiteral("%1 Stunden"), [this](int hours) { m_reminder->setLimitHours(hours); },
        &Preferences::setReminderHours);
}

void SettingsMenu::addAwayMenu() {
    m_awayMenu = addChoices(
        QStringLiteral("Bei Abwesenheit fragen"),
        QList<int>(Preferences::awayChoices.begin(), Preferences::awayChoices.end()),
        m_awayNotice->minutes(), QStringLiteral("%1 Minuten"),
        [this](int minutes) { m_awayNotice->setMinutes(minutes); }, &Preferences::setAwayMinutes);
}
