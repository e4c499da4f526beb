#include "app/velmoratimeapp.h"

#include "app/loginitem.h"
#include "app/notifier.h"
#include "app/panelwindow.h"
#include "app/reminder.h"
#include "app/statusnotifieritem.h"
#include "app/systemwatch.h"
#include "app/timerstatus.h"
#include "app/traywatch.h"
#if VELMORA_UPDATER
#include "app/updater.h"
#endif
#include "client/failure.h"
#include "client/keychain.h"
#include "client/logging.h"
#include "client/preferences.h"
#include "model/model.h"
#include "ui/menu.h"

#include <QActionGroup>
#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QImage>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QSvgRenderer>
#include <QSystemTrayIcon>

using namespace std::chrono_literals;

// Resources of a static library must be registered by hand.
static void initResources() {
    Q_INIT_RESOURCE(velmora);
}

namespace {

constexpr auto refreshInterval = 15s;

// The screens for turning a host's click in X pixels into Qt's units.
QList<ScreenScale> screenScales() {
    QList<ScreenScale> scales;
    for (const QScreen *screen : QGuiApplication::screens())
        scales.append({screen->geometry(), screen->devicePixelRatio()});
    return scales;
}

} // namespace

QString trayIconName(const std::optional<State> &state) {
    return state && state->running ? QStringLiteral("record.circle.fill") : QStringLiteral("timer");
}

