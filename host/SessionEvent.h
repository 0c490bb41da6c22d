// Session events and their watcher interface.
//
// The host reports changes of a channel session (its ids, the user's identity,
// leaving, the start of the app-list query) to every registered watcher.
#pragma once

#include <cstdint>
#include <string>

namespace protocol::session {

// A session event as the host delivers it. Only the fields the codes below
// need are carried; the rest of the host's record is not part of the contract.
struct SessionEvent {
    int32_t type = 0;
    std::string extra;
    uint32_t sid = 0;    // 8000, 8002
    uint32_t asid = 0;   // 8000
    uint32_t pid = 0;    // 8005
    uint64_t uid = 0;    // 8002
    std::string udb;     // 8002
    std::string cookie;  // 8002
};

inline constexpr int32_t EVENT_SESS_SID_ASID = 8000;
inline constexpr int32_t EVENT_SESS_USER_INFO = 8002;
inline constexpr int32_t EVENT_SESS_LEAVE = 8003;
inline constexpr int32_t EVENT_SESS_PID = 8005;
inline constexpr int32_t EVENT_SESS_QUERY_APPS = 8007;

// Receives session events between ISession::addWatcher and removeWatcher.
// There is no virtual destructor: watchers are never destroyed through this
// interface.
class ISessionWatcher {
public:
    virtual void onSessionEvent(const SessionEvent& event) = 0;

protected:
    ~ISessionWatcher() = default;
};

}  // namespace protocol::session
