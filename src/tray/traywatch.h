#pragma once
// Whether a tray host is there to take our icon, watched without touching
// QSystemTrayIcon.
//
// Qt 6.4 on Linux has two tray protocols and picks one for good at the first
// QSystemTrayIcon use: the platform theme asks once whether a
// StatusNotifierWatcher with a registered host is on the session bus and
// caches the answer for the life of the process; only if not does it embed
// the icon over X (XEmbed). isSystemTrayAvailable() therefore re-checks the X
// tray on every call, but never the D-Bus one: an app that asked before a
// StatusNotifier host came up can never show its icon there. So nothing here
// calls into QSystemTrayIcon. We watch both kinds ourselves, and the app
// creates its icon only once one is there. From then on only the protocol Qt
// took counts: Qt re-embeds an X icon when a new tray manager announces
// itself, and re-registers a D-Bus icon when the watcher comes back, but it
// never moves an icon from one protocol to the other.

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QTimer>
#include <cstdint>

class QDBusServiceWatcher;
struct xcb_connection_t;

class TrayWatch : public QObject, private QAbstractNativeEventFilter {
    Q_OBJECT
public:
    enum class Protocol { None, StatusNotifier, XEmbed };

    explicit TrayWatch(QObject *parent = nullptr);
    ~TrayWatch() override;

    // What Qt would pick if the icon were made now, asked the same way Qt
    // asks (a blocking D-Bus call: use it right before making the icon).
    Protocol protocolQtWouldPick() const;
    // Qt made the icon with `protocol`: from now on only that one counts.
    void commit(Protocol protocol);
    Protocol committed() const { return m_committed; }

    // A tray host of the committed protocol is there (before the commit:
    // one of either kind).
    bool isAvailable() const;

Q_SIGNALS:
    void availabilityChanged(bool available);

private Q_SLOTS:
    void askStatusNotifierHost();

private:
    bool xembedTrayPresent() const;
    void watchSelectionOwner(int screenNumber);
    bool nativeEventFilter(const QByteArray &type, void *message, qintptr *result) override;
    void pollXEmbed();
    void update(bool statusNotifier, bool xembed);

    QDBusServiceWatcher *m_watcher = nullptr;
    xcb_connection_t *m_xcb = nullptr;
    std::uint32_t m_selection = 0;      // _NET_SYSTEM_TRAY_S<screen>
    std::uint8_t m_selectionEvents = 0; // XFixes' selection notify, 0 without XFixes
    QTimer m_xembedPoll;
    bool m_statusNotifier = false;
    bool m_xembed = false;
    bool m_available = false;
    Protocol m_committed = Protocol::None;
};
