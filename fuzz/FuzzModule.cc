// fuzz_module: a host driving the module through its exported entry points
// with a program of actions read from the fuzz input, on up to two
// sessions, so that state one packet builds meets the next.
//
// The action language is written down in ModuleActions.h. The host behaves as a host must: a session
// object lives until the program ends, a call goes to the module only while
// the host holds it (after a release the host asks for the module again
// with getModule(nullptr), which adds no session), and at the end every
// session leaves and is released so the next program starts with no module. Exceptions the module may throw
// (pakt::PacketError from onPacket and onRequest, and the host's own faults,
// standin::HostFault, passed back from any call) are caught as a host
// catches them; any other exception, crash or sanitizer report is a finding.
//
// So is a call that costs too much (fuzz/Cost.h): in the fuzz build the
// module counts its work in edges of its code, the same on every run
// however loaded the machine is, and a call whose count is over the limit
// for what it was given and what it produced aborts the run, naming the
// call, like a crash. Built as fuzz_cost, the target also steers libFuzzer
// towards costly inputs: each call's cost against its limit is a feature,
// and mutations of its own write notices of the costliest shapes
// (fuzz/CostMutator.h).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "fuzz/Cost.h"
#include "fuzz/CostMutator.h"
#include "fuzz/FuzzInput.h"
#include "fuzz/ModuleActions.h"
#include "host/ClientRecords.h"
#include "host/SessionEvent.h"
#include "marshal/Errors.h"
#include "marshal/Fields.h"
#include "module/ISessionMod.h"
#include "protocol/PacketVisitor.h"
#include "standin/pktcore/StandinSession.h"
#include "standin/tarnbase/StandinDatabase.h"
#include "standin/tarnbase/StandinLog.h"
#include "tools/sapp-host/records/FieldJson.h"
#include "tools/sapp-host/records/Zlib.h"

namespace {

namespace ps = protocol::session;
using sappfuzz::FuzzInput;

using sappfuzz::Action;
using sappfuzz::kEvents;
using sappfuzz::kSids;
using sappfuzz::kUris;

Action actionOf(uint8_t byte) { return static_cast<Action>(byte % static_cast<uint8_t>(Action::Count)); }

// Every call into the module runs inside this function, so that an
// instruction count can take the module's calls and nothing else of the
// host's (perf/bound.sh --programs counts inside it).
#if defined(_MSC_VER) && !defined(__clang__)
extern "C" __declspec(noinline) void sapp_fuzz_module_call(void (*call)(void*), void* context) { call(context); }
#else
extern "C" __attribute__((noinline)) void sapp_fuzz_module_call(void (*call)(void*), void* context) { call(context); }
#endif

class Host {
public:
    Host() {
        standin::resetLog();
        standin::removeAllDatabases();
        standin::resetHostFaults();
        standin::setUnzipLimit(standin::kDefaultUnzipLimit);
        standin::setChannelValue(kSids[0], L"dwSGroupId", 1);
        standin::setLogObserver([this](const standin::LogRecord&) { ++m_produced.logLines; });
    }

    ~Host() {
        // Every context the module may hold leaves and is released; the last
        // release destroys the module, or the extra one does (a module made
        // by getModule(nullptr) has no session). Faults still set make these
        // calls throw after their whole teardown.
        for (const uint32_t sid : kSids) guarded(sappfuzz::CallKind::Leave, [&] { module()->onLeave(sid); });
        for (const uint32_t sid : kSids) guarded(sappfuzz::CallKind::Release, [&] { releaseModule(sid); });
        guarded(sappfuzz::CallKind::Release, [&] { releaseModule(0xFFFFFFFFu); });
        standin::resetHostFaults();
        standin::resetClock();
        standin::resetLog();
    }

