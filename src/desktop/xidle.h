#pragma once
// The X server's idle time: the SYNC extension's IDLETIME counter, which any
// input resets, with one alarm that fires when it passes the threshold and,
// once idle, when input brings it back below. Its own connection, read when
// the server sends something.

#include "desktop/idlesource.h"

#include <memory>

class QSocketNotifier;
struct xcb_connection_t;

class XIdle : public IdleSource {
    Q_OBJECT
public:
    // Null where there is no X server or it has no IDLETIME counter.
    // `display`: the X display's name; empty: $DISPLAY.
    static std::unique_ptr<XIdle> create(const QByteArray &display = {});
    ~XIdle() override;

    void setThreshold(std::chrono::milliseconds threshold) override;

private:
    XIdle(xcb_connection_t *connection, uint32_t counter, uint8_t firstEvent);
    // Arms the alarm: for idle (the counter reaching the threshold), or for
    // input again (the counter falling below it).
    void arm(bool forInput);
    void readEvents();

    xcb_connection_t *m_connection;
    uint32_t m_counter;
    uint8_t m_alarmEvent;
    uint32_t m_alarm = 0;
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::chrono::milliseconds m_threshold{0};
    bool m_idle = false;
};
