// Making the stand-in host's calls fail, for tests and tools. Not part of
// the real host's interface.
//
// Every function and interface method of the two stand-in libraries that a
// module may call is a host call, named by a HostCall. Each of them starts
// by asking whether it should fail now; if so it throws HostFault, as a
// faulty host would, and does nothing else, except where a call's own
// comment says it takes effect first (removeWatcher, removeTask,
// releaseRef: the module lets go of a watcher, task or reference whether or
// not the call returns, so a host must forget them in any case).
//
// Who decides depends on the object a call belongs to (hostCallOwner):
//   Session  a session's and its task queue's calls: that session object's
//            switches (Session::setFault);
//   Packet   an inbound packet's calls: that packet's switches
//            (Packet::setFault);
//   Process  everything else (the log sink, the channel databases and name
//            ids, pktcore's value classes and static functions): one switch
//            per call for the whole process (setHostFault).
// Whatever the owner, a watch (setHostCallWatch) sees every host call as it
// starts and may make it fail too: the fault sweep counts calls with it and
// fails the one it has chosen. A throw observer (setHostThrowObserver) is
// told of every host call that throws, whatever made it throw.
//
// The calls the host makes itself (a session delivering events, the clock
// running tasks, the controls in StandinLog.h and StandinDatabase.h) are
// not host calls and never fail. The switches and the watch may be set from
// any thread; a failing call throws on the thread that made it.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <string_view>

#include "host/HostApi.h"

