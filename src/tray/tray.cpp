#include "tray/tray.h"

#include "client/logging.h"
#include "model/model.h"
#include "tray/panelwindow.h"
#if VELMORA_PLASMA_SHELL
#include "tray/plasmashell.h"
#endif
#include "tray/statusnotifieritem.h"
#include "tray/symbols.h"
#include "tray/timermenu.h"
#include "tray/traywatch.h"
#include "ui/menu.h"

#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QWindow>

namespace {

// The screens for turning a host's click in X pixels into Qt's units.
QList<ScreenScale> screenScales() {
    QList<ScreenScale> scales;
    for (const QScreen *screen : QGuiApplication::screens())
        scales.append({screen->geometry(), screen->devicePixelRatio()});
    return scales;
}

} // namespace

Tray::Tray(Model *model, QMenu *settings, TrayOptions options, QObject *parent)
    : QObject(parent)
    , m_model(model)
    , m_settings(settings)
    , m_options(options)
    , m_timerMenu(std::make_unique<TimerMenu>(model)) {
    registerTraySymbols();
    m_panel = std::make_unique<PanelWindow>();
    m_panel->setWindowMenus({m_timerMenu.get(), m_settings});
    connect(m_panel.get(), &PanelWindow::closeRequested, this, [] { QCoreApplication::quit(); });

    m_iconName = trayIconName(m_model->state());
    m_panel->setWindowIcon(symbolIcon(m_iconName));
    connect(m_model, &Model::stateChanged, this, &Tray::updateIcon);

    // Nothing touches QSystemTrayIcon until a tray is there (see TrayWatch).
    // Until then, and for a while after one went away, we wait for it; only
    // then does the plain window show.
    m_trayWatch = new TrayWatch(this);
    connect(m_trayWatch, &TrayWatch::availabilityChanged, this, &Tray::trayAvailabilityChanged);
    m_trayWait.setSingleShot(true);
    connect(&m_trayWait, &QTimer::timeout, this, &Tray::useWindow);
    m_trayWait.start(m_options.trayWait);
    if (m_trayWatch->isAvailable())
        QMetaObject::invokeMethod(this, &Tray::useTray, Qt::QueuedConnection);
}

Tray::~Tray() = default;

Menu *Tray::menu() {
    if (!m_menu) {
        m_menu = new Menu(m_model);
        connect(m_menu, &Menu::quitRequested, this, [] { QCoreApplication::quit(); });
        connect(m_menu, &Menu::sizeHintChanged, m_panel.get(), &PanelWindow::fitToContent);
        m_panel->setContent(m_menu);
        syncSettingsButton();
        Q_EMIT menuMade(m_menu);
    }
    return m_menu;
}

void Tray::syncSettingsButton() {
    // The window has its menu bar; the popup carries the same menu in its header.
    if (m_menu)
        m_menu->setSettingsMenu(m_inTray ? m_settings : nullptr);
}