    void play(FuzzInput& in) {
        // The log and the sessions have observers, so they keep nothing.
        while (!in.empty()) step(in);
    }

private:
    // Makes one call into the module as a host makes it: what the module
    // may throw is caught, as a host catches it. In the fuzz build the
    // call's work is then held to its limit (fuzz/Cost.h), given the bytes
    // it was handed (`input`: a packet's body, a request's data).
    template <typename F> void guarded(sappfuzz::CallKind kind, F&& call, std::size_t input = 0) {
        const sappfuzz::CallCost before = now();
        try {
            sapp_fuzz_module_call([](void* f) { (*static_cast<std::remove_reference_t<F>*>(f))(); }, &call);
        } catch (const pakt::PacketError&) {
            // What the module may throw; a host logs it and goes on.
        } catch (const standin::HostFault&) {
            // The host's own exception, passed back to it.
        }
        sappfuzz::CallCost cost = now();
        cost -= before;
        cost.input = input;
        m_handed += input + cost.inflated;
        // Leaving or releasing a session, also by a session event, frees
        // what the input has had the module keep.
        const bool tearsDown = kind == sappfuzz::CallKind::Leave || kind == sappfuzz::CallKind::Release ||
                               kind == sappfuzz::CallKind::Event;
        cost.held = tearsDown ? m_handed : 0;
        sappfuzz::judge(kind, cost);
    }

    // The counts a call's cost is the growth of.
    sappfuzz::CallCost now() const {
        sappfuzz::CallCost c = m_produced;
        c.work = sappfuzz::workCount();
        c.inflated = standin::inflatedBytes();
        return c;
    }

    uint32_t anySid(FuzzInput& in) { return kSids[in.byte() % 4]; }

    void step(FuzzInput& in) {
        const Action action = actionOf(in.byte());
        const unsigned slot = in.byte() % 2;
        const uint32_t sid = kSids[slot];
        switch (action) {
        case Action::Open: {
            if (m_open[slot]) return;
            if (!m_sessions[slot]) {
                m_sessions[slot] = std::make_unique<standin::Session>(sid);
                m_sessions[slot]->setObserver([this](const standin::Entry& entry) {
                    if (const auto* sent = std::get_if<standin::SentRequest>(&entry)) m_produced.sent += sent->body.size();
                });
            }
            guarded(sappfuzz::CallKind::Open, [&] {
                m_pMod = getModule(m_sessions[slot].get());
                m_open[slot] = true;
            });
            return;
        }
        case Action::Packet: {
            const uint32_t uri = kUris[in.byte() % kUris.size()];
            const uint32_t res = in.byte() < 240 ? 200 : 500;
            packet(sid, uri, res, in.longBytes());
            return;
        }
        case Action::ZippedNotice:
            zippedNotice(in, sid, false);
            return;
        case Action::RepeatedNotice:
            zippedNotice(in, sid, true);
            return;
        case Action::Request: {
            AppDataRequest request;
            request.type = in.byte() < 240 ? REQ_APP_DATA : 1008;
            request.appId = in.byte() < 16 ? 90052 : in.u32() % 8;
            request.data = in.byte() < 4 ? std::string(70000, 'r') : in.shortBytes();
            guarded(sappfuzz::CallKind::Request, [&] { module()->onRequest(sid, &request); }, request.data.size());
            return;
        }
        case Action::Event: {
            ps::SessionEvent event;
            event.type = kEvents[in.byte() % 6];
            event.sid = anySid(in);
            event.asid = anySid(in);
            event.pid = in.byte();
            event.uid = in.u32();
            event.udb = in.shortBytes();
            if (m_sessions[slot]) guarded(sappfuzz::CallKind::Event, [&] { m_sessions[slot]->deliverEvent(event); });
            return;
        }
        case Action::Advance:
            guarded(sappfuzz::CallKind::Task, [&] { standin::advanceClock(uint64_t{in.byte()} * 100); });
            return;
        case Action::Leave: {
            const uint32_t left = anySid(in);
            guarded(sappfuzz::CallKind::Leave, [&] { module()->onLeave(left); });
            return;
        }
        case Action::Release:
            if (!m_open[slot]) return;
            m_open[slot] = false;
            guarded(sappfuzz::CallKind::Release, [&] { releaseModule(sid); });
            return;
        case Action::NullCalls:
            module()->onPacket(sid, nullptr);
            module()->onRequest(sid, nullptr);
            return;
        case Action::Ask:
            ask();
            return;
        case Action::UnzipLimit:
            standin::setUnzipLimit(in.byte() < 128 ? standin::kDefaultUnzipLimit : in.u16());
            return;
        case Action::Database:
            if (in.byte() & 1) {
                standin::removeDatabase(sid);
            } else {
                standin::setChannelValue(sid, L"dwSGroupId", in.u32());
            }
            return;
        case Action::Fault: {
            const standin::HostCall call = standin::kHostCalls[in.byte() % standin::kHostCallCount];
            const uint8_t mode = in.byte();
            const auto fault = mode < 96 ? standin::FaultMode::Once
                               : mode < 192 ? standin::FaultMode::Always : standin::FaultMode::Off;
            switch (standin::hostCallOwner(call)) {
            case standin::CallOwner::Session:
                if (m_sessions[slot]) m_sessions[slot]->setFault(call, fault);
                break;
            case standin::CallOwner::Packet: m_packetFaults[standin::indexOf(call)] = fault; break;
            case standin::CallOwner::Process: standin::setHostFault(call, fault); break;
            }
            return;
        }
        case Action::Count:
            return;
        }
    }

