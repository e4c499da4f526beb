#pragma once
// The application: the one Model and Updater of the process, the tray icon
// whose symbol shows whether a timer runs, and the window holding the panel.
// While there is no tray the panel is an ordinary window; a tray that comes
// later takes over, and one that goes away for good hands back.

#include "client/records.h"

#include <QIcon>
#include <QObject>
#include <QPoint>
#include <QTimer>
#include <QUrl>
#include <chrono>
#include <memory>
#include <optional>

class LoginItem;
class Menu;
class Model;
class Notifier;
class Reminder;
class PanelWindow;
class QAction;
class QMenu;
class QSystemTrayIcon;
class StatusNotifierItem;
class SystemWatch;
class TrayWatch;
class Updater;

// The tray symbol for a loaded state: "record.circle.fill" while a timer
// runs, "timer" otherwise (no state loaded, or nothing running).
QString trayIconName(const std::optional<State> &state);
// Our icon of that name, drawn sharp at every size a tray asks for.
QIcon symbolIcon(const QString &name);

struct AppOptions {
    // How long to wait at start-up for a tray before showing a plain window.
    std::chrono::milliseconds trayWait{3000};
    // How long a tray may be gone (a desktop shell restarting) before the
    // plain window stands in for it.
    std::chrono::milliseconds trayReturnWait{10000};
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
};

class VelmoraTimeApp : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString iconName READ iconName NOTIFY iconNameChanged)

public:
    // The user's own model: system keyring, user's preferences.
    explicit VelmoraTimeApp(AppOptions options = {}, QObject *parent = nullptr);
    VelmoraTimeApp(std::unique_ptr<Model> model, AppOptions options = {},
                   QObject *parent = nullptr);
    ~VelmoraTimeApp() override;

    Model *model() const { return m_model.get(); }
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
    // The window's menu bar menu: what the tray menu offers besides the panel.
    QMenu *windowMenu() const { return m_windowMenu.get(); }
    // "Beim Anmelden starten", checked while the entry exists.
    QAction *startAtLoginAction() const { return m_startAtLogin; }
    // "Erinnern nach": 4, 8 or 10 hours, or never; kept in the preferences.
    QMenu *reminderMenu() const { return m_reminderMenu.get(); }
    Reminder *reminder() const { return m_reminder.get(); }

    // Whether the wait for a tray is over, and whether the panel now lives
    // beside a tray icon (else in a plain window).
    bool isReady() const { return m_ready; }
    // What the tray icon's tooltip says now.
    const QString &toolTip() const { return m_toolTip; }
    bool hasTray() const { return m_ready && m_inTray; }
    // The symbol shown now (tray icon, or the window's icon without a tray).
    const QString &iconName() const { return m_iconName; }

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

private:
    void trayAvailabilityChanged(bool available);
    void useTray();
    void useWindow();
    void syncSettingsButton();
    void setReady();
    void updateIcon();
    void syncStartAtLogin();
    void setStartAtLogin(bool enabled);
    void setupReminder();
    void updateToolTip();
    QString toolTipNow() const;
    void makeTrayMenu();
    void showTrayMenu(std::optional<QPoint> click);

    AppOptions m_options;
    std::unique_ptr<Model> m_model;
#if VELMORA_UPDATER
    std::unique_ptr<Updater> m_updater;
#endif
    std::unique_ptr<LoginItem> m_loginItem;
    QAction *m_startAtLogin;
    std::unique_ptr<QMenu> m_reminderMenu;
    std::unique_ptr<QMenu> m_windowMenu;
    std::unique_ptr<QMenu> m_trayMenu;
    Menu *m_menu = nullptr; // owned by the panel window once made
    std::unique_ptr<PanelWindow> m_panel;
    std::unique_ptr<QSystemTrayIcon> m_tray;
    std::unique_ptr<StatusNotifierItem> m_sni;
    // Where the last click on a StatusNotifier icon was, if the host said.
    std::optional<QPoint> m_click;
    TrayWatch *m_trayWatch;
    SystemWatch *m_systemWatch;
    std::unique_ptr<Notifier> m_notifier;
    std::unique_ptr<Reminder> m_reminder;
    // Runs while we wait for a tray: at start-up, or after it went away.
    QTimer m_trayWait;
    QTimer m_refresh;
    QTimer m_firstUpdateCheck;
    QString m_iconName;
    QString m_toolTip;
    bool m_ready = false;
    bool m_inTray = false;
    bool m_showWhenReady = false;
};
