#include "tray/statusnotifieritem.h"

#include "client/logging.h"
#include "tray/dbusmenu.h"
#include "tray/symbols.h"

#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QIcon>
#include <QImage>
#include <QMenu>
#include <QStandardPaths>
#include <QTimer>
#include <QtEndian>

QDBusArgument &operator<<(QDBusArgument &argument, const SniPixmap &pixmap) {
    argument.beginStructure();
    argument << pixmap.width << pixmap.height << pixmap.argb;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, SniPixmap &pixmap) {
    argument.beginStructure();
    argument >> pixmap.width >> pixmap.height >> pixmap.argb;
    argument.endStructure();
    return argument;
}

QDBusArgument &operator<<(QDBusArgument &argument, const SniToolTip &toolTip) {
    argument.beginStructure();
    argument << toolTip.iconName << toolTip.pixmaps << toolTip.title << toolTip.text;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, SniToolTip &toolTip) {
    argument.beginStructure();
    argument >> toolTip.iconName >> toolTip.pixmaps >> toolTip.title >> toolTip.text;
    argument.endStructure();
    return argument;
}

namespace {

const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString itemPath = QStringLiteral("/StatusNotifierItem");
const QString menuPath = QStringLiteral("/MenuBar");
const QString title = QStringLiteral("velmora Zeit");
// Registering again after a host dropped the item: how soon, how often.
constexpr auto reRegisterDelay = std::chrono::seconds(1);
constexpr int maxDropsByHost = 3;

// The theme name of a symbol, where the package installed it into the hicolor
// theme: hosts draw a named icon from its SVG, sharp at any scale. A build
// that is not installed has none; hosts then draw the pictures.
QString themedIconName(const QString &symbol) {
    const QString name = symbol == u"record.circle.fill" ? QStringLiteral("de.velmora.zeit-running")
                         : symbol == u"timer"            ? QStringLiteral("de.velmora.zeit-timer")
                                                         : QString();
    const QString file = QStringLiteral("icons/hicolor/scalable/status/%1.svg").arg(name);
    const bool installed =
        !name.isEmpty() &&
        !QStandardPaths::locate(QStandardPaths::GenericDataLocation, file).isEmpty();
    return installed ? name : QString();
}

} // namespace

// The D-Bus face of the item: org.kde.StatusNotifierItem.
class StatusNotifierItemAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconName READ iconName)
    Q_PROPERTY(SniPixmaps IconPixmap READ iconPixmap)
    Q_PROPERTY(QString OverlayIconName READ empty)
    Q_PROPERTY(SniPixmaps OverlayIconPixmap READ noPixmaps)
    Q_PROPERTY(QString AttentionIconName READ empty)
    Q_PROPERTY(SniPixmaps AttentionIconPixmap READ noPixmaps)
    Q_PROPERTY(QString AttentionMovieName READ empty)
    Q_PROPERTY(QString IconThemePath READ empty)
    Q_PROPERTY(SniToolTip ToolTip READ toolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ menu)

public:
    explicit StatusNotifierItemAdaptor(StatusNotifierItem *item)
        : QDBusAbstractAdaptor(item)
        , m_item(item) {
        setAutoRelaySignals(false);
    }

    QString category() const { return QStringLiteral("ApplicationStatus"); }
    QString id() const { return QStringLiteral("de.velmora.zeit"); }
    QString title() const { return ::title; }
    QString status() const { return QStringLiteral("Active"); }
    int windowId() const { return 0; }
    QString iconName() const { return themedIconName(m_item->iconName()); }
    SniPixmaps iconPixmap() const { return m_item->pixmaps(); }
    QString empty() const { return {}; }
    SniPixmaps noPixmaps() const { return {}; }
    SniToolTip toolTip() const { return {QString(), {}, ::title, m_item->toolTip()}; }
    bool itemIsMenu() const { return false; }
    // GNOME's host opens it on a single click; without it, that click would
    // do nothing there (only a double click activates). The same settings
    // are in the panel's header too.
    QDBusObjectPath menu() const { return QDBusObjectPath(menuPath); }

public Q_SLOTS:
    void Activate(int x, int y) { Q_EMIT m_item->activated(QPoint(x, y)); }
    void SecondaryActivate(int x, int y) { Q_EMIT m_item->activated(QPoint(x, y)); }
    void ContextMenu(int x, int y) { Q_EMIT m_item->contextMenuRequested(QPoint(x, y)); }
    void Scroll(int, const QString &) {}
    void ProvideXdgActivationToken(const QString &token) {
        Q_EMIT m_item->activationTokenProvided(token);
    }

Q_SIGNALS:
    void NewTitle();
    void NewIcon();
    void NewAttentionIcon();
    void NewOverlayIcon();
    void NewMenu();
    void NewToolTip();
    void NewStatus(const QString &status);

