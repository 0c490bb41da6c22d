// The soak (Soak.h). Every step names the effects it expects (the events
// posted, the app messages sent) and its actual effects must be exactly
// those, on the session the step was for and on no other. Client requests
// are the probes: what the module sends for an app shows its proxies and
// SDK version as the module holds them. A failing host call must reach the
// host's call, the effects must stop where it was, the registry must be what
// the model says it left, and a session that leaves must leave no watcher
// and no task behind. A failing log call costs its line only: nothing leaves
// the module and the effects are all there.
//
// Each step draws its fault from the host calls that step may make (the
// lists below). Whether the call was made is what the stand-ins report;
// where the module stops is the call's: before the packet changes anything
// (its URI, result code, unmarshal, inflation, the app list's task removal),
// after the registry change and before its event (the event itself, the
// names converted for it, an announce body read for it), or before the
// request's first send (the send, the user info and uid it carries).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/ClientRecords.h"
#include "host/SessionEvent.h"
#include "module/ISessionMod.h"
#include "standin/pktcore/StandinSession.h"
#include "standin/tarnbase/StandinDatabase.h"
#include "standin/tarnbase/StandinLog.h"
#include "tools/sapp-host/soak/Soak.h"
#include "tools/sapp-host/soak/SoakEffects.h"
#include "tools/sapp-host/soak/SoakMemory.h"
#include "tools/sapp-host/soak/SoakModel.h"
#include "tools/sapp-host/soak/SoakTraffic.h"

namespace sapphost {

namespace {

namespace ps = protocol::session;
using soak::callModule;
using soak::Effects;
using soak::Thrown;
using soak::thrownName;
using standin::HostCall;

constexpr uint32_t kFirstSid = 5000;

// The log calls every step makes; one of them failing changes nothing.
#define SAPP_SOAK_LOG_CALLS                                                                                       \
    HostCall::IsLevelEnabled, HostCall::Write, HostCall::GetLogInstance, HostCall::IsLogLevelEnabled, HostCall::DoLog2

constexpr HostCall kJoinCalls[] = {HostCall::AddWatcher, HostCall::QueryDatabase, HostCall::GetSid,
                                   HostCall::GetTable,   HostCall::GetField,      HostCall::CurrentSystemTime,
                                   HostCall::UInfoConstruct, HostCall::UInfoSetSid, SAPP_SOAK_LOG_CALLS};
constexpr HostCall kLeaveCalls[] = {HostCall::RemoveWatcher, HostCall::RemoveTask, HostCall::GetTaskQueue,
                                    HostCall::ReleaseRef, SAPP_SOAK_LOG_CALLS};
constexpr HostCall kQueryCalls[] = {HostCall::SendRequest, HostCall::AddTask,     HostCall::GetTaskQueue,
                                    HostCall::GetUInt32,   HostCall::UInfoGetSid, HostCall::UInfoGetUid,
                                    HostCall::GetUid32,    SAPP_SOAK_LOG_CALLS};
constexpr HostCall kRequestCalls[] = {HostCall::SendRequest, HostCall::UInfoGetSid, HostCall::UInfoGetUid,
                                      HostCall::GetUid32, SAPP_SOAK_LOG_CALLS};
constexpr HostCall kPacketCalls[] = {HostCall::PostAppEvent, HostCall::Unmarshal,   HostCall::RemoveTask,
                                     HostCall::GetTaskQueue, HostCall::GetUri,      HostCall::GetResCode,
                                     HostCall::GetBodyLen,   HostCall::GetBody,     HostCall::UnZipString,
                                     HostCall::Net2App,      SAPP_SOAK_LOG_CALLS};
#undef SAPP_SOAK_LOG_CALLS

// Where a packet stops when the call fails: before it changes anything...
bool stopsBeforeChanges(HostCall call) {
    return call == HostCall::Unmarshal || call == HostCall::GetUri || call == HostCall::GetResCode ||
           call == HostCall::UnZipString || call == HostCall::RemoveTask || call == HostCall::GetTaskQueue;
}
// ...or after the registry change, losing its event.
bool losesTheEvent(HostCall call) {
    return call == HostCall::PostAppEvent || call == HostCall::Net2App || call == HostCall::GetBodyLen ||
           call == HostCall::GetBody;
}
// Where a request stops: before its first send.
bool stopsTheSends(HostCall call) {
    return call == HostCall::SendRequest || call == HostCall::UInfoGetSid || call == HostCall::UInfoGetUid ||
           call == HostCall::GetUid32;
}

class SoakFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct LiveSession {
    std::unique_ptr<standin::Session> object;
    soak::RegistryModel model;
    soak::SoakPacket last;  // the last packet played at it, for duplicates
};

class Soak {
public:
    Soak(const ModuleLibrary& module, uint32_t sessions, uint64_t steps, uint64_t seed, uint32_t faultPercent)
        : m_module(module), m_sessionCount(sessions), m_steps(steps), m_seed(seed), m_faultPercent(faultPercent),
          m_traffic(seed), m_memory(steps) {}

