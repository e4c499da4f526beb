#pragma once
// The application: the one Model and Updater of the process, the tray icon
// whose symbol shows whether a timer runs, and the window holding the panel.
// Without a tray the panel is an ordinary window.

#include "client/records.h"

#include <QElapsedTimer>
#include <QIcon>
#include <QObject>
#include <QTimer>
#include <QUrl>
#include <chrono>
#include <memory>
#include <optional>

class Menu;
class Model;
class PanelWindow;
class QMenu;
class QSystemTrayIcon;
class Updater;

// The tray symbol for a loaded state: "record.circle.fill" while a timer
// runs, "timer" otherwise (no state loaded, or nothing running).
QString trayIconName(const std::optional<State> &state);
// Our icon of that name, drawn sharp at every size a tray asks for.
QIcon symbolIcon(const QString &name);

struct AppOptions {
    // How long to wait at start-up for a tray before showing a plain window.
    std::chrono::milliseconds trayWait{3000};
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
    Updater *updater() const { return m_updater.get(); }
    // The panel, made at its first use (here or when it is first shown): a
    // hidden app holds none of its widgets, fonts and styles in memory. The
    // model holds everything typed, so nothing is lost by making it late.
    Menu *menu();
    // The window holding the panel, a popup beside the tray icon or, without
    // a tray, an ordinary window titled "velmora Zeit".
    PanelWindow *panelWindow() const { return m_panel.get(); }
    // Null until a tray was found, and for good when none was.
    QSystemTrayIcon *trayIcon() const { return m_tray.get(); }
    QMenu *trayMenu() const { return m_trayMenu.get(); }

    // Whether the wait for a tray is over, and how it ended.
    bool isReady() const { return m_ready; }
    bool hasTray() const { return m_tray != nullptr; }
    // The symbol shown now (tray icon, or the window's icon without a tray).
    const QString &iconName() const { return m_iconName; }

public Q_SLOTS:
    void showPanel();
    void hidePanel();
    // The tray icon's left click.
    void togglePanel();

Q_SIGNALS:
    // The wait for a tray ended: with a tray icon, or with the panel shown
    // as a window.
    void ready();
    // The symbol changed; it is set on the tray only then.
    void iconNameChanged(const QString &name);

private:
    void pollForTray();
    void useTray();
    void useWindow();
    void updateIcon();

    AppOptions m_options;
    std::unique_ptr<Model> m_model;
    std::unique_ptr<Updater> m_updater;
    Menu *m_menu = nullptr; // owned by the panel window once made
    std::unique_ptr<PanelWindow> m_panel;
    std::unique_ptr<QMenu> m_trayMenu;
    std::unique_ptr<QSystemTrayIcon> m_tray;
    QTimer m_trayPoll;
    QElapsedTimer m_trayWaited;
    QTimer m_refresh;
    QTimer m_firstUpdateCheck;
    QString m_iconName;
    bool m_ready = false;
    bool m_showWhenReady = false;
};
