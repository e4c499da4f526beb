#include "tray/traywatch.h"

#include "client/logging.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QGuiApplication>

#if VELMORA_HAVE_XCB
#include <xcb/xcb.h>
#include <xcb/xfixes.h>
#endif

#include <chrono>
#include <cstdlib>

using namespace std::chrono_literals;

namespace {

const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");
// Only an X server without XFixes (none seen in years) makes us ask now and
// then whether an X tray is there.
constexpr auto xembedPoll = 2s;

QDBusMessage hostQuery() {
    QDBusMessage query = QDBusMessage::createMethodCall(
        watcherService, watcherPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    query << watcherService << QStringLiteral("IsStatusNotifierHostRegistered");
    // Asking must not start a watcher the bus could activate.
    query.setAutoStartService(false);
    return query;
}

bool hostRegistered(const QDBusMessage &reply) {
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
           qvariant_cast<QDBusVariant>(reply.arguments().constFirst()).variant().toBool();
}

} // namespace

TrayWatch::TrayWatch(QObject *parent)
    : QObject(parent) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        m_watcher = new QDBusServiceWatcher(watcherService, bus,
                                            QDBusServiceWatcher::WatchForOwnerChange, this);
        connect(m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
                &TrayWatch::askStatusNotifierHost);
        // A watcher may come up before its host registers with it.
        for (const char *signal :
             {"StatusNotifierHostRegistered", "StatusNotifierHostUnregistered"})
            bus.connect(watcherService, watcherPath, watcherService, QString::fromLatin1(signal),
                        this, SLOT(askStatusNotifierHost()));
        askStatusNotifierHost();
    }

#if VELMORA_HAVE_XCB
    // Only on the xcb platform (offscreen also answers as an X11 application).
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (QGuiApplication::platformName() == QLatin1String("xcb") && x11 && x11->connection()) {
        // The screen number as the X connection took it from DISPLAY.
        const QByteArray display = qgetenv("DISPLAY");
        const int dot = display.lastIndexOf('.');
        const int colon = display.lastIndexOf(':');
        const QByteArray screen = dot > colon ? display.mid(dot + 1) : QByteArray("0");
        const QByteArray name = "_NET_SYSTEM_TRAY_S" + screen;
        m_xcb = x11->connection();
        xcb_intern_atom_reply_t *atom = xcb_intern_atom_reply(
            m_xcb, xcb_intern_atom(m_xcb, false, name.size(), name.constData()), nullptr);
        m_selection = atom ? atom->atom : 0;
        std::free(atom);
        if (m_selection)
            watchSelectionOwner(screen.toInt());
    }
#endif
    if (m_selection) {
        m_xembed = xembedTrayPresent();
        m_available = m_xembed;
        if (!m_selectionEvents) {
            connect(&m_xembedPoll, &QTimer::timeout, this, &TrayWatch::pollXEmbed);
            m_xembedPoll.start(xembedPoll);
        }
    }
}

// X tray hosts come and go by owning the tray selection; XFixes tells us of
// each change, so an idle app is never woken to ask.
void TrayWatch::watchSelectionOwner(int screenNumber) {
#if VELMORA_HAVE_XCB
    const xcb_query_extension_reply_t *xfixes = xcb_get_extension_data(m_xcb, &xcb_xfixes_id);
    if (!xfixes || !xfixes->present)
        return;
    std::free(xcb_xfixes_query_version_reply(
        m_xcb, xcb_xfixes_query_version(m_xcb, XCB_XFIXES_MAJOR_VERSION, XCB_XFIXES_MINOR_VERSION),
        nullptr));
    xcb_screen_iterator_t screen = xcb_setup_roots_iterator(xcb_get_setup(m_xcb));
    for (int i = 0; i < screenNumber && screen.rem > 1; ++i)
        xcb_screen_next(&screen);
    xcb_xfixes_select_selection_input(m_xcb, screen.data->root, m_selection,
                                      XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
    xcb_flush(m_xcb);
    m_selectionEvents = xfixes->first_event + XCB_XFIXES_SELECTION_NOTIFY;
    qApp->installNativeEventFilter(this);
#else
    Q_UNUSED(screenNumber)
#endif
}

bool TrayWatch::nativeEventFilter(const QByteArray &type, void *message, qintptr *) {
#if VELMORA_HAVE_XCB
    if (type != "xcb_generic_event_t")
        return false;
    const auto *event = static_cast<xcb_generic_event_t *>(message);
    if ((event->response_type & 0x7f) == m_selectionEvents &&
        reinterpret_cast<const xcb_xfixes_selection_notify_event_t *>(event)->selection ==
            m_selection)
        pollXEmbed();
#else
    Q_UNUSED(type)
    Q_UNUSED(message)
#endif
    return false; // Qt's clipboard sees the same events
}

TrayWatch::~TrayWatch() = default;

bool TrayWatch::xembedTrayPresent() const {
#if VELMORA_HAVE_XCB
    if (!m_selection)
        return false;
    xcb_get_selection_owner_reply_t *reply =
        xcb_get_selection_owner_reply(m_xcb, xcb_get_selection_owner(m_xcb, m_selection), nullptr);
    const bool owned = reply && reply->owner != XCB_NONE;
    std::free(reply);
    return owned;
#else
    return false;
#endif
}

void TrayWatch::askStatusNotifierHost() {
    auto *call =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(hostQuery()), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *call) {
        call->deleteLater();
        update(hostRegistered(call->reply()), m_xembed);
    });
}

void TrayWatch::pollXEmbed() {
    update(m_statusNotifier, xembedTrayPresent());
}

TrayWatch::Protocol TrayWatch::protocolQtWouldPick() const {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected() && hostRegistered(bus.call(hostQuery())))
        return Protocol::StatusNotifier;
    // Qt embeds over X only on the xcb platform.
    if (QGuiApplication::platformName() == QLatin1String("xcb") && xembedTrayPresent())
        return Protocol::XEmbed;
    return Protocol::None;
}

void TrayWatch::commit(Protocol protocol) {
    m_committed = protocol;
    if (protocol == Protocol::StatusNotifier)
        m_xembedPoll.stop();
    update(m_statusNotifier, m_xembed);
}

bool TrayWatch::isAvailable() const {
    return m_available;
}

void TrayWatch::update(bool statusNotifier, bool xembed) {
    if (statusNotifier != m_statusNotifier || xembed != m_xembed)
        qCDebug(lcTray) << "tray hosts: StatusNotifier" << statusNotifier << "XEmbed" << xembed;
    m_statusNotifier = statusNotifier;
    m_xembed = xembed;
    bool available = false;
    switch (m_committed) {
    case Protocol::None:
        available = statusNotifier || xembed;
        break;
    case Protocol::StatusNotifier:
        available = statusNotifier;
        break;
    case Protocol::XEmbed:
        available = xembed;
        break;
    }
    if (available == m_available)
        return;
    m_available = available;
    Q_EMIT availabilityChanged(available);
}