    bool run() {
        standin::resetLog();
        standin::resetHostFaults();
        standin::setHostFaultObserver([this](HostCall) { m_processFaultFired = true; });
        standin::setUnzipLimit(standin::kDefaultUnzipLimit);
        for (uint32_t i = 0; i < m_sessionCount; ++i) join(std::nullopt);
        std::cout << "soak: " << m_sessionCount << " sessions, " << m_steps << " packets and requests, seed "
                  << m_seed;
        if (m_faultPercent) std::cout << ", a host fault in " << m_faultPercent << " % of the steps";
        std::cout << std::endl;
        for (m_step = 1; m_step <= m_steps; ++m_step) {
            playOne();
            m_memory.afterStep(m_step, sessionsText(), liveState());
        }
        m_step = m_steps;
        while (!m_live.empty()) leave(m_live.begin()->first, std::nullopt);
        std::cout << "soak: " << m_steps << " packets and requests, " << m_checked << " effects and " << m_probes
                  << " probes checked against the model";
        if (m_faultPercent) std::cout << ", " << m_faults << " host faults injected and survived";
        std::cout << "\n";
        if (m_faults) {
            std::cout << "soak: the faults by host call:";
            for (const HostCall call : standin::kHostCalls) {
                const uint64_t n = m_faultsByCall[standin::indexOf(call)];
                if (n) std::cout << " " << standin::hostCallName(call) << " " << n;
            }
            std::cout << "\n";
        }
        standin::resetHostFaults();
        if (!m_memory.verdict()) return false;
        std::cout << "soak: passed\n";
        return true;
    }

private:
    // The host call this step makes fail, if it is one of the P %.
    template <std::size_t N>
    std::optional<HostCall> fault(const HostCall (&calls)[N]) {
        if (!m_faultPercent || !m_traffic.chance(m_faultPercent)) return std::nullopt;
        return calls[m_traffic.below(N)];
    }

    // --- faults -------------------------------------------------------------------

    void countFault(HostCall call) {
        ++m_faults;
        ++m_faultsByCall[standin::indexOf(call)];
    }

    // Makes `call` fail once: on the session object or packet it belongs to,
    // or for the process.
    void arm(HostCall call, standin::Session& session, standin::Packet* packet = nullptr) {
        m_processFaultFired = false;
        switch (standin::hostCallOwner(call)) {
        case standin::CallOwner::Session: session.setFault(call, standin::FaultMode::Once); break;
        case standin::CallOwner::Packet:
            if (packet) packet->setFault(call, standin::FaultMode::Once);  // only play's steps have one
            break;
        case standin::CallOwner::Process: standin::setHostFault(call, standin::FaultMode::Once); break;
        }
    }
    // Turns the fault off if it did not fire, and tells whether it fired (a
    // packet's fault reports through the packet's observer instead).
    bool disarm(HostCall call, standin::Session& session) {
        switch (standin::hostCallOwner(call)) {
        case standin::CallOwner::Session: session.setFault(call, standin::FaultMode::Off); return firedIn(session);
        case standin::CallOwner::Packet: return false;
        case standin::CallOwner::Process: standin::setHostFault(call, standin::FaultMode::Off); return m_processFaultFired;
        }
        return false;
    }

    // --- sessions ---------------------------------------------------------------

