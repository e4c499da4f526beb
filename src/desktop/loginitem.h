#pragma once
// Starting the app when the user logs in, by the platform's own mechanism:
// an XDG autostart entry on Linux and other free desktops. macOS (a login
// item) and Windows (the Run key) are not built yet and say so.

#include <QString>
#include <memory>

class LoginItem {
public:
    virtual ~LoginItem() = default;

    // This platform's mechanism, starting `program` without showing the
    // panel.
    static std::unique_ptr<LoginItem> create(const QString &program);

    virtual bool isSupported() const = 0;
    // Read afresh each time: the user may have removed it elsewhere.
    virtual bool isEnabled() const = 0;
    // Empty when done, else a German sentence saying what failed.
    virtual QString setEnabled(bool enabled) = 0;
};

// The entry $XDG_CONFIG_HOME/autostart/de.velmora.zeit.desktop, under the
// desktop id of the installed app.
class XdgAutostart : public LoginItem {
public:
    explicit XdgAutostart(QString program)
        : m_program(std::move(program)) {}

    static QString entryPath();
    // What the entry runs: the bare name where PATH finds this very program
    // (an installed app), else its absolute path, quoted if need be.
    QString command() const;

    bool isSupported() const override { return true; }
    bool isEnabled() const override;
    QString setEnabled(bool enabled) override;

private:
    QString m_program;
};
