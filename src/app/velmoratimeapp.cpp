#include "app/velmoratimeapp.h"

#include "app/panelwindow.h"
#include "app/updater.h"
#include "model/model.h"
#include "ui/menu.h"

#include <QCoreApplication>
#include <QImage>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>
#include <QSystemTrayIcon>

using namespace std::chrono_literals;

// Resources of a static library must be registered by hand.
static void initResources() {
    Q_INIT_RESOURCE(velmora);
}

namespace {

constexpr auto refreshInterval = 15s;
constexpr auto trayPollInterval = 150ms;

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
    , m_updater(std::make_unique<Updater>(m_options.appcastUrl)) {
    initResources();

    m_panel = std::make_unique<PanelWindow>();
    connect(m_panel.get(), &PanelWindow::closeRequested, this, [] { QCoreApplication::quit(); });

    m_iconName = trayIconName(m_model->state());
    m_panel->setWindowIcon(symbolIcon(m_iconName));
    connect(m_model.get(), &Model::stateChanged, this, &VelmoraTimeApp::updateIcon);

    // Keeps the tray symbol true to timers started or stopped elsewhere.
    m_refresh.setInterval(refreshInterval);
    connect(&m_refresh, &QTimer::timeout, m_model.get(), &Model::runRefresh);
    m_refresh.start();

    if (m_options.automaticUpdateChecks) {
        m_firstUpdateCheck.setSingleShot(true);
        m_firstUpdateCheck.setInterval(m_options.firstUpdateCheck);
        connect(&m_firstUpdateCheck, &QTimer::timeout, m_updater.get(), &Updater::start);
        m_firstUpdateCheck.start();
    }

    // Qt picks the tray protocol at its first use, so nothing touches the
    // tray until one is there; the event loop runs meanwhile.
    m_trayWaited.start();
    m_trayPoll.setInterval(trayPollInterval);
    connect(&m_trayPoll, &QTimer::timeout, this, &VelmoraTimeApp::pollForTray);
    m_trayPoll.start();
    QMetaObject::invokeMethod(this, &VelmoraTimeApp::pollForTray, Qt::QueuedConnection);
}

VelmoraTimeApp::~VelmoraTimeApp() = default;

Menu *VelmoraTimeApp::menu() {
    if (!m_menu) {
        m_menu = new Menu(m_model.get());
        connect(m_menu, &Menu::checkForUpdatesRequested, m_updater.get(),
                &Updater::checkForUpdates);
        connect(m_menu, &Menu::quitRequested, this, [] { QCoreApplication::quit(); });
        connect(m_menu, &Menu::sizeHintChanged, m_panel.get(), &PanelWindow::fitToContent);
        m_panel->setContent(m_menu);
    }
    return m_menu;
}

void VelmoraTimeApp::pollForTray() {
    if (m_ready)
        return;
    if (QSystemTrayIcon::isSystemTrayAvailable())
        useTray();
    else if (m_trayWaited.elapsed() >= m_options.trayWait.count())
        useWindow();
}

void VelmoraTimeApp::useTray() {
    m_trayPoll.stop();
    m_trayMenu = std::make_unique<QMenu>();
    connect(m_trayMenu->addAction(QStringLiteral("Öffnen")), &QAction::triggered, this,
            &VelmoraTimeApp::showPanel);
    connect(m_trayMenu->addAction(QStringLiteral("Beenden")), &QAction::triggered, this,
            [] { QCoreApplication::quit(); });

    m_tray = std::make_unique<QSystemTrayIcon>();
    m_tray->setIcon(symbolIcon(m_iconName));
    m_tray->setToolTip(QStringLiteral("velmora Zeit"));
    m_tray->setContextMenu(m_trayMenu.get());
    connect(m_tray.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                // A quick second click arrives as a double click; it closes
                // the panel the first one opened.
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                    togglePanel();
            });
    m_tray->show();

    m_panel->setMode(PanelWindow::Mode::Popup);
    m_ready = true;
    Q_EMIT ready();
    if (m_showWhenReady)
        showPanel();
}

void VelmoraTimeApp::useWindow() {
    m_trayPoll.stop();
    m_panel->setMode(PanelWindow::Mode::Window);
    m_ready = true;
    menu();
    m_panel->present();
    Q_EMIT ready();
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
    m_panel->setWindowIcon(icon);
    Q_EMIT iconNameChanged(name);
}

void VelmoraTimeApp::showPanel() {
    if (!m_ready) {
        m_showWhenReady = true;
        return;
    }
    menu();
    if (m_tray)
        m_panel->popUp(m_tray->geometry());
    else
        m_panel->present();
}

void VelmoraTimeApp::hidePanel() {
    // Without a tray the window is the whole app; it stays.
    if (m_tray)
        m_panel->hide();
}

void VelmoraTimeApp::togglePanel() {
    if (m_panel->isVisible())
        hidePanel();
    else if (!m_panel->justClosedByFocusLoss())
        showPanel();
}