private:
    StatusNotifierItem *m_item;
};

StatusNotifierItem::StatusNotifierItem(QMenu *menu, QObject *parent)
    : QObject(parent)
    , m_dbusMenu(new DBusMenu(menu, this)) {
    static const bool registered = [] {
        qDBusRegisterMetaType<SniPixmap>();
        qDBusRegisterMetaType<SniPixmaps>();
        qDBusRegisterMetaType<SniToolTip>();
        return true;
    }();
    Q_UNUSED(registered)
    new StatusNotifierItemAdaptor(this);

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    static int instance = 0;
    m_serviceName = QStringLiteral("org.kde.StatusNotifierItem-%1-%2")
                        .arg(QCoreApplication::applicationPid())
                        .arg(++instance);
    bus.registerObject(itemPath, this, QDBusConnection::ExportAdaptors);
    bus.registerObject(menuPath, m_dbusMenu, QDBusConnection::ExportAdaptors);
    bus.registerService(m_serviceName);

    // A host that restarts (a desktop shell crashing) brings a new watcher.
    m_watcher = new QDBusServiceWatcher(watcherService, bus,
                                        QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString &, const QString &, const QString &owner) {
                m_dropsByHost = 0;
                if (owner.isEmpty())
                    setRegistered(false);
                else
                    registerWithWatcher();
            });
    bus.connect(watcherService, QStringLiteral("/StatusNotifierWatcher"), watcherService,
                QStringLiteral("StatusNotifierItemUnregistered"), this,
                SLOT(itemUnregistered(QString)));
    registerWithWatcher();
}

// A host may drop a live item: GNOME's AppIndicator extension does when its
// own setup of the item fails, as it sometimes does on a busy machine right
// after the shell started. Registered again a moment later, the icon comes
// back; a host that keeps dropping it is left alone after a few tries.
void StatusNotifierItem::itemUnregistered(const QString &service) {
    if (service != m_serviceName || m_dropsByHost >= maxDropsByHost)
        return;
    ++m_dropsByHost;
    qCInfo(lcTray) << "the tray host dropped the icon; registering it again";
    setRegistered(false);
    QTimer::singleShot(reRegisterDelay, this, &StatusNotifierItem::registerWithWatcher);
}

StatusNotifierItem::~StatusNotifierItem() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (m_serviceName.isEmpty() || !bus.isConnected())
        return;
    bus.unregisterObject(itemPath);
    bus.unregisterObject(menuPath);
    bus.unregisterService(m_serviceName);
}

void StatusNotifierItem::registerWithWatcher() {
    QDBusMessage call = QDBusMessage::createMethodCall(
        watcherService, QStringLiteral("/StatusNotifierWatcher"), watcherService,
        QStringLiteral("RegisterStatusNotifierItem"));
    call << m_serviceName;
    call.setAutoStartService(false);
    auto *pending =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher *pending) {
                pending->deleteLater();
                const bool ok = !pending->isError();
                if (!ok)
                    qCDebug(lcTray)
                        << "StatusNotifierWatcher refused the item:" << pending->error().message();
                setRegistered(ok);
            });
}

void StatusNotifierItem::setRegistered(bool registered) {
    if (registered == m_registered)
        return;
    m_registered = registered;
    qCDebug(lcTray) << "StatusNotifierItem" << m_serviceName
                    << (registered ? "registered" : "without a watcher");
    Q_EMIT registeredChanged(registered);
}

void StatusNotifierItem::setIconName(const QString &name) {
    if (name == m_iconName)
        return;
    m_iconName = name;
    tell(QStringLiteral("NewIcon"));
}

void StatusNotifierItem::setToolTip(const QString &text) {
    if (text == m_toolTip)
        return;
    m_toolTip = text;
    tell(QStringLiteral("NewToolTip"));
}

void StatusNotifierItem::tell(const QString &change) {
    QDBusConnection::sessionBus().send(
        QDBusMessage::createSignal(itemPath, QStringLiteral("org.kde.StatusNotifierItem"), change));
}

SniPixmaps StatusNotifierItem::pixmaps() const {
    SniPixmaps result;
    const QIcon icon = symbolIcon(m_iconName);
    for (const int size : {16, 22, 24, 32, 48, 64}) {
        const QImage image = icon.pixmap(size).toImage().convertToFormat(QImage::Format_ARGB32);
        QByteArray argb(reinterpret_cast<const char *>(image.constBits()), image.sizeInBytes());
        // ARGB32 is stored in host order; the protocol wants network order.
        auto *pixel = reinterpret_cast<quint32 *>(argb.data());
        for (qsizetype i = 0; i < argb.size() / 4; ++i)
            pixel[i] = qToBigEndian(pixel[i]);
        result.append({image.width(), image.height(), argb});
    }
    return result;
}

#include "statusnotifieritem.moc"
