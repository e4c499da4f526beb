#include "tray/dbusmenu.h"

#include <QAction>
#include <QActionEvent>
#include <QActionGroup>
#include <QDBusAbstractAdaptor>
#include <QDBusMetaType>
#include <QMenu>
#include <QTimer>

QDBusArgument &operator<<(QDBusArgument &argument, const DBusMenuLayout &item) {
    argument.beginStructure();
    argument << item.id << item.properties;
    // Children are variants holding the same structure, as the protocol has it.
    argument.beginArray(qMetaTypeId<QDBusVariant>());
    for (const DBusMenuLayout &child : item.children)
        argument << QDBusVariant(QVariant::fromValue(child));
    argument.endArray();
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, DBusMenuLayout &item) {
    argument.beginStructure();
    argument >> item.id >> item.properties;
    argument.beginArray();
    item.children.clear();
    while (!argument.atEnd()) {
        QDBusVariant child;
        argument >> child;
        item.children.append(qdbus_cast<DBusMenuLayout>(child.variant().value<QDBusArgument>()));
    }
    argument.endArray();
    argument.endStructure();
    return argument;
}

QDBusArgument &operator<<(QDBusArgument &argument, const DBusMenuProperties &item) {
    argument.beginStructure();
    argument << item.id << item.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, DBusMenuProperties &item) {
    argument.beginStructure();
    argument >> item.id >> item.properties;
    argument.endStructure();
    return argument;
}

QDBusArgument &operator<<(QDBusArgument &argument, const DBusMenuRemoved &item) {
    argument.beginStructure();
    argument << item.id << item.names;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, DBusMenuRemoved &item) {
    argument.beginStructure();
    argument >> item.id >> item.names;
    argument.endStructure();
    return argument;
}

QDBusArgument &operator<<(QDBusArgument &argument, const DBusMenuEvent &item) {
    argument.beginStructure();
    argument << item.id << item.eventId << item.data << item.timestamp;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, DBusMenuEvent &item) {
    argument.beginStructure();
    argument >> item.id >> item.eventId >> item.data >> item.timestamp;
    argument.endStructure();
    return argument;
}

namespace {

// The entry's label: Qt's "&" marks the mnemonic, dbusmenu's "_".
QString label(const QAction *action) {
    QString text = action->text();
    text.replace(QLatin1Char('_'), QLatin1String("__"));
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) != QLatin1Char('&'))
            continue;
        if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('&'))
            text.remove(i, 1); // "&&" is a literal "&"
        else
            text[i] = QLatin1Char('_');
    }
    return text;
}

QVariantMap allProperties(const QAction *action) {
    QVariantMap p;
    if (action->isSeparator()) {
        p.insert(QStringLiteral("type"), QStringLiteral("separator"));
    } else {
        p.insert(QStringLiteral("label"), label(action));
        if (action->isCheckable()) {
            const bool radio = action->actionGroup() && action->actionGroup()->isExclusive();
            p.insert(QStringLiteral("toggle-type"),
                     radio ? QStringLiteral("radio") : QStringLiteral("checkmark"));
            p.insert(QStringLiteral("toggle-state"), action->isChecked() ? 1 : 0);
        }
        if (action->menu())
            p.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
    }
    // Defaults (enabled, visible) are left out, as the protocol asks.
    if (!action->isEnabled())
        p.insert(QStringLiteral("enabled"), false);
    if (!action->isVisible())
        p.insert(QStringLiteral("visible"), false);
    return p;
}

QVariantMap only(QVariantMap properties, const QStringList &names) {
    if (names.isEmpty())
        return properties;
    for (auto it = properties.begin(); it != properties.end();) {
        if (names.contains(it.key()))
            ++it;
        else
            it = properties.erase(it);
    }
    return properties;
}

} // namespace

// The D-Bus face of DBusMenu; what hosts call.
class DBusMenuAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ version)
    Q_PROPERTY(QString TextDirection READ textDirection)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(QStringList IconThemePath READ iconThemePath)

public:
    explicit DBusMenuAdaptor(DBusMenu *menu)
        : QDBusAbstractAdaptor(menu)
        , m_menu(menu) {
        connect(menu, &DBusMenu::layoutUpdated, this, &DBusMenuAdaptor::LayoutUpdated);
    }

    uint version() const { return 3; }
    QString textDirection() const { return QStringLiteral("ltr"); }
    QString status() const { return QStringLiteral("normal"); }
    QStringList iconThemePath() const { return {}; }

public Q_SLOTS:
    uint GetLayout(int parentId, int recursionDepth, const QStringList &propertyNames,
                   DBusMenuLayout &layout) {
        layout = m_menu->layout(parentId, recursionDepth, propertyNames);
        return m_menu->revision();
    }
    QList<DBusMenuProperties> GetGroupProperties(const QList<int> &ids,
                                                 const QStringList &propertyNames) {
        QList<DBusMenuProperties> result;
        for (const int id : ids) {
            if (id == 0 || m_menu->action(id))
                result.append({id, m_menu->properties(id, propertyNames)});
        }
        return result;
    }
    QDBusVariant GetProperty(int id, const QString &name) {
        return QDBusVariant(m_menu->properties(id, {name}).value(name));
    }
    void Event(int id, const QString &eventId, const QDBusVariant &, uint) {
        m_menu->handleEvent(id, eventId);
    }
    QList<int> EventGroup(const QList<DBusMenuEvent> &events) {
        QList<int> errors;
        for (const DBusMenuEvent &event : events) {
            if (!m_menu->handleEvent(event.id, event.eventId))
                errors.append(event.id);
        }
        return errors;
    }
    bool AboutToShow(int id) { return m_menu->aboutToShow(id); }
    QList<int> AboutToShowGroup(const QList<int> &ids, QList<int> &idErrors) {
        QList<int> updates;
        for (const int id : ids) {
            if (id != 0 && !m_menu->action(id))
                idErrors.append(id);
            else if (m_menu->aboutToShow(id))
                updates.append(id);
        }
        return updates;
    }

