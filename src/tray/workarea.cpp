#include "tray/workarea.h"

#if VELMORA_HAVE_XCB
#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <string_view>
#include <vector>

namespace {

template <typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;

xcb_atom_t internAtom(xcb_connection_t *connection, std::string_view name) {
    const Reply<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(connection,
                              xcb_intern_atom(connection, true, uint16_t(name.size()), name.data()),
                              nullptr),
        &std::free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// The root's CARDINAL property `name` as 32-bit values.
std::vector<uint32_t> cardinals(xcb_connection_t *connection, xcb_window_t root,
                                std::string_view name) {
    const xcb_atom_t atom = internAtom(connection, name);
    if (atom == XCB_ATOM_NONE)
        return {};
    const Reply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(
            connection, xcb_get_property(connection, false, root, atom, XCB_ATOM_CARDINAL, 0, 1024),
            nullptr),
        &std::free);
    if (!reply || reply->format != 32)
        return {};
    const auto *values = static_cast<const uint32_t *>(xcb_get_property_value(reply.get()));
    return {values, values + xcb_get_property_value_length(reply.get()) / 4};
}

} // namespace

std::optional<QRect> xWorkArea(const QByteArray &display) {
    if (display.isEmpty())
        return std::nullopt;
    const std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> connection(
        xcb_connect(display.constData(), nullptr), &xcb_disconnect);
    if (xcb_connection_has_error(connection.get()))
        return std::nullopt;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection.get())).data->root;
    const std::vector<uint32_t> areas = cardinals(connection.get(), root, "_NET_WORKAREA");
    const std::vector<uint32_t> current = cardinals(connection.get(), root, "_NET_CURRENT_DESKTOP");
    // Four values per desktop: x, y, width, height.
    const size_t desktop = current.empty() ? 0 : current.front();
    if (areas.size() < (desktop + 1) * 4)
        return std::nullopt;
    const uint32_t *values = areas.data() + desktop * 4;
    const QRect rect{int(values[0]), int(values[1]), int(values[2]), int(values[3])};
    return rect.isEmpty() ? std::nullopt : std::optional<QRect>(rect);
}

#else

std::optional<QRect> xWorkArea(const QByteArray &) {
    return std::nullopt;
}

#endif