    void packet(uint32_t sid, uint32_t uri, uint32_t res, std::string body) {
        const std::size_t inflated = claimedInflation(uri, body);
        if (inflated > m_inflateBudget) return;
        m_inflateBudget -= inflated;
        const std::size_t bodyBytes = body.size();
        standin::Packet packet(uri, res, std::move(body));
        for (const standin::HostCall call : standin::kHostCalls) {
            standin::FaultMode& mode = m_packetFaults[standin::indexOf(call)];
            if (mode == standin::FaultMode::Off) continue;
            packet.setFault(call, standin::FaultMode::Always);
            if (mode == standin::FaultMode::Once) mode = standin::FaultMode::Off;
        }
        guarded(sappfuzz::packetKind(uri), [&] { module()->onPacket(sid, &packet); }, bodyBytes);
    }

    // A session notice whose payload the input gives uncompressed: zipped
    // here with its true length, so that the module's decoding of inflated
    // payloads is reached without the fuzzer having to write zlib streams.
    // `repeated`: the payload is a unit repeated (RepeatedNotice), so that
    // a few input bytes inflate to a list of the host's full limit.
    void zippedNotice(FuzzInput& in, uint32_t sid, bool repeated) {
        constexpr std::size_t kinds = sappfuzz::kZippedNotices;
        const std::size_t pick = kinds - 1 - in.byte() % kinds;
        std::size_t row = 0;
        ps::forEachPacket([&](auto notice) {
            if constexpr (sappfuzz::isZippedNotice<decltype(notice)>) {
                if (row++ == pick) zippedNotice(notice, in, sid, repeated ? repeatedBytes(in) : in.longBytes());
            }
        });
    }

    // Head, unit repeated, tail, within the unzip limit and the budget.
    std::string repeatedBytes(FuzzInput& in) {
        std::string plain = in.longBytes();
        const std::string unit = in.longBytes();
        const uint32_t count = in.u32();
        const std::string tail = in.longBytes();
        const std::size_t room = std::min<std::size_t>(standin::kDefaultUnzipLimit, m_inflateBudget);
        for (uint32_t i = 0; i < count && !unit.empty() && plain.size() + unit.size() <= room; ++i) plain += unit;
        plain += tail;
        if (plain.size() > room) plain.resize(room);
        return plain;
    }

