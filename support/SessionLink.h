// What a session's parts need of their session, and nothing more.
//
// The app manager and the app-list query send requests to the server, read
// the user's current info and reach the host session (its task queue, the
// client's event sink) through this interface. The per-session hub in
// module/ implements it; the parts never see the hub, so the dependencies
// run one way: module/ builds appmgr/ and handlers/, never the reverse.
#pragma once

#include <cstdint>

class ISession;
class ProtoUInfo;

namespace pakt {
class Marshallable;
}

class SessionLink {
public:
    // The host session the parts belong to.
    virtual ISession* session() const = 0;
    // The user's info as the session's events last reported it.
    virtual const ProtoUInfo& userInfo() const = 0;
    // Hands `body` to the host under `uri` as a request to the server.
    virtual void send(uint32_t uri, const pakt::Marshallable& body) = 0;

protected:
    // The link is never owned through this interface.
    ~SessionLink() = default;
};
