// The interfaces the host programs against.
//
// ISessionMod is what getModule returns: the host asks it which packet URIs
// and client request types the module handles, then delivers packets and
// requests by session id and tells it when a session is left. All calls must
// come one at a time (the module takes no locks). ISInfoMod, IServiceMod and
// ISBypassMod are exported for hosts that program against them; the module
// does not implement them.
#pragma once

#include <cstdint>

#include "host/ClientRecords.h"
#include "host/IProtoPacket.h"
#include "host/ISession.h"
#include "module/Export.h"

class SAPP_API ISessionMod {
public:
    ISessionMod();
    ISessionMod(const ISessionMod&);
    ISessionMod& operator=(const ISessionMod&);
    virtual ~ISessionMod();

    // Number of packet URIs the module handles; 0 while it has no session.
    virtual uint32_t getUriCount() = 0;
    // Writes the URIs in ascending order; `out` has room for getUriCount().
    virtual void getUris(uint32_t* out) = 0;
    // Number of client request types the module handles; 0 without session.
    virtual uint32_t getReqTypeCount() = 0;
    // Writes the request types in ascending order; room for getReqTypeCount().
    virtual void getReqTypes(uint32_t* out) = 0;
    virtual int32_t getModFlag() = 0;
    // Delivers an inbound packet of session `sid`; valid for the call only.
    // Decoding errors of the packet's record leave as pakt exceptions.
    virtual void onPacket(uint32_t sid, IProtoPacket* packet) = 0;
    // Delivers a client request of session `sid`; valid for the call only.
    virtual void onRequest(uint32_t sid, const AppRequest* request) = 0;
    // Reserved by the host; the module ignores it.
    virtual void onReserved(uint32_t sid, const void* data) = 0;
    // The host has left session `sid`: its context is destroyed.
    virtual void onLeave(uint32_t sid) = 0;
};

class SAPP_API ISInfoMod : public ISessionMod {
public:
    ISInfoMod();
    ISInfoMod(const ISInfoMod&);
    ISInfoMod(ISInfoMod&&) noexcept;
    ISInfoMod& operator=(const ISInfoMod&);
    ISInfoMod& operator=(ISInfoMod&&) noexcept;
    ~ISInfoMod() override;

    // Four further operations of the host's info interface.
    virtual void onInfoReserved1() = 0;
    virtual void onInfoReserved2() = 0;
    virtual void onInfoReserved3() = 0;
    virtual void onInfoReserved4() = 0;
};

class SAPP_API IServiceMod : public ISessionMod {
public:
    IServiceMod();
    IServiceMod(const IServiceMod&);
    IServiceMod(IServiceMod&&) noexcept;
    IServiceMod& operator=(const IServiceMod&);
    IServiceMod& operator=(IServiceMod&&) noexcept;
    ~IServiceMod() override;
};

class SAPP_API ISBypassMod : public ISessionMod {
public:
    ISBypassMod();
    ISBypassMod(const ISBypassMod&);
    ISBypassMod(ISBypassMod&&) noexcept;
    ISBypassMod& operator=(const ISBypassMod&);
    ISBypassMod& operator=(ISBypassMod&&) noexcept;
    ~ISBypassMod() override;
};

// Entry points, unmangled.
//
// getModule: called by the host once for every channel session it opens,
// with that session's object (which must outlive the session's onLeave).
// Returns the module singleton, creating it on the first call; a null
// session, a session id of 0 or 0xFFFFFFFF, or an id already present adds
// nothing. releaseModule: called once for every session the host closes,
// after onLeave; destroys the singleton when no session is left. Neither
// may be called concurrently with any other call into the module.
extern "C" {
SAPP_API ISessionMod* getModule(ISession* session);
SAPP_API void releaseModule(uint32_t sid);
}
