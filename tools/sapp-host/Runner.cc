#include "tools/sapp-host/Runner.h"

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <variant>
#include <vector>

#include "host/ClientRecords.h"
#include "marshal/Errors.h"
#include "module/ISessionMod.h"
#include "standin/pktcore/StandinSession.h"
#include "standin/tarnbase/StandinDatabase.h"
#include "standin/tarnbase/StandinLog.h"
#include "tools/sapp-host/Matcher.h"
#include "tools/sapp-host/Trace.h"

namespace sapphost {

namespace {

// Written past the end of a getUris/getReqTypes buffer to see whether the
// module writes more values than it counted.
constexpr uint32_t kCanary = 0xC0FFEE11;

// Whether the module's singleton lives, followed from the host's own calls
// by the module's rules: getModule creates the singleton and registers the
// session object's id unless the object is null, the id is 0 or 0xFFFFFFFF,
// or the id is registered already; a session event 8000 with sid != asid
// delivered to a watched session object moves the entry under asid to sid;
// onLeave removes the id's entry; releaseModule removes it too and, when the
// registry is empty afterwards, destroys the singleton. A getModule that
// throws has created the singleton all the same, without handing it over.
class HeldModule {
public:
    ISessionMod* get() const { return m_pMod; }
    // Whether the singleton lives, handed over or not.
    bool exists() const { return m_exists; }
    std::vector<uint32_t> registered() const { return {m_registry.begin(), m_registry.end()}; }

    // getModule answered `mod` for a session object whose id was `sid`
    // (none: a null session); null when it threw.
    void gotModule(ISessionMod* mod, std::optional<uint32_t> sid) {
        m_exists = true;
        if (!mod) return;
        m_pMod = mod;
        if (sid && *sid != 0 && *sid != kInvalidSid) m_registry.insert(*sid);
    }
    void rebound(uint32_t sid, uint32_t asid) {
        if (sid != asid && m_registry.erase(asid) > 0) m_registry.insert(sid);
    }
    void left(uint32_t sid) { m_registry.erase(sid); }
    void released(uint32_t sid) {
        if (!m_exists) return;
        m_registry.erase(sid);
        if (m_registry.empty()) {
            m_pMod = nullptr;
            m_exists = false;
        }
    }

private:
    static constexpr uint32_t kInvalidSid = 0xFFFFFFFF;
    ISessionMod* m_pMod = nullptr;
    bool m_exists = false;
    std::set<uint32_t> m_registry;
};

class Player {
public:
    Player(const ModuleLibrary& module, const Scenario& scenario, const std::function<void(const Json&)>& onLine)
        : m_module(module), m_scenario(scenario), m_onLine(onLine) {}

    ~Player() {
        standin::setLogObserver(nullptr);
        standin::resetHostFaults();
    }

    RunResult run(const RunOptions& options) {
        m_pOptions = &options;
        standin::resetLog();
        standin::removeAllDatabases();
        standin::setUnzipLimit(standin::kDefaultUnzipLimit);
        standin::resetHostFaults();
        // The stand-in log and sessions also keep every line and effect they
        // see; the trace has them already, so each is dropped there once
        // traced.
        standin::setLogObserver([this](const standin::LogRecord& record) {
            emit(trace::log(record));
            standin::clearLogRecords();
        });
        standin::setHostFaultObserver([this](standin::HostCall call) { emit(trace::fault(call)); });
        applyHost(m_scenario.host);
        for (const Step& step : m_scenario.steps) runStep(step);
        if (options.closeAll) closeAll();
        if (options.eachSessionAtEnd) {
            for (const auto& session : m_sessions) options.eachSessionAtEnd(*session);
        }
        return std::move(m_result);
    }

