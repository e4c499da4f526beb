#include "desktop/xidle.h"

#include "client/logging.h"

#include <QSocketNotifier>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <xcb/sync.h>
#include <xcb/xcb.h>

namespace {

template <typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;

// The IDLETIME system counter, or 0.
uint32_t idleCounter(xcb_connection_t *connection) {
    const Reply<xcb_sync_list_system_counters_reply_t> list(
        xcb_sync_list_system_counters_reply(connection, xcb_sync_list_system_counters(connection),
                                            nullptr),
        &std::free);
    if (!list)
        return 0;
    for (auto it = xcb_sync_list_system_counters_counters_iterator(list.get()); it.rem;
         xcb_sync_systemcounter_next(&it)) {
        // On the wire the name follows 14 bytes of counter, resolution and
        // length; libxcb 1.15 looks for it 2 bytes later (the struct's padding).
        const char *name = reinterpret_cast<const char *>(it.data) + 14;
        if (it.data->name_len == 8 && std::memcmp(name, "IDLETIME", 8) == 0)
            return it.data->counter;
    }
    return 0;
}

} // namespace

std::unique_ptr<XIdle> XIdle::create(const QByteArray &display) {
    xcb_connection_t *connection =
        xcb_connect(display.isEmpty() ? nullptr : display.constData(), nullptr);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return nullptr;
    }
    const xcb_query_extension_reply_t *sync = xcb_get_extension_data(connection, &xcb_sync_id);
    if (sync && sync->present) {
        const Reply<xcb_sync_initialize_reply_t> version(
            xcb_sync_initialize_reply(connection, xcb_sync_initialize(connection, 3, 1), nullptr),
            &std::free);
        if (const uint32_t counter = version ? idleCounter(connection) : 0)
            return std::unique_ptr<XIdle>(new XIdle(connection, counter, sync->first_event));
    }
    qCDebug(lcTray) << "the X server has no idle counter";
    xcb_disconnect(connection);
    return nullptr;
}

XIdle::XIdle(xcb_connection_t *connection, uint32_t counter, uint8_t firstEvent)
    : m_connection(connection)
    , m_counter(counter)
    , m_alarmEvent(firstEvent + XCB_SYNC_ALARM_NOTIFY)
    , m_notifier(std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(connection),
                                                   QSocketNotifier::Read)) {
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &XIdle::readEvents);
}

XIdle::~XIdle() {
    m_notifier.reset();
    xcb_disconnect(m_connection);
}

void XIdle::setThreshold(std::chrono::milliseconds threshold) {
    m_threshold = threshold;
    m_idle = false;
    if (threshold.count() > 0) {
        arm(false);
    } else if (m_alarm) {
        xcb_sync_destroy_alarm(m_connection, m_alarm);
        m_alarm = 0;
        xcb_flush(m_connection);
    }
}

void XIdle::arm(bool forInput) {
    // Once idle, any input takes the counter back to 0, below the threshold.
    const int64_t value = m_threshold.count() - (forInput ? 1 : 0);
    const uint32_t values[] = {
        m_counter,
        XCB_SYNC_VALUETYPE_ABSOLUTE,
        uint32_t(value >> 32),
        uint32_t(value & 0xffffffff),
        forInput ? XCB_SYNC_TESTTYPE_NEGATIVE_COMPARISON : XCB_SYNC_TESTTYPE_POSITIVE_COMPARISON,
        0,
        0,
        1, // events
    };
    const uint32_t mask = XCB_SYNC_CA_COUNTER | XCB_SYNC_CA_VALUE_TYPE | XCB_SYNC_CA_VALUE |
                          XCB_SYNC_CA_TEST_TYPE | XCB_SYNC_CA_DELTA | XCB_SYNC_CA_EVENTS;
    if (!m_alarm) {
        m_alarm = xcb_generate_id(m_connection);
        xcb_sync_create_alarm(m_connection, m_alarm, mask, values);
    } else {
        xcb_sync_change_alarm(m_connection, m_alarm, mask, values);
    }
    xcb_flush(m_connection);
}

void XIdle::readEvents() {
    while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection)) {
        const Reply<xcb_generic_event_t> owned(event, &std::free);
        if ((event->response_type & 0x7f) != m_alarmEvent || m_threshold.count() <= 0)
            continue;
        const auto *notify = reinterpret_cast<const xcb_sync_alarm_notify_event_t *>(event);
        if (notify->alarm != m_alarm || notify->state == XCB_SYNC_ALARMSTATE_DESTROYED)
            continue;
        const int64_t idleMs = (int64_t(notify->counter_value.hi) << 32) | notify->counter_value.lo;
        const bool idleNow = idleMs >= m_threshold.count();
        arm(idleNow);
        if (idleNow == std::exchange(m_idle, idleNow))
            continue;
        if (m_idle)
            Q_EMIT idle(QDateTime::currentDateTimeUtc().addMSecs(-m_threshold.count()));
        else
            Q_EMIT active();
    }
    if (xcb_connection_has_error(m_connection)) {
        qCDebug(lcTray) << "the X server went away; no idle time from it";
        m_notifier->setEnabled(false);
    }
}
