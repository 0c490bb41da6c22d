// Records exchanged with the host's client side.
//
// Every client event begins with the AppEvent head and every client request
// with the AppRequest head; the concrete records derive from them and add
// their fields after the head. The records are plain data owned by whoever
// built them; a receiver copies what it keeps.
#pragma once

#include <cstdint>
#include <string>

// Head of every record handed to ISession::postAppEvent. `type` is the event
// code; `extra` is always empty in records the module produces.
struct AppEvent {
    uint32_t type = 0;
    std::string extra;
};

// Head of every client request delivered through ISessionMod::onRequest.
// `type` is compared as a signed 32-bit request code.
struct AppRequest {
    int32_t type = 0;
    std::string extra;
};

// REQ_APP_DATA: a client-side app SDK hands a message to the server.
struct AppDataRequest : AppRequest {
    uint32_t appId = 0;
    std::string data;
};

inline constexpr int32_t REQ_APP_DATA = 1007;
