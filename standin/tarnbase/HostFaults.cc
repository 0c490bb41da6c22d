// The process's fault switches and the watch (HostFaults.h).

#include "standin/tarnbase/HostFaults.h"

#include <atomic>
#include <mutex>
#include <string>
#include <utility>

namespace standin {

namespace {

struct CallInfo {
    const char* name;
    const char* function;
    CallOwner owner;
};

// One row per HostCall, in its order (checked below).
constexpr std::pair<HostCall, CallInfo> kCallInfo[] = {
    {HostCall::SendRequest, {"sendRequest", "ISession::sendRequest", CallOwner::Session}},
    {HostCall::PostAppEvent, {"postAppEvent", "ISession::postAppEvent", CallOwner::Session}},
    {HostCall::AddWatcher, {"addWatcher", "ISession::addWatcher", CallOwner::Session}},
    {HostCall::RemoveWatcher, {"removeWatcher", "ISession::removeWatcher", CallOwner::Session}},
    {HostCall::AddTask, {"addTask", "IProtoTaskQueue::addTask", CallOwner::Session}},
    {HostCall::RemoveTask, {"removeTask", "IProtoTaskQueue::removeTask", CallOwner::Session}},
    {HostCall::Unmarshal, {"unmarshal", "IProtoPacket::unmarshal", CallOwner::Packet}},
    {HostCall::GetSid, {"getSid", "ISession::getSid", CallOwner::Session}},
    {HostCall::GetTaskQueue, {"getTaskQueue", "ISession::getTaskQueue", CallOwner::Session}},
    {HostCall::GetUri, {"getUri", "IProtoPacket::getUri", CallOwner::Packet}},
    {HostCall::GetBodyLen, {"getBodyLen", "IProtoPacket::getBodyLen", CallOwner::Packet}},
    {HostCall::GetResCode, {"getResCode", "IProtoPacket::getResCode", CallOwner::Packet}},
    {HostCall::GetBody, {"getBody", "IProtoPacket::getBody", CallOwner::Packet}},
    {HostCall::GetLogInstance, {"GetLogInstance", "GetLogInstance", CallOwner::Process}},
    {HostCall::IsLevelEnabled, {"LogExport::isLevelEnabled", "LogExport::isLevelEnabled", CallOwner::Process}},
    {HostCall::Write, {"LogExport::write", "LogExport::write", CallOwner::Process}},
    {HostCall::IsLogLevelEnabled, {"IsLogLevelEnabled", "IsLogLevelEnabled", CallOwner::Process}},
    {HostCall::DoLog2, {"DoLog2", "DoLog2", CallOwner::Process}},
    {HostCall::InsertNameId, {"insert_name_id", "insert_name_id", CallOwner::Process}},
    {HostCall::QueryDatabase, {"queryDatabase", "Data::queryDatabase", CallOwner::Process}},
    {HostCall::GetTable, {"getTable", "Data::IDatabase::getTable", CallOwner::Process}},
    {HostCall::GetField, {"getField", "Data::IDatabase::getField", CallOwner::Process}},
    {HostCall::GetUInt32, {"getUInt32", "Data::IField::getUInt32", CallOwner::Process}},
    {HostCall::AddRef, {"addRef", "Data::IRefCounted::addRef", CallOwner::Process}},
    {HostCall::ReleaseRef, {"releaseRef", "Data::IRefCounted::releaseRef", CallOwner::Process}},
    {HostCall::UInfoConstruct, {"ProtoUInfo::ProtoUInfo", "ProtoUInfo::ProtoUInfo", CallOwner::Process}},
    {HostCall::UInfoSetSid, {"ProtoUInfo::setSid", "ProtoUInfo::setSid", CallOwner::Process}},
    {HostCall::UInfoSetAsid, {"ProtoUInfo::setAsid", "ProtoUInfo::setAsid", CallOwner::Process}},
    {HostCall::UInfoSetPid, {"ProtoUInfo::setPid", "ProtoUInfo::setPid", CallOwner::Process}},
    {HostCall::UInfoSetUid, {"ProtoUInfo::setUid", "ProtoUInfo::setUid", CallOwner::Process}},
    {HostCall::UInfoSetUdb, {"ProtoUInfo::setUdb", "ProtoUInfo::setUdb", CallOwner::Process}},
    {HostCall::UInfoSetCookie, {"ProtoUInfo::setCookie", "ProtoUInfo::setCookie", CallOwner::Process}},
    {HostCall::UInfoGetSid, {"ProtoUInfo::getSid", "ProtoUInfo::getSid", CallOwner::Process}},
    {HostCall::UInfoGetAsid, {"ProtoUInfo::getAsid", "ProtoUInfo::getAsid", CallOwner::Process}},
    {HostCall::UInfoGetPid, {"ProtoUInfo::getPid", "ProtoUInfo::getPid", CallOwner::Process}},
    {HostCall::UInfoGetUid, {"ProtoUInfo::getUid", "ProtoUInfo::getUid", CallOwner::Process}},
    {HostCall::UInfoGetUdb, {"ProtoUInfo::getUdb", "ProtoUInfo::getUdb", CallOwner::Process}},
    {HostCall::UInfoGetCookie, {"ProtoUInfo::getCookie", "ProtoUInfo::getCookie", CallOwner::Process}},
    {HostCall::GetUid32, {"ProtoHelper::getUid32", "ProtoHelper::getUid32", CallOwner::Process}},
    {HostCall::UnZipString, {"ProtoHelper::UnZipString", "ProtoHelper::UnZipString", CallOwner::Process}},
    {HostCall::Net2App, {"ProtoA2U::net2app", "ProtoA2U::net2app", CallOwner::Process}},
    {HostCall::CurrentSystemTime, {"ProtoTime::currentSystemTime", "ProtoTime::currentSystemTime", CallOwner::Process}},
};

constexpr bool rowsInOrder() {
    if (std::size(kCallInfo) != kHostCallCount) return false;
    for (std::size_t i = 0; i < kHostCallCount; ++i) {
        if (indexOf(kCallInfo[i].first) != i || kHostCalls[i] != kCallInfo[i].first) return false;
    }
    return true;
}
static_assert(rowsInOrder(), "kCallInfo and kHostCalls list every HostCall once, in its order");

const CallInfo& info(HostCall call) { return kCallInfo[indexOf(call)].second; }

struct FaultState {
    std::mutex mutex;
    FaultSwitch switches[kHostCallCount];
    std::function<void(HostCall)> observer;
    std::function<bool(HostCall)> watch;
    std::function<void(HostCall, const std::exception&)> throwObserver;
};

FaultState& state() {
    static FaultState* const s = new FaultState;
    return *s;
}

}  // namespace

std::atomic<bool> detail::g_faultsArmed{false};

namespace {
std::atomic<bool>& g_active = detail::g_faultsArmed;
}  // namespace

const char* hostCallName(HostCall call) { return info(call).name; }

const char* hostCallFunction(HostCall call) { return info(call).function; }

bool hostCallNamed(std::string_view name, HostCall& call) {
    for (const auto& [c, row] : kCallInfo) {
        if (name == row.name) {
            call = c;
            return true;
        }
    }
    return false;
}

CallOwner hostCallOwner(HostCall call) { return info(call).owner; }

bool isLogCall(HostCall call) {
    switch (call) {
    case HostCall::GetLogInstance:
    case HostCall::IsLevelEnabled:
    case HostCall::Write:
    case HostCall::IsLogLevelEnabled:
    case HostCall::DoLog2: return true;
    default: return false;
    }
}

HostFault::HostFault(HostCall call) : std::runtime_error(std::string("host fault: ") + hostCallName(call)), m_call(call) {}

bool FaultSwitch::fires() {
    if (m_mode == FaultMode::Once) {
        m_mode = FaultMode::Off;
        return true;
    }
    return m_mode == FaultMode::Always;
}

void setHostFault(HostCall call, FaultMode mode) {
    if (hostCallOwner(call) != CallOwner::Process) {
        throw std::invalid_argument(std::string(hostCallName(call)) + " fails per session or packet, not for the process");
    }
    std::lock_guard lock(state().mutex);
    state().switches[indexOf(call)].set(mode);
    if (mode != FaultMode::Off) g_active = true;
}

void setHostFaultObserver(std::function<void(HostCall)> observer) {
    std::function<void(HostCall)> old;  // destroyed after the lock is released
    std::lock_guard lock(state().mutex);
    old = std::exchange(state().observer, std::move(observer));
}

void setHostCallWatch(std::function<bool(HostCall)> watch) {
    std::function<bool(HostCall)> old;
    std::lock_guard lock(state().mutex);
    if (watch) g_active = true;
    old = std::exchange(state().watch, std::move(watch));
}

void setHostThrowObserver(std::function<void(HostCall, const std::exception&)> observer) {
    std::function<void(HostCall, const std::exception&)> old;
    std::lock_guard lock(state().mutex);
    old = std::exchange(state().throwObserver, std::move(observer));
}

void resetHostFaults() {
    std::function<void(HostCall)> oldObserver;
    std::lock_guard lock(state().mutex);
    for (FaultSwitch& s : state().switches) s.set(FaultMode::Off);
    oldObserver.swap(state().observer);
    g_active = static_cast<bool>(state().watch);
}

bool detail::armedCallFails(HostCall call) {
    std::function<bool(HostCall)> watch;
    bool fails = false;
    {
        std::lock_guard lock(state().mutex);
        watch = state().watch;
        if (hostCallOwner(call) == CallOwner::Process) fails = state().switches[indexOf(call)].fires();
    }
    // Outside the lock: the watch may use the stand-ins' controls.
    if (watch && watch(call)) fails = true;
    return fails;
}

void detail::enterArmedCall(HostCall call) {
    if (!armedCallFails(call)) return;
    std::function<void(HostCall)> observer;
    {
        std::lock_guard lock(state().mutex);
        observer = state().observer;
    }
    if (observer) observer(call);
    const HostFault fault(call);
    noteHostThrow(call, fault);
    throw fault;
}

void detail::noteHostThrow(HostCall call, const std::exception& thrown) {
    std::function<void(HostCall, const std::exception&)> observer;
    {
        std::lock_guard lock(state().mutex);
        observer = state().throwObserver;
    }
    if (observer) observer(call, thrown);
}

}  // namespace standin