namespace standin {

// The first seven keep their numbers: fuzz_module's corpus names calls by
// their index in kHostCalls.
enum class HostCall : uint8_t {
    SendRequest,
    PostAppEvent,
    AddWatcher,
    RemoveWatcher,
    AddTask,
    RemoveTask,
    Unmarshal,
    GetSid,
    GetTaskQueue,
    GetUri,
    GetBodyLen,
    GetResCode,
    GetBody,
    GetLogInstance,
    IsLevelEnabled,
    Write,
    IsLogLevelEnabled,
    DoLog2,
    InsertNameId,
    QueryDatabase,
    GetTable,
    GetField,
    GetUInt32,
    AddRef,
    ReleaseRef,
    UInfoConstruct,
    UInfoSetSid,
    UInfoSetAsid,
    UInfoSetPid,
    UInfoSetUid,
    UInfoSetUdb,
    UInfoSetCookie,
    UInfoGetSid,
    UInfoGetAsid,
    UInfoGetPid,
    UInfoGetUid,
    UInfoGetUdb,
    UInfoGetCookie,
    GetUid32,
    UnZipString,
    Net2App,
    CurrentSystemTime,
};

inline constexpr HostCall kHostCalls[] = {
    HostCall::SendRequest,    HostCall::PostAppEvent,      HostCall::AddWatcher,   HostCall::RemoveWatcher,
    HostCall::AddTask,        HostCall::RemoveTask,        HostCall::Unmarshal,    HostCall::GetSid,
    HostCall::GetTaskQueue,   HostCall::GetUri,            HostCall::GetBodyLen,   HostCall::GetResCode,
    HostCall::GetBody,        HostCall::GetLogInstance,    HostCall::IsLevelEnabled, HostCall::Write,
    HostCall::IsLogLevelEnabled, HostCall::DoLog2,         HostCall::InsertNameId, HostCall::QueryDatabase,
    HostCall::GetTable,       HostCall::GetField,          HostCall::GetUInt32,    HostCall::AddRef,
    HostCall::ReleaseRef,     HostCall::UInfoConstruct,    HostCall::UInfoSetSid,  HostCall::UInfoSetAsid,
    HostCall::UInfoSetPid,    HostCall::UInfoSetUid,       HostCall::UInfoSetUdb,  HostCall::UInfoSetCookie,
    HostCall::UInfoGetSid,    HostCall::UInfoGetAsid,      HostCall::UInfoGetPid,  HostCall::UInfoGetUid,
    HostCall::UInfoGetUdb,    HostCall::UInfoGetCookie,    HostCall::GetUid32,     HostCall::UnZipString,
    HostCall::Net2App,        HostCall::CurrentSystemTime,
};
inline constexpr std::size_t kHostCallCount = std::size(kHostCalls);

inline constexpr std::size_t indexOf(HostCall call) { return static_cast<std::size_t>(call); }

// The name scenarios and traces use: an interface method the host
// implements by its own name ("sendRequest", "getTable", "releaseRef"), any
// other function by its name with its class ("LogExport::write",
// "ProtoUInfo::setSid", "DoLog2", "queryDatabase").
TARNBASE_API const char* hostCallName(HostCall call);
// The function as its declaration names it, namespaces and interface
// included ("ISession::sendRequest", "Data::IRefCounted::releaseRef",
// "LogExport::write"): how a demangler or a compiler's call list names it.
TARNBASE_API const char* hostCallFunction(HostCall call);
// The call whose hostCallName is `name`; false when there is none.
TARNBASE_API bool hostCallNamed(std::string_view name, HostCall& call);

enum class CallOwner { Session, Packet, Process };
TARNBASE_API CallOwner hostCallOwner(HostCall call);
// Whether the call is one of the log sink's (LogExport, GetLogInstance,
// IsLogLevelEnabled, DoLog2).
TARNBASE_API bool isLogCall(HostCall call);

// What a failing host call throws: "host fault: sendRequest", ...
class TARNBASE_API HostFault : public std::runtime_error {
public:
    explicit HostFault(HostCall call);
    HostCall call() const { return m_call; }

private:
    HostCall m_call;
};

// Off: the call works. Once: its next call fails, then it works again.
// Always: every call fails until the mode is changed.
enum class FaultMode { Off, Once, Always };

// When a call should fail; decides, call by call.
class TARNBASE_API FaultSwitch {
public:
    void set(FaultMode mode) { m_mode = mode; }
    // True when this call fails (a Once switch then turns off).
    bool fires();

private:
    FaultMode m_mode = FaultMode::Off;
};

// The process's switch of `call`, a call of the Process owner (others throw
// std::invalid_argument: they fail per object).
TARNBASE_API void setHostFault(HostCall call, FaultMode mode);
// Told of every call of the Process owner that fails, before it throws.
TARNBASE_API void setHostFaultObserver(std::function<void(HostCall)> observer);
// Sees every host call as it starts, of any owner, and makes it fail by
// answering true. An empty function removes it.
TARNBASE_API void setHostCallWatch(std::function<bool(HostCall)> watch);
// Told of every host call that throws, of any owner and whatever made it
// throw (a switch, the watch, or the stand-in's own answer, such as a
// channel database set to throw: setQueryThrows), with what it throws, just
// before it throws. The fault sweep tells by it which exception a call into
// the module met first. An empty function removes it.
TARNBASE_API void setHostThrowObserver(std::function<void(HostCall, const std::exception&)> observer);
// Every process switch off and no observer. The watch and the throw
// observer stay: whoever set them removes them.
TARNBASE_API void resetHostFaults();

namespace detail {
// Whether a watch or a switch is set (since the last reset): until one is,
// a host call costs one load and a branch, inline, and nothing else.
TARNBASE_API extern std::atomic<bool> g_faultsArmed;
TARNBASE_API bool armedCallFails(HostCall call);
TARNBASE_API void enterArmedCall(HostCall call);
// For the stand-ins' throwing calls: tells the throw observer, if one is set.
TARNBASE_API void noteHostThrow(HostCall call, const std::exception& thrown);
}  // namespace detail

// For the stand-ins' own calls. Whether `call` fails now: asks the watch
// and, for a Process call, its switch (both are asked, so a watch sees
// every call).
inline bool hostCallFails(HostCall call) {
    return detail::g_faultsArmed.load(std::memory_order_relaxed) && detail::armedCallFails(call);
}
// A Process call's start: throws HostFault, after telling the observer,
// when hostCallFails says so.
inline void enterHostCall(HostCall call) {
    if (detail::g_faultsArmed.load(std::memory_order_relaxed)) detail::enterArmedCall(call);
}

}  // namespace standin
