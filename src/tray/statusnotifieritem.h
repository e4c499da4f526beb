#pragma once
// Our tray icon on StatusNotifier trays (KDE Plasma, GNOME's AppIndicator
// extension, waybar and most panels today), served over D-Bus ourselves.
// Qt's own D-Bus tray icon drops the point a host's click arrives with; we
// keep it, so the panel opens beside the icon on Wayland too. The menu goes
// out as com.canonical.dbusmenu for the host to draw.

#include <QDBusArgument>
#include <QObject>
#include <QPoint>
#include <optional>

class DBusMenu;
class QDBusServiceWatcher;
class QMenu;

// One picture of the icon: (iiay), ARGB32 in network byte order.
struct SniPixmap {
    int width = 0;
    int height = 0;
    QByteArray argb;
};
using SniPixmaps = QList<SniPixmap>;
QDBusArgument &operator<<(QDBusArgument &argument, const SniPixmap &pixmap);
const QDBusArgument &operator>>(const QDBusArgument &argument, SniPixmap &pixmap);

// The tooltip: (sa(iiay)ss), icon name, pictures, title and text.
struct SniToolTip {
    QString iconName;
    SniPixmaps pixmaps;
    QString title;
    QString text;
};
QDBusArgument &operator<<(QDBusArgument &argument, const SniToolTip &toolTip);
const QDBusArgument &operator>>(const QDBusArgument &argument, SniToolTip &toolTip);

Q_DECLARE_METATYPE(SniPixmap)
Q_DECLARE_METATYPE(SniToolTip)

class StatusNotifierItem : public QObject {
    Q_OBJECT
public:
    // `menu` (kept by the caller) is what ContextMenu and the host show.
    explicit StatusNotifierItem(QMenu *menu, QObject *parent = nullptr);
    ~StatusNotifierItem() override;

    // Registered with a StatusNotifierWatcher on the session bus now.
    bool isRegistered() const { return m_registered; }
    QString serviceName() const { return m_serviceName; }

    // One of our symbols ("timer", "record.circle.fill"); told only on change.
    void setIconName(const QString &name);
    const QString &iconName() const { return m_iconName; }
    void setToolTip(const QString &text);
    const QString &toolTip() const { return m_toolTip; }
    DBusMenu *dbusMenu() const { return m_dbusMenu; }
    SniPixmaps pixmaps() const;

Q_SIGNALS:
    // Left click (Activate) or middle click (SecondaryActivate).
    void activated(QPoint point);
    void contextMenuRequested(QPoint point);
    // The host lets the next window we show take the focus.
    void activationTokenProvided(const QString &token);
    void registeredChanged(bool registered);

private Q_SLOTS:
    void itemUnregistered(const QString &service);

private:
    friend class StatusNotifierItemAdaptor;
    void registerWithWatcher();
    void setRegistered(bool registered);
    // Hosts read the properties again on these signals only.
    void tell(const QString &change);

    DBusMenu *m_dbusMenu;
    QDBusServiceWatcher *m_watcher = nullptr;
    QString m_serviceName;
    QString m_iconName;
    QString m_toolTip;
    bool m_registered = false;
    int m_dropsByHost = 0; // since the watcher last came up
};
