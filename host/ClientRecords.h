// Records exchanged with the host's client side.
//
// Every client event begins with the AppEvent head and every client request
// with the AppRequest head; the concrete records derive from them and add
// their fields after the head. The records are plain data owned by whoever
// built them; a receiver copies what it keeps. The host reads and writes the
// heads and the request's fields at the offsets given (x86-64, checked at the
// end of this file).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Head of every record handed to ISession::postAppEvent. `type` is the event
// code; `extra` is always empty in records the module produces.
struct AppEvent {
    uint32_t type = 0;  // 0
    std::string extra;  // 8
};

// Head of every client request delivered through ISessionMod::onRequest.
// `type` is compared as a signed 32-bit request code.
struct AppRequest {
    int32_t type = 0;   // 0
    std::string extra;  // 8
};

// REQ_APP_DATA: a client-side app SDK hands a message to the server.
struct AppDataRequest : AppRequest {
    uint32_t appId = 0;  // 40
    std::string data;    // 48
};

inline constexpr int32_t REQ_APP_DATA = 1007;

#if defined(__x86_64__) || defined(_M_X64)
static_assert(offsetof(AppEvent, type) == 0 && offsetof(AppEvent, extra) == 8);
static_assert(offsetof(AppRequest, type) == 0 && offsetof(AppRequest, extra) == 8);
// A record that derives from its head is not standard-layout; offsetof on it
// is conditionally supported, and GCC, Clang and MSVC support it (the first
// two with a warning that says so).
#  if defined(__GNUC__)
#    pragma GCC diagnostic push
#    pragma GCC diagnostic ignored "-Winvalid-offsetof"
#  endif
static_assert(offsetof(AppDataRequest, type) == 0);
static_assert(offsetof(AppDataRequest, appId) == 40);
static_assert(offsetof(AppDataRequest, data) == 48);
#  if defined(__GNUC__)
#    pragma GCC diagnostic pop
#  endif
#endif
