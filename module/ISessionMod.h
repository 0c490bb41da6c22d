// The module's interface towards its host: the two entry points and the
// interface the first of them returns.
//
// Finding the module. The host loads the library (sapp.dll, libsapp.so) and
// looks up `getModule` and `releaseModule` by name; they are plain C names.
// Nothing else needs to be linked: every further call goes through the
// ISessionMod pointer getModule returns, and the module calls the host only
// through the ISession object it was given.
//
// Binary compatibility. The interfaces below, the host interfaces in host/
// and the records they pass (std::string members included) cross the
// boundary as they are, so host and module must be built by the same
// toolchain family: the slot numbers of a virtual table, the mangled names,
// the layout of the standard types and the exception machinery all differ
// between MSVC and GCC/Clang (docs/abi.md has the tables for both).
//
// Threads. The module takes no locks. The host makes one call into the
// module at a time: entry points, ISessionMod operations, session events to
// a watcher and task runs of its task queues, for all sessions together,
// and never from inside a call the module is making to the host: every
// build aborts the process at such a call, naming both, before it touches
// anything (docs/integration.md, "Threads", says why it does not throw).
//
// Exceptions. What leaves a call is a C++ exception of the module's
// toolchain, caught by type only by a host of the same toolchain family:
//   - pakt::UnpackError (a pakt::PacketError, a std::runtime_error) from
//     onPacket, when a packet's record does not decode;
//   - pakt::PackError (likewise) from onRequest, when a client message does
//     not fit its record;
//   - std::bad_alloc from any call, also from session events and task runs;
//   - whatever the host throws from a call the module makes to it
//     (sendRequest, postAppEvent, a watcher or task queue call, a packet's
//     call, the channel database, the user info and pktcore's functions)
//     passes through the module unchanged to the host's call that led to
//     it. A teardown (onLeave, releaseModule, a rebind that displaces a
//     session) first takes every step it can and then passes on the first
//     such exception. docs/integration.md says what each failing call
//     leaves behind.
// The log sink is the exception to the last rule: what GetLogInstance,
// IsLogLevelEnabled, DoLog2 or the sink's isLevelEnabled or write throws
// never leaves the module. The line is dropped and the module goes on as if
// it had been written, so a failing log cannot abandon the packet, event or
// teardown it was written from halfway. No host exception ends the process:
// the module calls no host from a destructor, and a name id the host fails
// to register while the module loads stays 0 (no channel data is read).
// Invalid input that is not an encoding failure (unknown sessions, URIs,
// request types, event codes) is ignored, never thrown.
#pragma once

#include <cstdint>

#include "host/ClientRecords.h"
#include "host/IProtoPacket.h"
#include "host/ISession.h"
#include "module/Export.h"

// Implemented by the module's singleton. The order of the virtual
// functions below is the host's slot order (docs/abi.md, "Slot tables"):
// never reorder, insert or remove one. The host never deletes it:
// releaseModule does.
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
    // Always 1.
    virtual int32_t getModFlag() = 0;
    // Delivers an inbound packet of session `sid`, valid for the call only.
    // Unknown sessions and URIs, a null packet and result codes other than
    // 200 are ignored. Throws pakt::UnpackError when the packet's record does
    // not decode; an app-platform payload that does not decode inside a
    // well-formed record is logged and dropped instead.
    virtual void onPacket(uint32_t sid, IProtoPacket* packet) = 0;
    // Delivers a client request of session `sid`, valid for the call only.
    // Unknown sessions and request types are ignored. Throws
    // pakt::PackError when the message does not fit its record.
    virtual void onRequest(uint32_t sid, const AppRequest* request) = 0;
    // Reserved by the host; the module ignores it.
    virtual void onReserved(uint32_t sid, const void* data) = 0;
    // The host has left session `sid`: the module unregisters from the
    // session's watchers, removes its tasks and forgets the session. The
    // session object may be destroyed after this returns, also when it
    // throws: a removeWatcher or removeTask that throws still ends the
    // module's use of the watcher or task, so the host must forget them.
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

// Entry points, plain C names.
//
// getModule: called by the host once for every channel session it opens,
// with that session's object, which must stay valid until the session's
// onLeave returns. Adds the session (a null session, a session id of 0 or
// 0xFFFFFFFF, or an id already present adds nothing) and returns the module
// singleton, creating it on the first call. Never returns null: it returns
// the singleton or throws (std::bad_alloc, or what the session's addWatcher
// or the channel database threw: the session is then not registered and not
// watched, and the host calls releaseModule for it as for every session it
// opened). Every call returns the same
// pointer while the singleton lives; the pointer stays valid until the
// releaseModule call that leaves the module without sessions.
//
// releaseModule: called once for every session the host closes, after its
// onLeave. Forgets `sid` (an id the module does not know is no error: there
// is nothing to forget) and then, if no session is left, destroys the
// singleton: the ISessionMod pointer is dangling from then on, and the next
// getModule creates a new singleton. Note that this also happens when the
// module never had a session, e.g. after getModule(nullptr). Does nothing
// when there is no singleton. If a session it forgets was never left, its
// teardown runs here; a host exception from it leaves releaseModule after
// the entry and, with an empty registry, the singleton are gone.
extern "C" {
SAPP_API ISessionMod* getModule(ISession* session);
SAPP_API void releaseModule(uint32_t sid);
}
