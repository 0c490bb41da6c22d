#include "tools/sapp-host/scenario/Runner.h"

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

#include "host/ClientRecords.h"
#include "marshal/Errors.h"
#include "module/ISessionMod.h"
#include "standin/pktcore/StandinSession.h"
#include "standin/tarnbase/StandinDatabase.h"
#include "standin/tarnbase/StandinLog.h"
#include "tools/sapp-host/records/RecordJson.h"
#include "tools/sapp-host/scenario/Matcher.h"
#include "tools/sapp-host/scenario/Trace.h"

namespace sapphost {

namespace {

// Written past the end of a getUris/getReqTypes buffer to see whether the
// module writes more values than it counted.
constexpr uint32_t kCanary = 0xC0FFEE11;

class Player {
public:
    Player(const ModuleLibrary& module, const ScenarioHead& scenario, const std::function<void(const Json&)>& onLine,
           const NoEffectHandler& onNoEffect)
        : m_module(module), m_scenario(scenario), m_onLine(onLine), m_onNoEffect(onNoEffect) {}

    ~Player() {
        standin::setLogObserver(nullptr);
        standin::resetHostFaults();
    }

    // Plays the steps that `forEachStep` hands on, one at a time.
    template <typename ForEachStep> RunResult run(const RunOptions& options, ForEachStep&& forEachStep) {
        m_pOptions = &options;
        standin::resetLog();
        standin::removeAllDatabases();
        standin::setUnzipLimit(standin::kDefaultUnzipLimit);
        standin::resetHostFaults();
        // With an observer set, the stand-in log and sessions hand each line
        // and effect to it and keep none: the trace is the one record.
        standin::setLogObserver([this](const standin::LogRecord& record) { emit(trace::log(record)); });
        standin::setHostFaultObserver([this](standin::HostCall call) { emit(trace::fault(call)); });
        applyHost(m_scenario.host);
        forEachStep([this](const Step& step) { runStep(step); });
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
            if (mod) m_pMod = mod;
            return;
        }
        const std::string name = *open.session;
        nameSid(open.sid);
        auto session = std::make_unique<standin::Session>(open.sid);
        session->setObserver([this, name](const standin::Entry& entry) { onEntry(name, entry); });
        standin::Session* raw = session.get();
        m_sessions.push_back(std::move(session));
        m_byName[name] = raw;
        for (const FaultAction& fault : m_pendingFaults[name]) raw->setFault(fault.call, fault.mode);
        m_pendingFaults.erase(name);
        ISessionMod* mod = nullptr;
        guarded([&] { mod = m_module.getModule(raw); });
        emit(trace::answer("getModule", mod != nullptr));
        if (mod) m_pMod = mod;
    }

    void operator()(const SetSidAction& set) {
        nameSid(set.sid);
        m_byName.at(set.session)->setSid(set.sid);
    }

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
        nameSid(event.sid);
        nameSid(event.asid);
        guarded([&] { session->deliverEvent(event); });
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
    }