    // getModule for a new session. A failing call of the join (other than
    // a log call) makes getModule throw; the session is then not registered
    // and keeps no watcher. Whether the session joined.
    bool join(std::optional<HostCall> failing) {
        const uint32_t sid = m_nextSid++;
        // Every other session has channel data, whose references it holds
        // until it leaves.
        if (sid % 2 == 0) standin::setChannelValue(sid, L"dwSGroupId", sid);
        LiveSession live;
        live.object = std::make_unique<standin::Session>(sid);
        if (failing) arm(*failing, *live.object);
        ISessionMod* mod = nullptr;
        bool threw = false;
        try {
            mod = m_module.getModule(live.object.get());
        } catch (const std::exception&) {
            threw = true;
        }
        const bool fired = failing && disarm(*failing, *live.object);
        if (fired) countFault(*failing);
        if (threw != (fired && !standin::isLogCall(*failing))) {
            fail(sid, "joining", threw ? "getModule threw" : "getModule did not pass on the host's exception");
        }
        if (threw) {
            if (live.object->watcherCount() != 0) fail(sid, "joining", "getModule threw but left its watcher");
            m_module.releaseModule(sid);  // once for every getModule, returned or thrown
            standin::removeDatabase(sid);
            probe(anySession());
            return false;
        }
        if (!mod) throw SoakFailure("getModule returned null for session " + std::to_string(sid));
        m_pMod = mod;
        live.object->clearEntries();
        m_live.emplace(sid, std::move(live));
        ++m_joined;
        return true;
    }

    // onLeave and releaseModule. A failing call of the teardown (a log call
    // excepted) makes onLeave throw after the whole teardown: nothing of the
    // session's may stay with the host either way.
    void leave(uint32_t sid, std::optional<HostCall> failing) {
        standin::Session& object = *m_live.at(sid).object;
        if (failing) arm(*failing, object);
        const Thrown thrown = callModule([&] { m_pMod->onLeave(sid); });
        const bool fired = failing && disarm(*failing, object);
        if (thrown != (fired && !standin::isLogCall(*failing) ? Thrown::HostFault : Thrown::Nothing)) {
            fail(sid, "leaving", std::string("onLeave threw ") + thrownName(thrown));
        }
        if (fired) countFault(*failing);
        if (object.watcherCount() != 0 || object.taskQueue().queuedCount() != 0) {
            fail(sid, "leaving", "the session still has the module's watcher or task");
        }
        m_module.releaseModule(sid);
        standin::removeDatabase(sid);
        m_live.erase(sid);
        ++m_left;
        if (fired && !m_live.empty()) probe(anySession());
    }

    uint32_t anySession() {
        auto it = m_live.begin();
        std::advance(it, m_traffic.below(static_cast<uint32_t>(m_live.size())));
        return it->first;
    }

    // --- one step -------------------------------------------------------------

    void playOne() {
        const uint32_t roll = m_traffic.below(1000);
        const uint32_t sid = anySession();
        if (roll < 6) {
            // A session leaves and a new one joins (joining first, so the
            // module always has a session).
            // (A join whose fault took only a log line has joined.)
            const auto failing = fault(kJoinCalls);
            if (!failing || !join(failing)) join(std::nullopt);
            leave(sid, fault(kLeaveCalls));
        } else if (roll < 8) {
            startQuery(sid);
        } else if (roll < 160) {
            request(sid);
        } else {
            LiveSession& live = m_live.at(sid);
            const bool duplicate = roll < 180 && !live.last.body.empty();
            soak::SoakPacket packet = duplicate ? live.last : m_traffic.packet(live.model, sid, roll);
            live.last = packet;
            if (duplicate) packet.what = "a duplicate of " + packet.what;
            play(sid, packet, fault(kPacketCalls));
        }
    }

