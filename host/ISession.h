// The host's object for one channel session.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "host/ClientRecords.h"
#include "host/ProtoTask.h"
#include "host/SessionEvent.h"

namespace pakt {
class Marshallable;
}

// An outbound request: the host marshals `body` and sends it under `uri`.
// The record and the body only live for the duration of sendRequest. The
// host reads the fields at the offsets given (x86-64, checked below).
struct SessionRequest {
    int32_t type = 100;                        //  0
    std::string extra;                         //  8
    uint32_t uri = 0;                          // 40
    const pakt::Marshallable* body = nullptr;  // 48
};

#if defined(__x86_64__) || defined(_M_X64)
static_assert(offsetof(SessionRequest, type) == 0);
static_assert(offsetof(SessionRequest, extra) == 8);
static_assert(offsetof(SessionRequest, uri) == 40);
static_assert(offsetof(SessionRequest, body) == 48);
#endif

// One per channel session, owned by the host, which keeps it valid until the
// session's ISessionMod::onLeave returns. All calls are synchronous and come
// from within a call of the host into the module. Slot order (MSVC
// numbering; Itanium: one more from getSid on): 0 destructor, 1 getSid,
// 2 sendRequest, 3 postAppEvent, 4 getTaskQueue, 5 addWatcher,
// 6 removeWatcher. The module never deletes a session.
class ISession {
public:
    virtual ~ISession() = default;
    virtual uint32_t getSid() = 0;
    virtual void sendRequest(const SessionRequest& request) = 0;
    virtual void postAppEvent(const AppEvent& event) = 0;
    virtual IProtoTaskQueue* getTaskQueue() = 0;  // never null
    virtual void addWatcher(protocol::session::ISessionWatcher* watcher) = 0;
    virtual void removeWatcher(protocol::session::ISessionWatcher* watcher) = 0;
};
