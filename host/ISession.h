// The host's object for one channel session.
#pragma once

#include <cstdint>
#include <string>

#include "host/ClientRecords.h"
#include "host/ProtoTask.h"
#include "host/SessionEvent.h"

namespace pakt {
class Marshallable;
}

// An outbound request: the host marshals `body` and sends it under `uri`.
// The record and the body only live for the duration of sendRequest.
struct SessionRequest {
    int32_t type = 100;
    std::string extra;
    uint32_t uri = 0;
    const pakt::Marshallable* body = nullptr;
};

// One per channel session, owned by the host. All calls are synchronous.
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
