#include "tools/sapp-host/Runner.h"

#include <map>
#include <memory>
#include <span>
#include <variant>

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

class Player {
public:
    Player(const ModuleLibrary& module, const Scenario& scenario, const std::function<void(const Json&)>& onLine)
        : m_module(module), m_scenario(scenario), m_onLine(onLine) {}

    ~Player() { standin::setLogObserver(nullptr); }

    RunResult run() {
        standin::resetLog();
        standin::removeAllDatabases();
        standin::setUnzipLimit(standin::kDefaultUnzipLimit);
        standin::setLogObserver([this](const standin::LogRecord& record) { emit(trace::log(record)); });
        applyHost(m_scenario.host);
        for (const Step& step : m_scenario.steps) runStep(step);
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
        auto session = std::make_unique<standin::Session>(open.sid);
        session->setObserver([this, name](const standin::Entry& entry) { onEntry(name, entry); });
        standin::Session* raw = session.get();
        m_sessions.push_back(std::move(session));
        m_byName[name] = raw;
        ISessionMod* mod = nullptr;
        guarded([&] { mod = m_module.getModule(raw); });
        emit(trace::answer("getModule", mod != nullptr));
        if (mod) {
            m_pMod = mod;
            ++m_opened;
        }
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
        guarded([&] { session->deliverEvent(event); });
    }

    void operator()(const PacketAction& p) {
        ISessionMod* mod = requireModule();
        if (!p.body) {
            guarded([&] { mod->onPacket(p.sid, nullptr); });
            return;
        }
        standin::Packet packet(p.uri, p.res, *p.body);
        guarded([&] { mod->onPacket(p.sid, &packet); });
    }

    void operator()(const RequestAction& r) {
        ISessionMod* mod = requireModule();
        if (r.null) {
            guarded([&] { mod->onRequest(r.sid, nullptr); });
            return;
        }
        AppDataRequest request;
        request.type = r.type;
        request.appId = r.appId;
        request.data = r.data;
        guarded([&] { mod->onRequest(r.sid, &request); });
    }

    void operator()(const AdvanceAction& a) {
        guarded([&] { standin::advanceClock(a.ms); });
    }

    void operator()(const LeaveAction& l) {
        ISessionMod* mod = requireModule();
        guarded([&] { mod->onLeave(l.sid); });
    }

    void operator()(const ReleaseAction& r) {
        guarded([&] { m_module.releaseModule(r.sid); });
        if (m_opened > 0) --m_opened;
        if (m_opened == 0) m_pMod = nullptr;
    }

    void operator()(const AskAction& a) {
        ISessionMod* mod = requireModule();
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

private:
    void runStep(const Step& step) {
        m_pStep = &step;
        const std::size_t start = m_result.trace.size();
        emit(trace::step(step.index, step.action));
        std::visit(*this, step.what);
        const std::span<const Json> lines(m_result.trace.begin() + static_cast<std::ptrdiff_t>(start) + 1,
                                          m_result.trace.end());
        for (std::string& check : checkStep(step, lines)) {
            m_result.failures.push_back({step.index, step.action, std::move(check), {lines.begin(), lines.end()}});
        }
    }

    void applyHost(const HostSettings& host) {
        if (host.logSink) standin::setLogSinkAvailable(*host.logSink);
        if (host.logEnabled) standin::setLogLevelEnabled(*host.logEnabled);
        if (host.unzipLimit) standin::setUnzipLimit(*host.unzipLimit);
        for (const auto& [sid, sGroupId] : host.databases) standin::setChannelValue(sid, L"dwSGroupId", sGroupId);
    }

    void emit(Json line) {
        if (m_onLine) m_onLine(line);
        m_result.trace.push_back(std::move(line));
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

    ISessionMod* requireModule() const {
        if (m_pMod) return m_pMod;
        throw ScenarioError(m_scenario.source + ": step " + std::to_string(m_pStep->index) + " (" + m_pStep->action +
                            "): the host holds no module: no getModule has returned one, or every session opened "
                            "has been released");
    }

    const ModuleLibrary& m_module;
    const Scenario& m_scenario;
    const std::function<void(const Json&)>& m_onLine;
    RunResult m_result;
    const Step* m_pStep = nullptr;
    ISessionMod* m_pMod = nullptr;
    unsigned m_opened = 0;
    std::vector<std::unique_ptr<standin::Session>> m_sessions;
    std::map<std::string, standin::Session*> m_byName;
};

}  // namespace

RunResult runScenario(const ModuleLibrary& module, const Scenario& scenario,
                      const std::function<void(const Json&)>& onLine) {
    Player player(module, scenario, onLine);
    return player.run();
}

std::string formatFailure(const Scenario& scenario, const StepFailure& failure) {
    std::string out = "scenario \"" + scenario.name + "\", step " + std::to_string(failure.index) + " (" +
                      failure.action + "): " + failure.check + "\n";
    if (failure.lines.empty()) return out + "    (the step produced no lines)\n";
    out += "    the step's lines:\n";
    for (const Json& line : failure.lines) out += "      " + dumpCompact(line) + "\n";
    return out;
}

}  // namespace sapphost