    // Event 8007 starts the app query in one session, then the clock runs.
    // The query is not modelled; a fault in one of its calls must reach the
    // host's event delivery, and only then (a log call's never).
    void startQuery(uint32_t sid) {
        standin::Session& object = *m_live.at(sid).object;
        const auto failing = fault(kQueryCalls);
        if (failing) arm(*failing, object);
        ps::SessionEvent event;
        event.type = ps::EVENT_SESS_QUERY_APPS;
        const Thrown thrown = callModule([&] { object.deliverEvent(event); });
        const bool fired = failing && disarm(*failing, object);
        if (thrown != (fired && !standin::isLogCall(*failing) ? Thrown::HostFault : Thrown::Nothing)) {
            fail(sid, "starting the query", std::string("the event delivery threw ") + thrownName(thrown));
        }
        if (fired) countFault(*failing);
        standin::advanceClock(5000);
        for (auto& [other, live] : m_live) live.object->clearEntries();
        standin::clearLogRecords();
        if (fired) probe(sid);
    }

    // After a fault: a request for every app the session's model knows, each
    // compared with what the model says the module holds for it.
    void probe(uint32_t sid) {
        LiveSession& live = m_live.at(sid);
        for (const uint32_t app : live.model.knownApps()) {
            if (app == soak::kExcludedApp) continue;
            AppDataRequest request;
            request.type = REQ_APP_DATA;
            request.appId = app;
            request.data = "probe";
            Effects expected;
            live.model.sendAppMsg(app, expected);
            const Thrown thrown = callModule([&] { m_pMod->onRequest(sid, &request); });
            ++m_probes;
            settle(sid, "a probe of app " + std::to_string(app) + " after a host fault", std::nullopt, false, expected,
                   Thrown::Nothing, thrown);
        }
    }

    // A client request, the probe of an app's proxies and SDK version.
    void request(uint32_t sid) {
        LiveSession& live = m_live.at(sid);
        AppDataRequest request;
        request.type = REQ_APP_DATA;
        request.appId = m_traffic.requestApp();
        request.data = m_traffic.anyData();
        Effects expected;
        if (request.appId != soak::kExcludedApp) live.model.sendAppMsg(request.appId, expected);
        const auto failing = fault(kRequestCalls);
        if (failing) arm(*failing, *live.object);
        const Thrown thrown = callModule([&] { m_pMod->onRequest(sid, &request); });
        ++m_probes;
        const bool fired = failing && disarm(*failing, *live.object);
        // The first send fails, and with it the rest of the request.
        settle(sid, "a request for app " + std::to_string(request.appId), failing, fired, expected, Thrown::Nothing,
               thrown);
    }

    void play(uint32_t sid, const soak::SoakPacket& p, std::optional<HostCall> failing) {
        LiveSession& live = m_live.at(sid);
        // The model's view of the packet, applied once the module is past
        // the point where the failing call would stop it.
        soak::RegistryModel next = live.model;
        Effects expected;
        Thrown refused = Thrown::Nothing;
        const bool handled = p.res == 200;
        if (handled) refused = predict(next, p, expected);
        standin::Packet packet(p.uri, p.res, p.body);
        bool packetFaultFired = false;
        packet.setFaultObserver([&](HostCall) { packetFaultFired = true; });
        if (failing) arm(*failing, *live.object, &packet);
        const Thrown thrown = callModule([&] { m_pMod->onPacket(sid, &packet); });
        const bool fired = failing && (disarm(*failing, *live.object) || packetFaultFired);
        if (failing == HostCall::Unmarshal && handled && !fired) fail(sid, p.what, "the packet was not unmarshalled");
        if (fired && stopsBeforeChanges(*failing)) {
            expected.clear();
            refused = Thrown::HostFault;
        } else if (handled && refused == Thrown::Nothing) {
            live.model = std::move(next);
        }
        settle(sid, p.what, failing, fired, expected, refused, thrown);
    }

    // What the packet does to `model` and the effects it should have;
    // UnpackError when its record does not decode (nothing changes then).
    static Thrown predict(soak::RegistryModel& model, const soak::SoakPacket& p, Effects& expected) {
        try {
            model.onPacket(p.uri, p.body, expected);
        } catch (const pakt::UnpackError&) {
            expected.clear();
            return Thrown::UnpackError;
        }
        return Thrown::Nothing;
    }

    // --- checks -----------------------------------------------------------------