QIcon symbolIcon(const QString &name) {
    QSvgRenderer renderer(QStringLiteral(":/icons/%1.svg").arg(name));
    if (!renderer.isValid())
        return {};
    // Pixmaps at the sizes trays ask for; XEmbed trays take pixmaps anyway.
    QIcon icon;
    for (const int size : {16, 20, 22, 24, 32, 40, 44, 48, 64, 96, 128}) {
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter);
        painter.end();
        icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

VelmoraTimeApp::VelmoraTimeApp(AppOptions options, QObject *parent)
    : VelmoraTimeApp(std::make_unique<Model>(), std::move(options), parent) {}

VelmoraTimeApp::VelmoraTimeApp(std::unique_ptr<Model> model, AppOptions options, QObject *parent)
    : QObject(parent)
    , m_options(std::move(options))
    , m_model(std::move(model))
#if VELMORA_UPDATER
    , m_updater(std::make_unique<Updater>(m_options.appcastUrl))
#endif
    , m_loginItem(LoginItem::create(m_options.program.isEmpty()
                                        ? QCoreApplication::applicationFilePath()
                                        : m_options.program)) {
    initResources();

    m_startAtLogin = new QAction(QStringLiteral("Beim Anmelden starten"), this);
    m_startAtLogin->setCheckable(true);
    m_startAtLogin->setVisible(m_loginItem->isSupported());
    connect(m_startAtLogin, &QAction::triggered, this, &VelmoraTimeApp::setStartAtLogin);
    syncStartAtLogin();
    setupReminder();
    m_windowMenu = std::make_unique<QMenu>(QStringLiteral("&Einstellungen"));
    m_windowMenu->addAction(m_startAtLogin);
    m_windowMenu->addMenu(m_reminderMenu.get());
    // The entry may have been removed elsewhere since the menu last showed.
    connect(m_windowMenu.get(), &QMenu::aboutToShow, this, &VelmoraTimeApp::syncStartAtLogin);

    m_panel = std::make_unique<PanelWindow>();
    m_panel->setWindowMenu(m_windowMenu.get());
    connect(m_panel.get(), &PanelWindow::closeRequested, this, [] { QCoreApplication::quit(); });

    m_iconName = trayIconName(m_model->state());
    m_panel->setWindowIcon(symbolIcon(m_iconName));
    connect(m_model.get(), &Model::stateChanged, this, &VelmoraTimeApp::updateIcon);
    m_toolTip = toolTipNow();
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

    // Nothing touches QSystemTrayIcon until a tray is there (see TrayWatch).
    // Until then, and for a while after one went away, we wait for it; only
    // then does the plain window show.
    m_trayWatch = new TrayWatch(this);
    connect(m_trayWatch, &TrayWatch::availabilityChanged, this,
            &VelmoraTimeApp::trayAvailabilityChanged);
    m_trayWait.setSingleShot(true);
    connect(&m_trayWait, &QTimer::timeout, this, &VelmoraTimeApp::useWindow);
    m_trayWait.start(m_options.trayWait);
    if (m_trayWatch->isAvailable())
        QMetaObject::invokeMethod(this, &VelmoraTimeApp::useTray, Qt::QueuedConnection);
}

VelmoraTimeApp::~VelmoraTimeApp() = default;

Menu *VelmoraTimeApp::menu() {
    if (!m_menu) {
        m_menu = new Menu(m_model.get());
#if VELMORA_UPDATER
        connect(m_menu, &Menu::checkForUpdatesRequested, m_updater.get(),
                &Updater::checkForUpdates);
#endif
        connect(m_menu, &Menu::quitRequested, this, [] { QCoreApplication::quit(); });
        connect(m_menu, &Menu::sizeHintChanged, m_panel.get(), &PanelWindow::fitToContent);
        m_panel->setContent(m_menu);
        syncSettingsButton();
    }
    return m_menu;
}

void VelmoraTimeApp::syncSettingsButton() {
    // The window has its menu bar; the popup carries the same menu in its header.
    if (m_menu)
        m_menu->setSettingsMenu(m_inTray ? m_windowMenu.get() : nullptr);
}

void VelmoraTimeApp::trayAvailabilityChanged(bool available) {
    if (available && m_inTray) {
        m_trayWait.stop(); // back within the wait: as if never gone
    } else if (available) {
        useTray();
    } else if (m_inTray) {
        // A shell restarting comes back within seconds: no window meanwhile.
        qCDebug(lcTray) << "tray gone; waiting for it to return";
        m_trayWait.start(m_options.trayReturnWait);
    }
}

void VelmoraTimeApp::makeTrayMenu() {
    m_trayMenu = std::make_unique<QMenu>();
    connect(m_trayMenu->addAction(QStringLiteral("Öffnen")), &QAction::triggered, this,
            &VelmoraTimeApp::showPanel);
    m_trayMenu->addAction(m_startAtLogin);
    m_trayMenu->addMenu(m_reminderMenu.get());
    m_trayMenu->addSeparator();
    connect(m_trayMenu->addAction(QStringLiteral("Beenden")), &QAction::triggered, this,
            [] { QCoreApplication::quit(); });
    connect(m_trayMenu.get(), &QMenu::aboutToShow, this, &VelmoraTimeApp::syncStartAtLogin);
}

void VelmoraTimeApp::useTray() {
    if (!m_tray && !m_sni) {
        // Asked right before the icon is made, so we know which way it goes.
        const TrayWatch::Protocol protocol = m_trayWatch->protocolQtWouldPick();
        if (protocol == TrayWatch::Protocol::None)
            return; // gone again already
        qCDebug(lcTray) << "tray icon over"
                        << (protocol == TrayWatch::Protocol::XEmbed ? "XEmbed" : "StatusNotifier");
        makeTrayMenu();
        if (protocol == TrayWatch::Protocol::StatusNotifier) {
            m_sni = std::make_unique<StatusNotifierItem>(m_trayMenu.get());
            m_sni->setIconName(m_iconName);
            m_sni->setToolTip(m_toolTip);
            connect(m_sni.get(), &StatusNotifierItem::activated, this,
                    &VelmoraTimeApp::togglePanel);
            connect(m_sni.get(), &StatusNotifierItem::contextMenuRequested, this,
                    &VelmoraTimeApp::showTrayMenu);
            connect(m_sni.get(), &StatusNotifierItem::activationTokenProvided, m_panel.get(),
                    &PanelWindow::setActivationToken);
        } else {
            m_tray = std::make_unique<QSystemTrayIcon>();
            m_tray->setIcon(symbolIcon(m_iconName));
            m_tray->setToolTip(m_toolTip);
            m_notifier->setFallback(m_tray.get());
            m_tray->setContextMenu(m_trayMenu.get());
            connect(m_tray.get(), &QSystemTrayIcon::activated, this,
                    [this](QSystemTrayIcon::ActivationReason reason) {
                        // A quick second click arrives as a double click; it
                        // closes the panel the first one opened.
                        if (reason == QSystemTrayIcon::Trigger ||
                            reason == QSystemTrayIcon::DoubleClick)
                            togglePanel();
                        else if (reason == QSystemTrayIcon::Context)
                            syncStartAtLogin();
                    });
            m_tray->show();
        }
        m_trayWatch->commit(protocol);
        if (!m_trayWatch->isAvailable())
            return; // the committed kind went away meanwhile; we wait on
    }
    qCDebug(lcTray) << "panel beside the tray icon";
    m_trayWait.stop();
    m_inTray = true;
    // The plain window goes; what was typed lives in the model and the same
    // panel shows it again beside the icon.
    m_panel->hide();
    m_panel->setMode(PanelWindow::Mode::Popup);
    syncSettingsButton();
    setReady();
}

void VelmoraTimeApp::useWindow() {
    qCDebug(lcTray) << "no tray: the panel is a window";
    m_trayWait.stop();
    const bool wasInTray = m_inTray;
    m_inTray = false;
    if (wasInTray || !m_ready) {
        m_panel->hide();
        m_panel->setMode(PanelWindow::Mode::Window);
        menu();
        syncSettingsButton();
        m_panel->present();
    }
    setReady();
}

void VelmoraTimeApp::setReady() {
    if (m_ready)
        return;
    m_ready = true;
    Q_EMIT ready();
    if (m_showWhenReady)
        showPanel();
}

void VelmoraTimeApp::syncStartAtLogin() {
    m_startAtLogin->setChecked(m_loginItem->isEnabled());
}

void VelmoraTimeApp::setStartAtLogin(bool enabled) {
    const QString failure = m_loginItem->setEnabled(enabled);
    syncStartAtLogin();
    if (failure.isEmpty())
        return;
    auto *box = new QMessageBox(QMessageBox::Warning, QStringLiteral("velmora Zeit"), failure,
                                QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void VelmoraTimeApp::updateIcon() {
    const QString name = trayIconName(m_model->state());
    if (name == m_iconName)
        return;
    // Tray hosts redraw, and some leak, on every setIcon: only on a change.
    m_iconName = name;
    const QIcon icon = symbolIcon(name);
    if (m_tray)
        m_tray->setIcon(icon);
    if (m_sni)
        m_sni->setIconName(name);
    m_panel->setWindowIcon(icon);
    Q_EMIT iconNameChanged(name);
}

void VelmoraTimeApp::showPanel() {
    if (!m_ready) {
        m_showWhenReady = true;
        return;
    }
    menu();
    if (!m_inTray) {
        m_panel->present();
        return;
    }
    const SessionKind session = PanelWindow::session();
    const std::optional<QPoint> pointer =
        pointerTrusted(session) ? std::optional<QPoint>(QCursor::pos()) : std::nullopt;
    m_panel->popUp(panelPlacement(session, m_tray ? m_tray->geometry() : QRect(),
                                  std::exchange(m_click, std::nullopt), pointer, screenScales()));
}

void VelmoraTimeApp::hidePanel() {
    // Without a tray the window is the whole app; it stays.
    if (m_inTray)
        m_panel->hide();
}

void VelmoraTimeApp::togglePanel(std::optional<QPoint> click) {
    qCDebug(lcTray) << "tray click at" << click.value_or(QPoint(-1, -1)) << "panel shown"
                    << m_panel->isVisible();
    if (m_panel->isVisible()) {
        hidePanel();
    } else if (!m_panel->justClosedByFocusLoss()) {
        m_click = click;
        showPanel();
    }
}

void VelmoraTimeApp::showTrayMenu(std::optional<QPoint> click) {
    // Hosts that draw the exported menu never ask; those that do get ours.
    const SessionKind session = PanelWindow::session();
    if (session == SessionKind::OtherWayland || session == SessionKind::KWinWayland)
        return; // a menu of ours cannot be placed there
    if (click)
        click = fromDevicePixels(*click, screenScales());
    else if (pointerTrusted(session))
        click = QCursor::pos();
    if (click)
        m_trayMenu->popup(*click);
}

void VelmoraTimeApp::setupReminder() {
    m_notifier = std::make_unique<Notifier>();
    connect(m_notifier.get(), &Notifier::openRequested, this, &VelmoraTimeApp::showPanel);
    m_reminder = std::make_unique<Reminder>(m_model.get(), m_notifier.get());
    connect(m_reminder.get(), &Reminder::openRequested, this, &VelmoraTimeApp::showPanel);
    const Preferences preferences(m_options.preferencesPath);
    m_reminder->setLimitHours(preferences.reminderHours());

    m_reminderMenu = std::make_unique<QMenu>(QStringLiteral("Erinnern nach"));
    auto *choices = new QActionGroup(m_reminderMenu.get());
    for (const int hours : {4, 8, 10, 0}) {
        QAction *choice = m_reminderMenu->addAction(hours ? QStringLiteral("%1 Stunden").arg(hours)
                                                          : QStringLiteral("Nie"));
        choice->setCheckable(true);
        choice->setChecked(hours == m_reminder->limitHours());
        choices->addAction(choice);
        connect(choice, &QAction::triggered, this, [this, hours] {
            m_reminder->setLimitHours(hours);
            try {
                Preferences(m_options.preferencesPath).setReminderHours(hours);
            } catch (const Failure &failure) {
                QMessageBox::warning(nullptr, QStringLiteral("velmora Zeit"),
                                     failure.description());
            }
        });
    }
}

QString VelmoraTimeApp::toolTipNow() const {
    const QString trouble = m_model->keyringLocked()
                                ? keychainErrorText(KeychainError::Kind::Locked)
                            : m_model->offline() ? offlineText()
                                                 : QString();
    return trayToolTip(m_model->signedIn(), m_model->state(), trouble);
}

void VelmoraTimeApp::updateToolTip() {
    // Only on a change: some tray hosts grow with every update they get.
    const QString text = toolTipNow();
    if (text == m_toolTip)
        return;
    m_toolTip = text;
    if (m_tray)
        m_tray->setToolTip(text);
    if (m_sni)
        m_sni->setToolTip(text);
}