Q_SIGNALS:
    void LayoutUpdated(uint revision, int parent);
    void ItemsPropertiesUpdated(const QList<DBusMenuProperties> &updatedProps,
                                const QList<DBusMenuRemoved> &removedProps);
    void ItemActivationRequested(int id, uint timestamp);

private:
    DBusMenu *m_menu;
};

DBusMenu::DBusMenu(QMenu *menu, QObject *parent)
    : QObject(parent)
    , m_menu(menu) {
    static const bool registered = [] {
        qDBusRegisterMetaType<DBusMenuLayout>();
        qDBusRegisterMetaType<DBusMenuProperties>();
        qDBusRegisterMetaType<QList<DBusMenuProperties>>();
        qDBusRegisterMetaType<DBusMenuRemoved>();
        qDBusRegisterMetaType<QList<DBusMenuRemoved>>();
        qDBusRegisterMetaType<DBusMenuEvent>();
        qDBusRegisterMetaType<QList<DBusMenuEvent>>();
        qDBusRegisterMetaType<QList<int>>();
        return true;
    }();
    Q_UNUSED(registered)
    new DBusMenuAdaptor(this);
    watch(menu);
}

int DBusMenu::idOf(QAction *action) {
    const auto found = m_ids.constFind(action);
    if (found != m_ids.constEnd())
        return *found;
    const int id = m_nextId++;
    m_ids.insert(action, id);
    m_actions.insert(id, action);
    connect(action, &QAction::changed, this, &DBusMenu::changed);
    connect(action, &QObject::destroyed, this, [this, action] {
        m_actions.remove(m_ids.take(action));
        changed();
    });
    if (action->menu())
        watch(action->menu());
    return id;
}

void DBusMenu::watch(QMenu *menu) {
    if (!menu)
        return;
    // Entries added or removed later are told like any other change.
    menu->installEventFilter(this);
    const QList<QAction *> actions = menu->actions();
    for (QAction *action : actions)
        idOf(action);
}

bool DBusMenu::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() == QEvent::ActionAdded) {
        idOf(static_cast<QActionEvent *>(event)->action());
        changed();
    } else if (event->type() == QEvent::ActionRemoved) {
        changed();
    }
    return QObject::eventFilter(watched, event);
}

void DBusMenu::changed() {
    // A radio group changes two entries at once: one update for both.
    if (m_updatePending)
        return;
    m_updatePending = true;
    QTimer::singleShot(0, this, [this] {
        m_updatePending = false;
        ++m_revision;
        Q_EMIT layoutUpdated(m_revision, 0);
    });
}

DBusMenuLayout DBusMenu::layout(int parentId, int depth, const QStringList &names) {
    DBusMenuLayout item;
    item.id = parentId;
    QMenu *menu = nullptr;
    if (parentId == 0) {
        menu = m_menu;
        item.properties.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
    } else if (QAction *action = m_actions.value(parentId)) {
        item.properties = only(allProperties(action), names);
        menu = action->menu();
    }
    if (!menu || depth == 0)
        return item;
    const QList<QAction *> actions = menu->actions();
    for (QAction *action : actions)
        item.children.append(layout(idOf(action), depth < 0 ? -1 : depth - 1, names));
    return item;
}

QVariantMap DBusMenu::properties(int id, const QStringList &names) {
    if (id == 0)
        return only({{QStringLiteral("children-display"), QStringLiteral("submenu")}}, names);
    const QAction *action = m_actions.value(id);
    return action ? only(allProperties(action), names) : QVariantMap();
}

bool DBusMenu::handleEvent(int id, const QString &eventId) {
    QAction *action = m_actions.value(id);
    if (id != 0 && !action)
        return false;
    if (eventId == QLatin1String("clicked") && action && action->isEnabled()) {
        // After the reply: what it triggers may take a while (or quit).
        QTimer::singleShot(0, action, [action] { action->trigger(); });
    } else if (eventId == QLatin1String("opened")) {
        aboutToShow(id);
    }
    return true;
}

bool DBusMenu::aboutToShow(int id) {
    QMenu *menu = id == 0 ? m_menu.data() : nullptr;
    if (QAction *action = m_actions.value(id))
        menu = action->menu();
    if (!menu)
        return false;
    const uint before = m_revision;
    // What the menu does before it shows in Qt (re-reading a check mark).
    Q_EMIT menu->aboutToShow();
    // A change it made is counted at once, so the host asks again.
    if (m_updatePending) {
        m_updatePending = false;
        ++m_revision;
        Q_EMIT layoutUpdated(m_revision, 0);
    }
    return m_revision != before;
}

#include "dbusmenu.moc"
