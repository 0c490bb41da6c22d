// Session events and their watcher interface.
//
// The host reports changes of a channel session (its ids, the user's identity,
// leaving, the start of the app-list query) to every registered watcher.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace protocol::session {

// A session event as the host delivers it, in the host's layout on x86-64:
// byte offsets, then the event codes that read the field (checked below; the
// offsets assume the 32-byte std::string of libstdc++ and of MSVC's release
// library). `extra` and its alignment fill bytes 4 to 39, as in the host's
// other session records; the host fills `reserved` (bytes 64 to 79), which
// the module never reads.
struct SessionEvent {
    int32_t type = 0;                 //   0
    std::string extra;                //   8
    uint32_t sid = 0;                 //  40  8000, 8002
    uint32_t asid = 0;                //  44  8000
    uint32_t pid = 0;                 //  48  8005
    uint64_t uid = 0;                 //  56  8002
    unsigned char reserved[16] = {};  //  64
    std::string udb;                  //  80  8002
    std::string cookie;               // 112  8002
};

#if defined(__x86_64__) || defined(_M_X64)
static_assert(offsetof(SessionEvent, type) == 0);
static_assert(offsetof(SessionEvent, extra) == 8);
static_assert(offsetof(SessionEvent, sid) == 40);
static_assert(offsetof(SessionEvent, asid) == 44);
static_assert(offsetof(SessionEvent, pid) == 48);
static_assert(offsetof(SessionEvent, uid) == 56);
static_assert(offsetof(SessionEvent, reserved) == 64);
static_assert(offsetof(SessionEvent, udb) == 80);
static_assert(offsetof(SessionEvent, cookie) == 112);
#endif

inline constexpr int32_t EVENT_SESS_SID_ASID = 8000;
inline constexpr int32_t EVENT_SESS_USER_INFO = 8002;
inline constexpr int32_t EVENT_SESS_LEAVE = 8003;
inline constexpr int32_t EVENT_SESS_PID = 8005;
inline constexpr int32_t EVENT_SESS_QUERY_APPS = 8007;

// Receives session events between ISession::addWatcher and removeWatcher.
// There is no virtual destructor: watchers are never destroyed through this
// interface, and onSessionEvent is slot 0 under every ABI. The event is
// valid for the call only.
class ISessionWatcher {
public:
    virtual void onSessionEvent(const SessionEvent& event) = 0;

protected:
    ~ISessionWatcher() = default;
};

}  // namespace protocol::session
