#pragma once
// A private desktop for tests that drive the real app: scripts/xsession (Xvfb
// and the accessibility bus) with scripts/tray-host at the bottom right, inside
// scripts/with-keyring (a D-Bus session of its own with an unlocked keyring),
// so the app's token never meets other tests' keyring. Windows are found and
// clicked through xdotool; controls through the AT-SPI driver (atspidriver.h).

#include <QElapsedTimer>
#include <QImage>
#include <QProcess>
#include <QRect>
#include <optional>

class XSession {
public:
    ~XSession() { stop(); }

    // `dir`: an empty folder for the session's files. On failure `why` says
    // what went wrong. Without `trayHost`, the desktop has no tray until
    // startTrayHost().
    bool start(const QString &dir, QString *why, bool trayHost = true);
    void stop();
    // The tray host (scripts/tray-host) coming up late, or going away (as a
    // crashing shell does).
    bool startTrayHost(QString *why);
    void stopTrayHost();

    QRect screen() const { return {0, 0, 1280, 800}; }
    QRect trayArea() const { return m_trayArea; }
    // DISPLAY, the private bus and the keyring's folders, accessibility on;
    // no QT_QPA_PLATFORM.
    QProcessEnvironment environment() const;

    // The geometries of the visible windows of a class (WM_CLASS).
    QList<QRect> windows(const QString &windowClass) const;
    // Null when the screen could not be read.
    QImage grabScreen() const;
    void click(const QPoint &at);
    // Runs xdotool against the focused window ("type", "key").
    void xdotool(const QStringList &arguments) const;
    // The secret QtKeychain stored for a service and key, if any.
    std::optional<QString> secret(const QString &service, const QString &key) const;

private:
    bool startOnce(const QString &dir, QString *why);
    std::optional<QByteArray> run(const QString &program, const QStringList &arguments) const;

    // The scripts, kept running until their stdin closes.
    QProcess m_session, m_trayer;
    QProcessEnvironment m_environment;
    QRect m_trayArea;
    QElapsedTimer m_lastClick;
};
