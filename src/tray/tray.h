#pragma once
// The tray icon and the panel beside it. The icon goes over StatusNotifier
// (our own item) or XEmbed (Qt's icon), whichever the desktop has. While
// there is no tray the panel is an ordinary window; a tray that comes later
// takes over, and one that goes away for good hands back.

#include <QObject>
#include <QPoint>
#include <QString>
#include <QTimer>
#include <chrono>
#include <memory>
#include <optional>

class Menu;
class Model;
class PanelWindow;
class QMenu;
class QSystemTrayIcon;
class StatusNotifierItem;
class TimerMenu;
class TrayWatch;

struct TrayOptions {
    // How long to wait at start-up for a tray before showing a plain window.
    std::chrono::milliseconds trayWait{3000};
    // How long a tray may be gone (a desktop shell restarting) before the
    // plain window stands in for it.
    std::chrono::milliseconds trayReturnWait{10000};
};

class Tray : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString iconName READ iconName NOTIFY iconNameChanged)

public:
    // `settings` (kept by the caller): the window's menu bar shows it, and
    // its entries sit in the tray menu between "Öffnen" and "Beenden".
    Tray(Model *model, QMenu *settings, TrayOptions options, QObject *parent = nullptr);
    ~Tray() override;

    // The panel, made at its first use (here or when it is first shown): a
    // hidden app holds none of its widgets, fonts and styles in memory. The
    // model holds everything typed, so nothing is lost by making it late.
    Menu *menu();
    // The window holding the panel, a popup beside the tray icon or, without
    // a tray, an ordinary window titled "velmora Zeit".
    PanelWindow *panelWindow() const { return m_panel.get(); }
    // Null until a tray was first found; then kept, also while the tray is
    // gone, so that it comes back with the tray. On StatusNotifier trays the
    // icon is our own item; Qt's icon serves X trays (XEmbed) only.
    QSystemTrayIcon *trayIcon() const { return m_tray.get(); }
    StatusNotifierItem *statusNotifierItem() const { return m_sni.get(); }
    QMenu *trayMenu() const { return m_trayMenu.get(); }
    // The timer's entries: first in the tray menu, and the window's "Timer".
    TimerMenu *timerMenu() const { return m_timerMenu.get(); }

    // Whether the wait for a tray is over, and whether the panel now lives
    // beside a tray icon (else in a plain window).
    bool isReady() const { return m_ready; }
    bool hasTray() const { return m_ready && m_inTray; }
    // The symbol shown now (tray icon, or the window's icon without a tray).
    const QString &iconName() const { return m_iconName; }
    // What the icon's tooltip says; passed on to the tray only on a change.
    const QString &toolTip() const { return m_toolTip; }
    void setToolTip(const QString &text);

public Q_SLOTS:
    void showPanel();
    void hidePanel();
    // The tray icon's left click; `click`: where a StatusNotifier host said
    // it was.
    void togglePanel(std::optional<QPoint> click = std::nullopt);

Q_SIGNALS:
    // The wait for a tray ended: with a tray icon, or with the panel shown
    // as a window.
    void ready();
    // The symbol changed; it is set on the tray only then.
    void iconNameChanged(const QString &name);
    // The panel was just made.
    void menuMade(Menu *menu);
    // A menu with the settings entries is about to show.
    void settingsAboutToShow();
    // Qt's XEmbed icon was just made.
    void trayIconMade(QSystemTrayIcon *icon);

private:
    void trayAvailabilityChanged(bool available);
    void useTray();
    void useWindow();
    void syncSettingsButton();
    void setReady();
    void updateIcon();
    void makeTrayMenu();
    void showTrayMenu(std::optional<QPoint> click);
    void showTrayMenuOnKWin(std::optional<QPoint> click);

    Model *m_model;
    QMenu *m_settings;
    TrayOptions m_options;
    std::unique_ptr<TimerMenu> m_timerMenu;
    std::unique_ptr<QMenu> m_trayMenu;
    Menu *m_menu = nullptr; // owned by the panel window once made
    std::unique_ptr<PanelWindow> m_panel;
    std::unique_ptr<QSystemTrayIcon> m_tray;
    std::unique_ptr<StatusNotifierItem> m_sni;
    // Where the last click on a StatusNotifier icon was, if a host ever said.
    std::optional<QPoint> m_click;
    TrayWatch *m_trayWatch;
    // Runs while we wait for a tray: at start-up, or after it went away.
    QTimer m_trayWait;
    QString m_iconName;
    QString m_toolTip;
    bool m_ready = false;
    bool m_inTray = false;
    bool m_showWhenReady = false;
};
