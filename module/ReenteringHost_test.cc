// sapp_reentering_host CASE: a host that breaks the one-call-at-a-time rule
// against the shipped module. It links the shared library, as a host does,
// and calls into it from inside one of the module's calls to the host, as
// CASE says:
//
//   onLeave-in-sendRequest        session event 8007 makes the query send;
//                                 the host leaves the session from inside
//                                 sendRequest (the query is still running)
//   releaseModule-in-postAppEvent an app list's EVENT_APPS_ADDED; the host
//                                 releases the session from inside
//                                 postAppEvent (onPacket is still running)
//   onLeave-in-logSinkWrite       an app list; the host leaves the session
//                                 from inside the log sink's write of the
//                                 first app's line (the app manager is still
//                                 walking the list)
//
// The module is expected to stop the process at the nested call with both
// calls named (support/EntryGuard.h). If the nested call returns instead,
// the module let it run: this prints so and exits with 1, having made no
// further call, since nothing the module holds can be trusted any more. A
// case whose nested call was never made exits with 2. The CTest tests
// (module/CMakeLists.txt) run each case under valgrind, which also reports
// every read or write of freed memory the nested call led to.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include <sys/resource.h>

#include "host/SessionEvent.h"
#include "marshal/BlockBuffer.h"
#include "marshal/Pack.h"
#include "module/ISessionMod.h"
#include "protocol/SessionRecords.h"
#include "standin/pktcore/StandinSession.h"
#include "standin/tarnbase/StandinLog.h"

namespace {

namespace ps = protocol::session;

constexpr uint32_t kSid = 1234;

// A session whose sendRequest and postAppEvent make the host's nested call,
// once, after doing what a session does.
class ReenteringSession : public standin::Session {
public:
    using standin::Session::Session;
    void sendRequest(const SessionRequest& request) override {
        standin::Session::sendRequest(request);
        fire(onSend);
    }
    void postAppEvent(const AppEvent& event) override {
        standin::Session::postAppEvent(event);
        fire(onPost);
    }
    void fire(std::function<void()>& call) {
        if (!call) return;
        const std::function<void()> nested = std::move(call);
        call = nullptr;
        fired = true;
        nested();
    }

    std::function<void()> onSend;
    std::function<void()> onPost;
    bool fired = false;
};

// An app list of session kSid naming apps 5 and 6, without packs.
standin::Packet appList() {
    ps::PAddAppReq record;
    record.sid = kSid;
    record.appIds = {5, 6};
    pakt::BlockBuffer buffer;
    pakt::Pack pack(buffer);
    record.marshal(pack);
    return standin::Packet(ps::URI_ADD_APP_REQ, 200, pack.str());
}

int usage() {
    std::fprintf(stderr,
                 "usage: sapp_reentering_host onLeave-in-sendRequest | releaseModule-in-postAppEvent | "
                 "onLeave-in-logSinkWrite\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return usage();
    const std::string_view name = argv[1];

    // The abort this host expects leaves no core file behind (valgrind
    // writes its own vgcore.* unless the limit is 0).
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);

    ReenteringSession session(kSid);
    ISessionMod* module = getModule(&session);

    if (name == "onLeave-in-sendRequest") {
        session.onSend = [&] { module->onLeave(kSid); };
        ps::SessionEvent query;
        query.type = ps::EVENT_SESS_QUERY_APPS;
        session.deliverEvent(query);
    } else if (name == "releaseModule-in-postAppEvent") {
        session.onPost = [&] { releaseModule(kSid); };
        standin::Packet packet = appList();
        module->onPacket(kSid, &packet);
    } else if (name == "onLeave-in-logSinkWrite") {
        standin::setLogObserver([&](const standin::LogRecord& line) {
            if (session.fired || line.text.find(L"AppMgr, sid/app_id=") == std::wstring::npos) return;
            session.fired = true;
            module->onLeave(kSid);
        });
        standin::Packet packet = appList();
        module->onPacket(kSid, &packet);
    } else {
        return usage();
    }

    if (!session.fired) {
        std::fprintf(stderr, "sapp_reentering_host: %s: the nested call was never made\n", argv[1]);
        return 2;
    }
    std::fprintf(stderr, "sapp_reentering_host: %s: the module let the nested call run\n", argv[1]);
    return 1;
}
