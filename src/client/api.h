#pragma once
// The time server's endpoints, each declared once: its path and method,
// whether it carries the stored token and the "X-Velmora-Device" header, and
// which record answers it.

#include "client/decoder.h"
#include "client/records.h"

#include <QByteArray>

// How a request is sent; the answer's record comes with Endpoint.
struct Route {
    const char *path;   // relative to the base address
    const char *method; // "GET" or "POST"
    bool authenticated; // carries "Authorization" with the stored token
    bool sendsDevice;   // carries "X-Velmora-Device"
};

// An endpoint whose answer body is not read.
struct IgnoredAnswer {};

template <typename Answer> struct Endpoint : Route { Answer (*decode)(const QByteArray &body); };

namespace Api {

inline IgnoredAnswer ignoreBody(const QByteArray &) {
    return {};
}

inline constexpr Endpoint<LoginResponse> login{{"api/login", "POST", false, true},
                                               &decodeLoginResponse};
inline constexpr Endpoint<LoginResponse> setup{{"api/setup", "POST", false, true},
                                               &decodeLoginResponse};
inline constexpr Endpoint<State> state{{"api/state", "GET", true, false}, &decodeState};
inline constexpr Endpoint<SetupLinkResponse> setupLinks{
    {"api/admin/setup-links", "POST", true, false}, &decodeSetupLinkResponse};
inline constexpr Endpoint<IgnoredAnswer> start{{"api/time/start", "POST", true, false},
                                               &ignoreBody};
inline constexpr Endpoint<SyncResponse> stop{{"api/time/stop", "POST", true, false},
                                             &decodeSyncResponse};
// A failure of it is ignored too: signing out completes locally.
inline constexpr Endpoint<IgnoredAnswer> logout{{"api/logout", "POST", true, false}, &ignoreBody};

} // namespace Api