    void operator()(const ReleaseAction& r) { release(r.sid); }

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
        if (m_pOptions->onStep) m_pOptions->onStep(step);
        emit(trace::step(step.index, step.action, step.note));
        // The checks see the step's effects: not its step line, nor the
        // echo of what the host delivered.
        m_checker.emplace(step);
        std::visit(*this, step.what);
        if (m_onNoEffect && m_checker->lineCount() == 0 && callsModule(step)) m_onNoEffect(step, whyNoEffect(step));
        for (CheckFailure& check : m_checker->finish()) {
            m_result.failures.push_back({step.index, step.action, step.at, std::move(check), m_checker->shownLines(),
                                         m_checker->lineCount()});
        }
        m_checker.reset();
        m_pStep = nullptr;
    }

    // A host that shuts down lets go of every session id it has named to
    // the module, 0 last (a module left without sessions, after a getModule
    // that threw, is released under it): each leaves while the host holds
    // the module, and is released.
    void closeAll() {
        emit(trace::step(m_scenario.stepCount, "close"));
        nameSid(0);
        for (const uint32_t sid : m_namedSids) {
            if (sid != 0 && m_pMod) guarded([&] { m_pMod->onLeave(sid); });
            release(sid);
        }
    }

    void release(uint32_t sid) {
        guarded([&] { m_module.releaseModule(sid); });
        // The module watches exactly the sessions it holds (ISessionMod.h):
        // a release that leaves none of the host's sessions watched has
        // destroyed it.
        const auto watched = [](const auto& session) { return session->watcherCount() > 0; };
        if (std::none_of(m_sessions.begin(), m_sessions.end(), watched)) m_pMod = nullptr;
    }

    // Notes a session id the host has named to the module, for closeAll.
    void nameSid(uint32_t sid) {
        if (std::find(m_namedSids.begin(), m_namedSids.end(), sid) == m_namedSids.end()) m_namedSids.push_back(sid);
    }

    void applyHost(const HostSettings& host) {
        if (host.logSink) standin::setLogSinkAvailable(*host.logSink);
        if (host.logEnabled) standin::setLogLevelEnabled(*host.logEnabled);
        if (host.unzipLimit) standin::setUnzipLimit(*host.unzipLimit);
        for (const auto& [sid, sGroupId] : host.databases) standin::setChannelValue(sid, L"dwSGroupId", sGroupId);
    }

    // What the host knows of why a step had no effect: whether a session it
    // holds has the sid (one the module watches), and whether the URI or
    // request type is one the module asked for, when the scenario asked.
    std::string whyNoEffect(const Step& step) const {
        std::vector<std::string> reasons;
        const auto sidHeld = [this, &reasons](uint32_t sid) {
            const bool held = std::any_of(m_sessions.begin(), m_sessions.end(), [sid](const auto& session) {
                return session->getSid() == sid && session->watcherCount() > 0;
            });
            if (!held) reasons.push_back("no open session holds sid " + std::to_string(sid));
        };
        const auto askedFor = [&reasons](const std::optional<std::vector<uint32_t>>& asked, uint32_t value,
                                         const std::string& what) {
            if (asked && std::find(asked->begin(), asked->end(), value) == asked->end()) {
                reasons.push_back(what + " is not one the module asked for");
            }
        };
        if (const auto* packet = std::get_if<PacketAction>(&step.what); packet && packet->body) {
            sidHeld(packet->sid);
            askedFor(m_uris, packet->uri, "URI " + std::to_string(packet->uri) + " (" + uriName(packet->uri) + ")");
        } else if (const auto* request = std::get_if<RequestAction>(&step.what); request && !request->null) {
            sidHeld(request->sid);
            askedFor(m_reqTypes, static_cast<uint32_t>(request->type), "request type " + std::to_string(request->type));
        }
        std::string why;
        for (const std::string& reason : reasons) why += (why.empty() ? "" : "; ") + reason;
        return why;
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
            (std::string(key) == "uris" ? m_uris : m_reqTypes) = out;
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
        if (m_pMod) return m_pMod;
        if (m_pOptions->skipWithoutModule) return nullptr;
        throw ScenarioError(located(m_scenario.source, m_pStep->at) + ": step " + std::to_string(m_pStep->index) +
                            " (" + m_pStep->action +
                            "): the host holds no module: no getModule has returned one, or a releaseModule has "
                            "emptied the module's session registry, which destroys it");
    }

    const ModuleLibrary& m_module;
    const ScenarioHead& m_scenario;
    const std::function<void(const Json&)>& m_onLine;
    const NoEffectHandler& m_onNoEffect;
    RunResult m_result;
    const Step* m_pStep = nullptr;
    std::optional<StepChecker> m_checker;  // the current step's checks
    // What the host knows of the module: the pointer getModule last gave,
    // while the module lives, and every session object it opened.
    ISessionMod* m_pMod = nullptr;
    std::vector<std::unique_ptr<standin::Session>> m_sessions;
    std::map<std::string, standin::Session*> m_byName;
    // Which calls of the packets the next steps deliver fail.
    std::map<standin::HostCall, standin::FaultMode> m_packetFaults;
    const RunOptions* m_pOptions = nullptr;
    // Every session id the host has named to the module, in order, for
    // closeAll.
    std::vector<uint32_t> m_namedSids;
    // Faults for session names not opened yet.
    std::map<std::string, std::vector<FaultAction>> m_pendingFaults;
    // What the module answered when asked for its URIs and request types.
    std::optional<std::vector<uint32_t>> m_uris;
    std::optional<std::vector<uint32_t>> m_reqTypes;
};

}  // namespace

RunResult runScenario(const ModuleLibrary& module, const Scenario& scenario,
                      const std::function<void(const Json&)>& onLine, const RunOptions& options) {
    Player player(module, scenario, onLine, options.onNoEffect);
    return player.run(options, [&scenario](const auto& play) {
        for (const Step& step : scenario.steps) play(step);
    });
}

RunResult runScenario(const ModuleLibrary& module, const StreamedScenario& scenario,
                      const std::function<void(const Json&)>& onLine, const RunOptions& options) {
    Player player(module, scenario.head(), onLine, options.onNoEffect);
    return player.run(options, [&scenario](const auto& play) { scenario.forEachStep(play); });
}

uint64_t virtualNow() { return standin::clockNow(); }

std::string formatFailure(const ScenarioHead& scenario, const StepFailure& failure) {
    const CheckFailure& check = failure.check;
    std::string out = located(scenario.source, check.at) + ": scenario \"" + scenario.name + "\", step " +
                      std::to_string(failure.index) + " (" + failure.action + ")" +
                      (failure.at.known() ? " at " + located(scenario.source, failure.at) : "") + ": " + check.text +
                      "\n";
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

Json failureJson(const ScenarioHead& scenario, const StepFailure& failure) {
    const CheckFailure& check = failure.check;
    Json out = Json::object();
    out["step"] = failure.index;
    out["action"] = failure.action;
    out["check"] = check.label;
    out["at"] = locationJson(scenario.source, check.at);
    out["stepAt"] = locationJson(scenario.source, failure.at);
    out["text"] = check.text;
    out["line"] = check.line ? Json(*check.line) : Json();
    out["nearest"] = check.nearest;
    Json list = Json::array();
    for (const FieldDifference& difference : check.differences) list.push_back(differenceJson(difference));
    out["differences"] = std::move(list);
    return out;
}

}  // namespace sapphost
