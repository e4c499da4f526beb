#pragma once
// Tools for tests that drive the real app on a private X server: Xvfb with a
// tray host (trayer), windows found and clicked through xdotool, screen pixels
// read through ImageMagick's import, and a private D-Bus session with an
// unlocked keyring of its own.

#include <QElapsedTimer>
#include <QImage>
#include <QList>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <QString>
#include <QStringList>
#include <optional>

namespace xsession {

// The programs these tools run that are not installed, by name.
QStringList missingPrograms();

struct Window {
    QString id;
    QRect geometry; // on the screen
};

class XSession {
public:
    XSession() = default;
    ~XSession(); // stops
    XSession(const XSession &) = delete;
    XSession &operator=(const XSession &) = delete;

    // Starts Xvfb (1280 × 800) on a free display number, then trayer at the
    // bottom right. On failure `why` says what went wrong.
    bool start(QString *why);
    void stop();

    QString display() const { return m_display; }
    QRect screen() const { return {0, 0, 1280, 800}; }
    // trayer's window, where tray icons are embedded.
    QRect trayArea() const { return m_trayArea; }
    // The test's environment with DISPLAY set to this server and no
    // QT_QPA_PLATFORM, for programs that should appear on it.
    QProcessEnvironment environment() const;

    // The visible windows of a class (the second part of WM_CLASS).
    QList<Window> visibleWindows(const QString &windowClass) const;
    // The whole screen as it is now; null when it could not be read.
    QImage grabScreen() const;

    // Clicks at least a double-click interval after the previous click.
    void click(const QPoint &at, int button = 1) const;
    // Types into the window that has the keyboard focus.
    void type(const QString &text) const;
    // Key names as xdotool knows them ("Tab", "space", "Escape").
    void keys(const QStringList &names) const;

    // Runs a tool against this display; its output, or nothing on failure.
    std::optional<QByteArray> run(const QString &program, const QStringList &arguments,
                                  int timeoutMs = 15000) const;

private:
    bool startXvfb(QString *why);
    bool startTrayer(QString *why);

    QProcess m_xvfb;
    QProcess m_trayer;
    QString m_display;
    QRect m_trayArea;
    mutable QElapsedTimer m_lastClick;
};

// A D-Bus session bus of our own with gnome-keyring's Secret Service on it,
// unlocked, so a program's token never meets the keyring of other tests.
class PrivateKeyring {
public:
    PrivateKeyring() = default;
    ~PrivateKeyring(); // stops
    PrivateKeyring(const PrivateKeyring &) = delete;
    PrivateKeyring &operator=(const PrivateKeyring &) = delete;

    // `dir`: an empty folder for the keyring's files and sockets.
    bool start(const QString &dir, QString *why);
    void stop();

    QString busAddress() const { return m_address; }
    // Sets the bus (and the keyring's folders) in `environment`.
    void applyTo(QProcessEnvironment &environment) const;
    // The secret stored for a QtKeychain service and key, if any.
    std::optional<QString> lookup(const QString &service, const QString &key) const;

private:
    bool secretsOwned() const;

    QProcess m_bus;
    QProcess m_keyring;
    QString m_dir;
    QString m_address;
};

} // namespace xsession
