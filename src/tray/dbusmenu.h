#pragma once
// A QMenu exported as com.canonical.dbusmenu, the menu a StatusNotifier host
// (Plasma, GNOME's AppIndicator extension, waybar) draws itself. Entries get
// their id once and keep it; checks and radios are read from the actions at
// every request, so they are never stale. A change of any entry is told with
// one LayoutUpdated, and only when something changed.

#include <QDBusArgument>
#include <QDBusVariant>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QVariantMap>

class QAction;
#include <QMenu>

// One entry and its children, as GetLayout sends them: (ia{sv}av).
struct DBusMenuLayout {
    int id = 0;
    QVariantMap properties;
    QList<DBusMenuLayout> children;
};
QDBusArgument &operator<<(QDBusArgument &argument, const DBusMenuLayout &item);
const QDBusArgument &operator>>(const QDBusArgument &argument, DBusMenuLayout &item);

// One entry's properties, as GetGroupProperties sends them: (ia{sv}).
struct DBusMenuProperties {
    int id = 0;
    QVariantMap properties;
};
QDBusArgument &operator<<(QDBusArgument &argument, const DBusMenuProperties &item);
const QDBusArgument &operator>>(const QDBusArgument &argument, DBusMenuProperties &item);

// An entry whose properties were dropped, for ItemsPropertiesUpdated: (ias).
struct DBusMenuRemoved {
    int id = 0;
    QStringList names;
};
QDBusArgument &operator<<(QDBusArgument &argument, const DBusMenuRemoved &item);
const QDBusArgument &operator>>(const QDBusArgument &argument, DBusMenuRemoved &item);

// One event of EventGroup: (isvu).
struct DBusMenuEvent {
    int id = 0;
    QString eventId;
    QDBusVariant data;
    uint timestamp = 0;
};
QDBusArgument &operator<<(QDBusArgument &argument, const DBusMenuEvent &item);
const QDBusArgument &operator>>(const QDBusArgument &argument, DBusMenuEvent &item);

Q_DECLARE_METATYPE(DBusMenuLayout)
Q_DECLARE_METATYPE(DBusMenuProperties)
Q_DECLARE_METATYPE(DBusMenuRemoved)
Q_DECLARE_METATYPE(DBusMenuEvent)

class DBusMenu : public QObject {
    Q_OBJECT
public:
    // Exports `menu` (kept by the caller) as an object of `parent`'s path.
    explicit DBusMenu(QMenu *menu, QObject *parent = nullptr);

    QMenu *menu() const { return m_menu; }
    // The entry `id` stands for (0: the menu itself), or null.
    QAction *action(int id) const { return m_actions.value(id); }
    uint revision() const { return m_revision; }

    DBusMenuLayout layout(int parentId, int depth, const QStringList &names);
    QVariantMap properties(int id, const QStringList &names);
    // A host's click: true when `id` is an entry.
    bool handleEvent(int id, const QString &eventId);
    // The host is about to show `id`: the menu refreshes what it shows.
    bool aboutToShow(int id);

Q_SIGNALS:
    void layoutUpdated(uint revision, int parent);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    int idOf(QAction *action);
    void watch(QMenu *menu);
    void changed();

    QPointer<QMenu> m_menu;
    QHash<int, QAction *> m_actions;
    QHash<QAction *, int> m_ids;
    int m_nextId = 1;
    uint m_revision = 1;
    bool m_updatePending = false;
};
