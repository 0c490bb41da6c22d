#include "standin/pktcore/StandinSession.h"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>

#include "marshal/BlockBuffer.h"
#include "marshal/Marshallable.h"
#include "marshal/Pack.h"
#include "protocol/ClientEvents.h"

namespace standin {

namespace {

// A copy of `event` as the concrete record its code names. The shared_ptr
// is made for the concrete type, so it also destroys it as that type.
std::shared_ptr<const AppEvent> copyEvent(const AppEvent& event) {
    return visitClientEvent(event, [](const auto& concrete) -> std::shared_ptr<const AppEvent> {
        return std::make_shared<std::remove_cvref_t<decltype(concrete)>>(concrete);
    });
}

template <typename T>
std::vector<T> entriesOf(const std::vector<Entry>& entries) {
    std::vector<T> result;
    for (const Entry& entry : entries) {
        if (const T* e = std::get_if<T>(&entry)) result.push_back(*e);
    }
    return result;
}

}  // namespace

namespace {

void requireOwner(HostCall call, CallOwner owner, const char* what) {
    if (hostCallOwner(call) != owner) {
        throw std::invalid_argument(std::string(hostCallName(call)) + " is not a call of " + what);
    }
}

}  // namespace

Session::Session(uint32_t sid) : m_sid(sid), m_queue(*this) {}

Session::~Session() = default;

uint32_t Session::getSid() {
    failIfAsked(HostCall::GetSid);
    return m_sid;
}

void Session::setFault(HostCall call, FaultMode mode) {
    requireOwner(call, CallOwner::Session, "a session");
    m_faults[indexOf(call)].set(mode);
}

void Session::failIfAsked(HostCall call) {
    // Both are asked, so that the watch sees every call.
    const bool bySwitch = m_faults[indexOf(call)].fires();
    if (!hostCallFails(call) && !bySwitch) return;
    record(FaultCall{call});
    const HostFault fault(call);
    detail::noteHostThrow(call, fault);
    throw fault;
}

void Session::sendRequest(const SessionRequest& request) {
    failIfAsked(HostCall::SendRequest);
    SentRequest sent;
    sent.type = request.type;
    sent.extra = request.extra;
    sent.uri = request.uri;
    if (request.body) {
        pakt::BlockBuffer buffer;
        pakt::Pack pack(buffer);
        request.body->marshal(pack);
        sent.body = pack.str();
    }
    record(std::move(sent));
}

void Session::postAppEvent(const AppEvent& event) {
    failIfAsked(HostCall::PostAppEvent);
    record(PostedEvent{event.type, copyEvent(event)});
}

IProtoTaskQueue* Session::getTaskQueue() {
    failIfAsked(HostCall::GetTaskQueue);
    return &m_queue;
}

TaskQueue& Session::taskQueue() { return m_queue; }

void Session::addWatcher(protocol::session::ISessionWatcher* watcher) {
    failIfAsked(HostCall::AddWatcher);
    record(WatchCall{WatchCall::Op::Add, watcher});
    if (watcher && std::find(m_watchers.begin(), m_watchers.end(), watcher) == m_watchers.end()) {
        m_watchers.push_back(watcher);
    }
}

void Session::removeWatcher(protocol::session::ISessionWatcher* watcher) {
    record(WatchCall{WatchCall::Op::Remove, watcher});
    std::erase(m_watchers, watcher);
    failIfAsked(HostCall::RemoveWatcher);
}

void Session::setSid(uint32_t sid) { m_sid = sid; }

void Session::deliverEvent(const protocol::session::SessionEvent& event) {
    // Watchers may register or unregister while they are called.
    const std::vector<protocol::session::ISessionWatcher*> watchers = m_watchers;
    for (protocol::session::ISessionWatcher* watcher : watchers) {
        if (std::find(m_watchers.begin(), m_watchers.end(), watcher) != m_watchers.end()) {
            watcher->onSessionEvent(event);
        }
    }
}

std::size_t Session::watcherCount() const { return m_watchers.size(); }

const std::vector<Entry>& Session::entries() const { return m_entries; }

std::vector<SentRequest> Session::requests() const { return entriesOf<SentRequest>(m_entries); }

std::vector<PostedEvent> Session::events() const { return entriesOf<PostedEvent>(m_entries); }

std::vector<TaskCall> Session::taskCalls() const { return entriesOf<TaskCall>(m_entries); }

std::vector<WatchCall> Session::watchCalls() const { return entriesOf<WatchCall>(m_entries); }

void Session::clearEntries() { m_entries.clear(); }

void Session::setObserver(std::function<void(const Entry&)> observer) { m_observer = std::move(observer); }

void Session::record(Entry entry) {
    if (m_observer) {
        m_observer(entry);
    } else {
        m_entries.push_back(std::move(entry));
    }
}

}  // namespace standin