    void operator()(const OpenAction& open) {
        if (!open.session) {
            ISessionMod* mod = nullptr;
            guarded([&] { mod = m_module.getModule(nullptr); });
            emit(trace::answer("getModule", mod != nullptr));
            m_held.gotModule(mod, std::nullopt);
            return;
        }
        const std::string name = *open.session;
        auto session = std::make_unique<standin::Session>(open.sid);
        session->setObserver([this, name, observed = session.get()](const standin::Entry& entry) {
            onEntry(name, entry);
            observed->clearEntries();
        });
        standin::Session* raw = session.get();
        m_sessions.push_back(std::move(session));
        m_byName[name] = raw;
        for (const FaultAction& fault : m_pendingFaults[name]) raw->setFault(fault.call, fault.mode);
        m_pendingFaults.erase(name);
        ISessionMod* mod = nullptr;
        guarded([&] { mod = m_module.getModule(raw); });
        emit(trace::answer("getModule", mod != nullptr));
        m_held.gotModule(mod, open.sid);
    }

    void operator()(const SetSidAction& set) { m_byName.at(set.session)->setSid(set.sid); }

    void operator()(const EventAction& e) {
        protocol::session::SessionEvent event;
        event.type = e.type;
        event.sid = e.sid;
        event.asid = e.asid;
        event.pid = e.pid;
        event.uid = e.uid;
        event.udb = e.udb;
        event.cookie = e.cookie;
        standin::Session* session = m_byName.at(e.session);
        // A watched session object is watched by its context, which asks
        // the module to rebind on this event.
        const bool rebinds = event.type == protocol::session::EVENT_SESS_SID_ASID && session->watcherCount() > 0;
        m_lastFault.reset();
        guarded([&] { session->deliverEvent(event); });
        // The user info takes the ids before the entry moves: if setting
        // them failed, nothing moved. (A later fault, in the teardown of a
        // displaced context, comes after the move.)
        const bool idsFailed =
            m_lastFault == standin::HostCall::UInfoSetSid || m_lastFault == standin::HostCall::UInfoSetAsid;
        if (rebinds && !idsFailed) m_held.rebound(event.sid, event.asid);
    }

    void operator()(const PacketAction& p) {
        ISessionMod* mod = requireModule();
        if (!mod) return;
        if (!p.body) {
            emit(trace::recvNullPacket(p.sid));
            guarded([&] { mod->onPacket(p.sid, nullptr); });
            return;
        }
        emit(trace::recvPacket(p.sid, p.uri, p.res, *p.body));
        standin::Packet packet(p.uri, p.res, *p.body);
        packet.setFaultObserver([this, sid = p.sid](standin::HostCall call) { emit(trace::packetFault(sid, call)); });
        for (auto& [call, mode] : m_packetFaults) {
            if (mode == standin::FaultMode::Off) continue;
            packet.setFault(call, standin::FaultMode::Always);
            if (mode == standin::FaultMode::Once) mode = standin::FaultMode::Off;
        }
        guarded([&] { mod->onPacket(p.sid, &packet); });
    }

    void operator()(const RequestAction& r) {
        ISessionMod* mod = requireModule();
        if (!mod) return;
        if (r.null) {
            emit(trace::recvRequest(r.sid, nullptr));
            guarded([&] { mod->onRequest(r.sid, nullptr); });
            return;
        }
        AppDataRequest request;
        request.type = r.type;
        request.appId = r.appId;
        request.data = r.data;
        emit(trace::recvRequest(r.sid, &request));
        guarded([&] { mod->onRequest(r.sid, &request); });
    }

    void operator()(const AdvanceAction& a) {
        guarded([&] { standin::advanceClock(a.ms); });
    }

    void operator()(const LeaveAction& l) {
        ISessionMod* mod = requireModule();
        if (!mod) return;
        guarded([&] { mod->onLeave(l.sid); });
        m_held.left(l.sid);
    }

    void operator()(const ReleaseAction& r) {
        guarded([&] { m_module.releaseModule(r.sid); });
        m_held.released(r.sid);
    }

    void operator()(const AskAction& a) {
        ISessionMod* mod = requireModule();
        if (!mod) return;
        if (a.what == "modflag") {
            guarded([&] { emit(trace::answer("modflag", mod->getModFlag())); });
        } else if (a.what == "uris") {
            askList(
                "uris", "getUris", [mod] { return mod->getUriCount(); }, [mod](uint32_t* out) { mod->getUris(out); });
        } else {
            askList(
                "reqtypes", "getReqTypes", [mod] { return mod->getReqTypeCount(); },
                [mod](uint32_t* out) { mod->getReqTypes(out); });
        }
    }

