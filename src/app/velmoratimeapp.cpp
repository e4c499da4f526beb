#include "app/velmoratimeapp.h"

#include "app/awaynotice.h"
#include "app/reminder.h"
#include "app/settingsmenu.h"
#include "app/timerstatus.h"
#if VELMORA_UPDATER
#include "app/updater.h"
#endif
#include "client/keychain.h"
#include "desktop/awaywatch.h"
#include "desktop/keyringwatch.h"
#include "desktop/notifier.h"
#include "desktop/systemwatch.h"
#include "model/model.h"
#include "tray/tray.h"
#include "ui/menu.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QSystemTrayIcon>

using namespace std::chrono_literals;

namespace {

constexpr auto refreshInterval = 15s;

} // namespace

VelmoraTimeApp::VelmoraTimeApp(AppOptions options, QObject *parent)
    : VelmoraTimeApp(std::make_unique<Model>(), std::move(options), parent) {}

VelmoraTimeApp::VelmoraTimeApp(std::unique_ptr<Model> model, AppOptions options, QObject *parent)
    : QObject(parent)
    , m_options(std::move(options))
    , m_model(std::move(model))
#if VELMORA_UPDATER
    , m_updater(std::make_unique<Updater>(m_options.appcastUrl))
#endif
    , m_notifier(std::make_unique<Notifier>())
    , m_reminder(std::make_unique<Reminder>(m_model.get(), m_notifier.get()))
    , m_awayNotifier(std::make_unique<Notifier>())
    , m_awayNotice(std::make_unique<AwayNotice>(m_model.get(), m_awayNotifier.get())) {
    // Away: only events wake us, from the idle source and the screen lock.
    m_awayWatch = new AwayWatch(nullptr, this);
    connect(m_awayWatch, &AwayWatch::cameBack, m_awayNotice.get(),
            [this](const QDateTime &since) { m_awayNotice->cameBack(since); });
    connect(m_awayNotice.get(), &AwayNotice::minutesChanged, m_awayWatch,
            [this](int minutes) { m_awayWatch->setThreshold(minutes * m_options.awayMinute); });
    connect(m_awayNotice.get(), &AwayNotice::webAppRequested, this, [this] {
        if (const auto url = m_model->endpoint())
            QDesktopServices::openUrl(*url);
    });
    connect(m_awayNotifier.get(), &Notifier::openRequested, this, &VelmoraTimeApp::showPanel);
    m_settings = std::make_unique<SettingsMenu>(
        m_reminder.get(), m_awayNotice.get(),
        m_options.program.isEmpty() ? QCoreApplication::applicationFilePath() : m_options.program,
        m_options.preferencesPath);
    m_awayWatch->setThreshold(m_awayNotice->minutes() * m_options.awayMinute);
    m_tray = std::make_unique<Tray>(m_model.get(), m_settings.get(), m_options.tray);
    connect(m_tray.get(), &Tray::settingsAboutToShow, m_settings.get(),
            &SettingsMenu::syncStartAtLogin);
    connect(m_tray.get(), &Tray::trayIconMade, m_notifier.get(), &Notifier::setFallback);
    connect(m_tray.get(), &Tray::trayIconMade, m_awayNotifier.get(), &Notifier::setFallback);
    connect(m_tray.get(), &Tray::menuMade, this, [this](Menu *menu) {
#if VELMORA_UPDATER
        connect(menu, &Menu::checkForUpdatesRequested, m_updater.get(), &Updater::checkForUpdates);
#else
        Q_UNUSED(menu);
#endif
    });
    connect(m_notifier.get(), &Notifier::openRequested, this, &VelmoraTimeApp::showPanel);
    connect(m_reminder.get(), &Reminder::openRequested, this, &VelmoraTimeApp::showPanel);

    updateToolTip();
    for (const auto changed : {&Model::stateChanged, &Model::signedInChanged,
                               &Model::offlineChanged, &Model::keyringLockedChanged})
        connect(m_model.get(), changed, this, &VelmoraTimeApp::updateToolTip);

    // The true state from the first second, not from the first tick.
    if (m_model->signedIn())
        QMetaObject::invokeMethod(m_model.get(), &Model::runAutomaticRefresh, Qt::QueuedConnection);
    // After sleep at once; after the network went, once it is back.
    m_systemWatch = new SystemWatch(this);
    connect(m_systemWatch, &SystemWatch::resumed, m_model.get(), &Model::runAutomaticRefresh);
    connect(m_systemWatch, &SystemWatch::resumed, m_reminder.get(), &Reminder::reschedule);
    connect(m_systemWatch, &SystemWatch::onlineChanged, m_model.get(),
            [model = m_model.get()](bool online) { model->setOffline(!online); });
    m_model->setOffline(!m_systemWatch->online());
    // A keyring unlocked with the session: the state at once, not at the
    // next opening of the panel.
    connect(new KeyringWatch(this), &KeyringWatch::unlocked, m_model.get(),
            &Model::keyringUnlocked);

    // Keeps the tray symbol true to timers started or stopped elsewhere.
    m_refresh.setInterval(refreshInterval);
    connect(&m_refresh, &QTimer::timeout, m_model.get(), &Model::runAutomaticRefresh);
    // The reload wakes us anyway; the reminder looks at the clock then too.
    connect(&m_refresh, &QTimer::timeout, m_reminder.get(), &Reminder::reschedule);
    m_refresh.start();

#if VELMORA_UPDATER
    if (m_options.automaticUpdateChecks) {
        m_firstUpdateCheck.setSingleShot(true);
        m_firstUpdateCheck.setInterval(m_options.firstUpdateCheck);
        connect(&m_firstUpdateCheck, &QTimer::timeout, m_updater.get(), &Updater::start);
        m_firstUpdateCheck.start();
    }
#endif
}

VelmoraTimeApp::~VelmoraTimeApp() = default;

void VelmoraTimeApp::showPanel() {
    m_tray->showPanel();
}

void VelmoraTimeApp::updateToolTip() {
    const QString trouble = m_model->keyringLocked()
                                ? keychainErrorText(KeychainError::Kind::Locked)
                            : m_model->offline() ? offlineText()
                                                 : QString();
    m_tray->setToolTip(trayToolTip(m_model->signedIn(), m_model->state(), trouble));
}