    // Compares the step's effects and what left the module with the model.
    // When the step made `failing` fail (`fired`): a call that loses the
    // event or stops the sends fails at the first expected event or send
    // (postAppEvent and sendRequest are made exactly there), nothing after
    // it happens, and the host's call receives the fault; a call that stops
    // a packet before any change has done so already (play); a log call
    // changes nothing.
    void settle(uint32_t sid, const std::string& what, std::optional<HostCall> failing, bool fired,
                Effects expected, Thrown expectedThrown, Thrown thrown) {
        if (failing && (losesTheEvent(*failing) || stopsTheSends(*failing))) {
            const auto first = std::find_if(expected.begin(), expected.end(), [&](const std::string& line) {
                return losesTheEvent(*failing) ? soak::isEventLine(line) : soak::isSendLine(line);
            });
            const bool exactlyThere = failing == HostCall::PostAppEvent || failing == HostCall::SendRequest;
            if (exactlyThere && fired != (first != expected.end())) {
                fail(sid, what, fired ? "a host call failed that the model did not expect" : "the failing call was not made");
            }
            if (fired) {
                expected.erase(first, expected.end());
                expectedThrown = Thrown::HostFault;
            }
        }
        if (thrown != expectedThrown) {
            fail(sid, what, std::string("expected ") + thrownName(expectedThrown) + " to leave the module, got " +
                                thrownName(thrown));
        }
        compare(sid, what, expected);
        if (fired) {
            countFault(*failing);
            probe(sid);
        }
    }

    static bool firedIn(const standin::Session& object) {
        const auto& entries = object.entries();
        return std::any_of(entries.begin(), entries.end(),
                           [](const standin::Entry& e) { return std::holds_alternative<standin::FaultCall>(e); });
    }

    void compare(uint32_t sid, const std::string& what, const Effects& expected) {
        Effects actual;
        for (auto& [other, live] : m_live) {
            for (const standin::Entry& entry : live.object->entries()) {
                std::string line = soak::effectLine(entry);
                if (line.empty()) continue;
                if (other != sid) fail(sid, what, "it changed session " + std::to_string(other) + ", which it was not for");
                actual.push_back(std::move(line));
            }
            live.object->clearEntries();
        }
        standin::clearLogRecords();
        m_checked += actual.size();
        if (actual == expected) return;
        fail(sid, what, soak::takenOver(m_live.at(sid).model, actual) + "its effects differ from the model\n    expected: " +
                            soak::joined(expected) + "\n    actual:   " + soak::joined(actual));
    }

    [[noreturn]] void fail(uint32_t sid, const std::string& what, const std::string& why) {
        throw SoakFailure("step " + std::to_string(m_step) + ", " + what + " for session " + std::to_string(sid) +
                          ": " + why);
    }

    std::size_t liveState() const {
        std::size_t n = 0;
        for (const auto& [sid, live] : m_live) n += live.model.size();
        return n;
    }

    std::string sessionsText() const {
        return std::to_string(m_live.size()) + " sessions (" + std::to_string(m_joined) + " joined, " +
               std::to_string(m_left) + " left)";
    }

    const ModuleLibrary& m_module;
    uint32_t m_sessionCount;
    uint64_t m_steps;
    uint64_t m_seed;
    uint32_t m_faultPercent;
    soak::Traffic m_traffic;
    soak::MemoryWatch m_memory;
    ISessionMod* m_pMod = nullptr;
    std::map<uint32_t, LiveSession> m_live;
    uint32_t m_nextSid = kFirstSid;
    uint64_t m_joined = 0;
    uint64_t m_left = 0;
    uint64_t m_step = 0;
    uint64_t m_checked = 0;
    uint64_t m_probes = 0;
    uint64_t m_faults = 0;
    uint64_t m_faultsByCall[standin::kHostCallCount] = {};
    bool m_processFaultFired = false;
};

}  // namespace

bool runSoak(const ModuleLibrary& module, const SoakSettings& settings) {
    try {
        Soak soak(module, settings.sessions, settings.steps, settings.seed, settings.faultPercent);
        return soak.run();
    } catch (const SoakFailure& e) {
        std::cout.flush();
        std::cerr << "sapp-host soak: FAILED: " << e.what() << "\n";
        return false;
    } catch (const std::exception& e) {
        // Nothing else may leave the module for these packets and requests.
        std::cout.flush();
        std::cerr << "sapp-host soak: FAILED: an exception left the module: " << e.what() << "\n";
        return false;
    }
}

}  // namespace sapphost