    void operator()(const DbAction& d) {
        if (d.remove) {
            standin::removeDatabase(d.sid);
        } else if (d.queryThrows) {
            standin::setQueryThrows(d.sid, *d.queryThrows);
        } else {
            standin::setChannelValue(d.sid, L"dwSGroupId", *d.sGroupId);
        }
    }

    void operator()(const HostAction& h) { applyHost(h.settings); }

    void operator()(const FaultAction& f) {
        if (standin::hostCallOwner(f.call) == standin::CallOwner::Process) {
            standin::setHostFault(f.call, f.mode);
        } else if (!f.session) {
            m_packetFaults[f.call] = f.mode;
        } else if (const auto session = m_byName.find(*f.session); session != m_byName.end()) {
            session->second->setFault(f.call, f.mode);
        } else {
            m_pendingFaults[*f.session].push_back(f);
        }
    }

private:
    void runStep(const Step& step) {
        m_pStep = &step;
        emit(trace::step(step.index, step.action));
        // The checks see the step's effects: not its step line, nor the
        // echo of what the host delivered.
        m_checker.emplace(step);
        std::visit(*this, step.what);
        for (CheckFailure& check : m_checker->finish()) {
            m_result.failures.push_back(
                {step.index, step.action, std::move(check), m_checker->shownLines(), m_checker->lineCount()});
        }
        m_checker.reset();
    }

    // A host that shuts down: every session the module still holds leaves
    // and is released; a singleton left without sessions (after a getModule
    // that threw) is released under id 0, which no session has.
    void closeAll() {
        emit(trace::step(m_scenario.steps.size(), "close"));
        for (const uint32_t sid : m_held.registered()) {
            if (ISessionMod* mod = m_held.get()) guarded([&] { mod->onLeave(sid); });
            m_held.left(sid);
            guarded([&] { m_module.releaseModule(sid); });
            m_held.released(sid);
        }
        if (m_held.exists()) {
            guarded([&] { m_module.releaseModule(0); });
            m_held.released(0);
        }
    }

    void applyHost(const HostSettings& host) {
        if (host.logSink) standin::setLogSinkAvailable(*host.logSink);
        if (host.logEnabled) standin::setLogLevelEnabled(*host.logEnabled);
        if (host.unzipLimit) standin::setUnzipLimit(*host.unzipLimit);
        for (const auto& [sid, sGroupId] : host.databases) standin::setChannelValue(sid, L"dwSGroupId", sGroupId);
    }

    void emit(const Json& line) {
        if (m_onLine) m_onLine(line);
        if (m_checker && !trace::isInput(line)) m_checker->add(line);
    }

    void onEntry(const std::string& session, const standin::Entry& entry) {
        if (const auto* sent = std::get_if<standin::SentRequest>(&entry)) {
            emit(trace::send(session, *sent));
        } else if (const auto* event = std::get_if<standin::PostedEvent>(&entry)) {
            emit(trace::event(session, *event));
        } else if (const auto* task = std::get_if<standin::TaskCall>(&entry)) {
            emit(trace::task(session, *task));
        } else if (const auto* watch = std::get_if<standin::WatchCall>(&entry)) {
            emit(trace::watch(session, *watch));
        } else if (const auto* fault = std::get_if<standin::FaultCall>(&entry)) {
            emit(trace::fault(session, fault->call));
        }
    }

    // Runs one call into the module; an exception that leaves it becomes an
    // error line and the scenario plays on.
    template <typename F> void guarded(F&& call) {
        try {
            call();
        } catch (const pakt::UnpackError& e) {
            emit(trace::error("UnpackError", e.what()));
        } catch (const pakt::PackError& e) {
            emit(trace::error("PackError", e.what()));
        } catch (const pakt::PacketError& e) {
            emit(trace::error("PacketError", e.what()));
        } catch (const standin::HostFault& e) {
            m_lastFault = e.call();
            emit(trace::error("HostFault", e.what()));
        } catch (const std::exception& e) {
            emit(trace::error("other", e.what()));
        } catch (...) {
            emit(trace::error("other", "an exception that is not a std::exception"));
        }
    }