void Tray::trayAvailabilityChanged(bool available) {
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

void Tray::makeTrayMenu() {
    m_trayMenu = std::make_unique<QMenu>();
    m_trayMenu->addActions(m_timerMenu->entries());
    connect(m_trayMenu->addAction(QStringLiteral("Öffnen")), &QAction::triggered, this,
            &Tray::showPanel);
    m_trayMenu->addActions(m_settings->actions());
    m_trayMenu->addSeparator();
    connect(m_trayMenu->addAction(QStringLiteral("Beenden")), &QAction::triggered, this,
            [] { QCoreApplication::quit(); });
    connect(m_trayMenu.get(), &QMenu::aboutToShow, this, &Tray::settingsAboutToShow);
#if VELMORA_PLASMA_SHELL
    connect(m_trayMenu.get(), &QMenu::aboutToHide, this, [this] {
        if (PlasmaShell *shell = PlasmaShell::instance())
            shell->release(m_trayMenu->windowHandle());
    });
    // A menu that is a window of its own closes as a popup does: when the
    // user turns to anything else.
    connect(qGuiApp, &QGuiApplication::focusWindowChanged, m_trayMenu.get(),
            [this](QWindow *focus) {
                if (m_trayMenu->isVisible() && focus != m_trayMenu->windowHandle() &&
                    PanelWindow::session() == SessionKind::KWinWayland)
                    m_trayMenu->hide();
            });
#endif
}

void Tray::useTray() {
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
            connect(m_sni.get(), &StatusNotifierItem::activated, this, [this](QPoint point) {
                togglePanel(usableClick(PanelWindow::session(), point));
            });
            connect(
                m_sni.get(), &StatusNotifierItem::contextMenuRequested, this,
                [this](QPoint point) { showTrayMenu(usableClick(PanelWindow::session(), point)); });
            connect(m_sni.get(), &StatusNotifierItem::activationTokenProvided, m_panel.get(),
                    &PanelWindow::setActivationToken);
        } else {
            m_tray = std::make_unique<QSystemTrayIcon>();
            m_tray->setIcon(symbolIcon(m_iconName));
            m_tray->setToolTip(m_toolTip);
            Q_EMIT trayIconMade(m_tray.get());
            m_tray->setContextMenu(m_trayMenu.get());
            connect(m_tray.get(), &QSystemTrayIcon::activated, this,
                    [this](QSystemTrayIcon::ActivationReason reason) {
                        // A quick second click arrives as a double click; it
                        // closes the panel the first one opened.
                        if (reason == QSystemTrayIcon::Trigger ||
                            reason == QSystemTrayIcon::DoubleClick)
                            togglePanel();
                        else if (reason == QSystemTrayIcon::Context)
                            Q_EMIT settingsAboutToShow();
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

void Tray::useWindow() {
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

void Tray::setReady() {
    if (m_ready)
        return;
    m_ready = true;
    Q_EMIT ready();
    if (m_showWhenReady)
        showPanel();
}

void Tray::updateIcon() {
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

void Tray::setToolTip(const QString &text) {
    // Only on a change: some tray hosts grow with every update they get.
    if (text == m_toolTip)
        return;
    m_toolTip = text;
    if (m_tray)
        m_tray->setToolTip(text);
    if (m_sni)
        m_sni->setToolTip(text);
}

void Tray::showPanel() {
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
    m_panel->popUp(panelPlacement(session, m_tray ? m_tray->geometry() : QRect(), m_click, pointer,
                                  screenScales()));
}

void Tray::hidePanel() {
    // Without a tray the window is the whole app; it stays.
    if (m_inTray)
        m_panel->hide();
}

void Tray::togglePanel(std::optional<QPoint> click) {
    qCDebug(lcTray) << "tray click at" << click.value_or(QPoint(-1, -1)) << "panel shown"
                    << m_panel->isVisible();
    if (m_panel->isVisible()) {
        hidePanel();
    } else if (!m_panel->justClosedByFocusLoss()) {
        // Kept: "Öffnen" from a host's own menu sends no point, and the
        // icon has not moved since the last click.
        if (click)
            m_click = click;
        showPanel();
    }
}

void Tray::showTrayMenu(std::optional<QPoint> click) {
    // Hosts that draw the exported menu never ask; those that do get ours.
    const SessionKind session = PanelWindow::session();
    if (click)
        m_click = click;
    if (session == SessionKind::KWinWayland) {
        showTrayMenuOnKWin(click ? click : m_click);
        return;
    }
    if (session == SessionKind::OtherWayland)
        return; // a menu of ours cannot be placed there
    if (click)
        click = fromDevicePixels(*click, screenScales());
    else if (pointerTrusted(session))
        click = QCursor::pos();
    if (click)
        m_trayMenu->popup(*click);
}

void Tray::showTrayMenuOnKWin(std::optional<QPoint> click) {
#if VELMORA_PLASMA_SHELL
    // With no window of ours under it, the menu is a window of its own, which
    // KWin would put in the middle of the screen: it goes beside the click
    // the way the panel does.
    PlasmaShell *shell = PlasmaShell::instance();
    if (!click || !shell)
        return;
    const Placement placement{PlacementMethod::PlasmaSurface, QRect(*click, QSize(1, 1))};
    m_trayMenu->popup(*click);
    if (QWindow *window = m_trayMenu->windowHandle()) {
        shell->place(window,
                     panelPosition(placement.anchor, m_trayMenu->size(), availableArea(placement)));
    }
#else
    Q_UNUSED(click);
#endif
}