    // What the host will inflate for a packet: the lengths its zipped
    // payloads claim (protocol/Packets.h), those above the unzip limit
    // left out (the host refuses them unread).
    static std::size_t claimedInflation(uint32_t uri, const std::string& body) {
        std::size_t bytes = 0;
        ps::forEachPacket([&](auto row) {
            using P = decltype(row);
            if constexpr (sappfuzz::isZippedNotice<P>) {
                if (P::uri != uri) return;
                typename P::Record req;
                try {
                    pakt::Unpack up(body.data(), body.size());
                    req.unmarshal(up);
                } catch (const pakt::UnpackError&) {
                    return;
                }
                ps::forEachPayload(row, req, [&](const ps::PayloadField& field) {
                    if (field.isZipped() && *field.length <= standin::unzipLimit()) bytes += *field.length;
                });
            }
        });
        return bytes;
    }

    // Row P's notice: its sid and app ids where it has them, its first zipped
    // payload from `plain`, its other payloads as they come.
    template <class P>
    void zippedNotice(P notice, FuzzInput& in, uint32_t sid, const std::string& plain) {
        typename P::Record req;
        std::vector<uint32_t> appIds;
        for (uint8_t n = in.byte() % 5; n > 0; --n) appIds.push_back(in.byte() % 8);
        if constexpr (requires { req.sid; }) req.sid = sid;
        if constexpr (requires { req.appIds; }) req.appIds = appIds;
        bool zipped = false;
        ps::forEachPayload(notice, req, [&](const ps::PayloadField& field) {
            if (field.zipped && !zipped) {
                zipped = true;
                *field.zipped = 1;
                *field.bytes = sapphost::deflateBytes(plain);
                *field.length = static_cast<uint32_t>(plain.size());
                return;
            }
            *field.bytes = in.longBytes();
        });
        packet(sid, P::uri, 200, sapphost::packToString(req));
    }

    void ask() {
        ISessionMod* mod = module();
        std::vector<uint32_t> uris(mod->getUriCount());
        mod->getUris(uris.data());
        std::vector<uint32_t> types(mod->getReqTypeCount());
        mod->getReqTypes(types.data());
        mod->getModFlag();
    }

    // The module as the host holds it. Any release may destroy it, also
    // one that throws the host's fault back after its teardown, so the host
    // forgets it before each and asks anew when it needs it.
    ISessionMod* module() {
        if (!m_pMod) m_pMod = getModule(nullptr);
        return m_pMod;
    }
    void releaseModule(uint32_t sid) {
        m_pMod = nullptr;
        ::releaseModule(sid);
    }

    ISessionMod* m_pMod = nullptr;
    std::size_t m_inflateBudget = sappfuzz::kInflateBudget;
    // What the module has sent (body bytes) and logged (lines) so far.
    sappfuzz::CallCost m_produced;
    // What the host has handed the module and inflated for it so far.
    uint64_t m_handed = 0;
    std::unique_ptr<standin::Session> m_sessions[2];
    bool m_open[2] = {false, false};
    // Per call of the packets the next actions deliver (only a packet's
    // calls are ever set).
    standin::FaultMode m_packetFaults[standin::kHostCallCount] = {};
};

}  // namespace

#if defined(SAPP_FUZZ_COST) && defined(SAPP_LIBFUZZER)
extern "C" std::size_t LLVMFuzzerMutate(uint8_t* data, std::size_t size, std::size_t maxSize);

// fuzz_cost: half of the mutations are libFuzzer's own, half append a
// notice of a costly shape (fuzz/CostMutator.h).
extern "C" std::size_t LLVMFuzzerCustomMutator(uint8_t* data, std::size_t size, std::size_t maxSize, unsigned int seed) {
    if (seed % 2 == 0) return LLVMFuzzerMutate(data, size, maxSize);
    return sappfuzz::mutateTowardsCost(data, size, maxSize, seed / 2);
}
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
#if defined(SAPP_FUZZ_COST)
    sappfuzz::noteInputSize("fuzz_cost", size);
#else
    sappfuzz::noteInputSize("fuzz_module", size);
#endif
    sappfuzz::beginInput(data, size);
    {
        FuzzInput in(data, size);
        Host host;
        host.play(in);
    }
    sappfuzz::endInput();
    return 0;
}