    template <typename Count, typename List>
    void askList(const char* key, const char* listCall, Count count, List list) {
        guarded([&] {
            const uint32_t n = count();
            std::vector<uint32_t> out(std::size_t{n} + 1, kCanary);
            list(out.data());
            const bool overrun = out[n] != kCanary;
            out.pop_back();
            emit(trace::answer(key, out));
            if (overrun) {
                emit(trace::error("other", std::string(listCall) + " wrote more than the " + std::to_string(n) +
                                               " values its count gave"));
            }
        });
    }

    // The module the host holds; without one, null when the options say to
    // skip the step, else a ScenarioError.
    ISessionMod* requireModule() const {
        if (ISessionMod* mod = m_held.get()) return mod;
        if (m_pOptions->skipWithoutModule) return nullptr;
        throw ScenarioError(m_scenario.source + ": step " + std::to_string(m_pStep->index) + " (" + m_pStep->action +
                            "): the host holds no module: no getModule has returned one, or a releaseModule has "
                            "emptied the module's session registry, which destroys it");
    }

    const ModuleLibrary& m_module;
    const Scenario& m_scenario;
    const std::function<void(const Json&)>& m_onLine;
    RunResult m_result;
    const Step* m_pStep = nullptr;
    std::optional<StepChecker> m_checker;  // the current step's checks
    HeldModule m_held;
    std::vector<std::unique_ptr<standin::Session>> m_sessions;
    std::map<std::string, standin::Session*> m_byName;
    // Which calls of the packets the next steps deliver fail.
    std::map<standin::HostCall, standin::FaultMode> m_packetFaults;
    const RunOptions* m_pOptions = nullptr;
    // The host call whose fault the last guarded call let out, if any.
    std::optional<standin::HostCall> m_lastFault;
    // Faults for session names not opened yet.
    std::map<std::string, std::vector<FaultAction>> m_pendingFaults;
};

}  // namespace

RunResult runScenario(const ModuleLibrary& module, const Scenario& scenario,
                      const std::function<void(const Json&)>& onLine, const RunOptions& options) {
    Player player(module, scenario, onLine);
    return player.run(options);
}

std::string formatFailure(const Scenario& scenario, const StepFailure& failure) {
    const CheckFailure& check = failure.check;
    std::string out = "scenario \"" + scenario.name + "\", step " + std::to_string(failure.index) + " (" +
                      failure.action + "): " + check.text + "\n";
    if (check.line && !check.differences.empty()) {
        out += "    " + (check.nearest ? "the nearest line of its kind, [" + std::to_string(*check.line) + "],"
                                       : "line [" + std::to_string(*check.line) + "]") +
               " differs in:\n";
        for (const FieldDifference& difference : check.differences) {
            out += "      " + describeDifference(difference) + "\n";
        }
    } else if (check.nearest) {
        out += "    (no line of its kind)\n";
    }
    if (failure.lineCount == 0) return out + "    (the step produced no lines)\n";
    out += "    the step's lines:\n";
    for (std::size_t i = 0; i < failure.lines.size(); ++i) {
        out += "      [" + std::to_string(i) + "] " + failure.lines[i] + "\n";
    }
    if (failure.lineCount > failure.lines.size()) {
        out += "      ... and " + std::to_string(failure.lineCount - failure.lines.size()) + " more\n";
    }
    return out;
}

Json failureDifferences(const StepFailure& failure) {
    const CheckFailure& check = failure.check;
    if (!check.line || check.differences.empty()) return Json();
    Json out = Json::object();
    out["step"] = failure.index;
    out["check"] = check.label;
    out["line"] = *check.line;
    out["nearest"] = check.nearest;
    Json list = Json::array();
    for (const FieldDifference& difference : check.differences) list.push_back(differenceJson(difference));
    out["differences"] = std::move(list);
    return out;
}

}  // namespace sapphost
