#include "tools/sapp-host/scenario/Scenario.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <fstream>
#include <set>

#include "marshal/Errors.h"
#include "tools/sapp-host/records/RecordJson.h"
#include "tools/sapp-host/scenario/Pattern.h"

namespace sapphost {

namespace {

// The longest single advance: bounds the number of task runs one step makes.
constexpr uint64_t kMaxAdvanceMs = 3'600'000;

const char* const kActions[] = {"open",  "set_sid", "event", "packet", "request", "advance",
                                "leave", "release", "ask",   "db",     "host",    "fault"};

uint32_t u32(const Json& object, const char* key, const std::string& where) {
    if (!object.contains(key)) throw InputError(where + ": \"" + key + "\" is required");
    return toUnsigned<uint32_t>(object[key], where + "." + key);
}

template <typename T> T optionalUnsigned(const Json& object, const char* key, T fallback, const std::string& where) {
    return object.contains(key) ? toUnsigned<T>(object[key], where + "." + key) : fallback;
}

std::string optionalBytes(const Json& object, const char* key, const std::string& where) {
    return object.contains(key) ? toBytes(object[key], where + "." + key) : std::string();
}

HostSettings parseHost(const Json& in, const std::string& where) {
    requireObject(in, where);
    rejectUnknownKeys(in, {"log_sink", "log_enabled", "databases", "unzip_limit"}, where);
    HostSettings host;
    if (in.contains("unzip_limit")) host.unzipLimit = toUnsigned<uint32_t>(in["unzip_limit"], where + ".unzip_limit");
    if (in.contains("log_sink")) host.logSink = toBool(in["log_sink"], where + ".log_sink");
    if (in.contains("log_enabled")) host.logEnabled = toBool(in["log_enabled"], where + ".log_enabled");
    if (in.contains("databases")) {
        const std::string at = where + ".databases";
        for (const auto& [key, value] : requireObject(in["databases"], at).items()) {
            const std::string entry = at + "." + key;
            const uint32_t sid = parseDecimalU32(key, at);
            requireObject(value, entry);
            rejectUnknownKeys(value, {"dwSGroupId"}, entry);
            host.databases[sid] = u32(value, "dwSGroupId", entry);
        }
    }
    return host;
}

class StepParser {
public:
    explicit StepParser(std::set<std::string>& sessions) : m_sessions(sessions) {}

    // The session names opened so far.
    const std::set<std::string>& sessions() const { return m_sessions; }

    Action parse(const std::string& action, const Json& in, const std::string& where) {
        if (action == "open") return open(in, where);
        if (action == "set_sid") return setSid(in, where);
        if (action == "event") return event(in, where);
        if (action == "packet") return packet(in, where);
        if (action == "request") return request(in, where);
        if (action == "advance") {
            const auto ms = toUnsigned<uint64_t>(in, where);
            if (ms > kMaxAdvanceMs) {
                throw InputError(where + ": at most " + std::to_string(kMaxAdvanceMs) + " ms per step");
            }
            return AdvanceAction{ms};
        }
        if (action == "leave") return LeaveAction{toUnsigned<uint32_t>(in, where)};
        if (action == "release") return ReleaseAction{toUnsigned<uint32_t>(in, where)};
        if (action == "ask") {
            const std::string& what = toString(in, where);
            if (what != "uris" && what != "reqtypes" && what != "modflag") {
                throw InputError(where + ": expected \"uris\", \"reqtypes\" or \"modflag\"");
            }
            return AskAction{what};
        }
        if (action == "db") return db(in, where);
        if (action == "fault") return fault(in, where);
        return HostAction{parseHost(in, where)};
    }

private:
    const std::string& knownSession(const Json& in, const std::string& where) {
        if (!in.contains("session")) throw InputError(where + ": \"session\" is required");
        const std::string& name = toString(in["session"], where + ".session");
        if (!m_sessions.count(name)) {
            throw InputError(where + ".session: no session \"" + name + "\" was opened in an earlier step");
        }
        return name;
    }

    Action open(const Json& in, const std::string& where) {
        requireObject(in, where);
        rejectUnknownKeys(in, {"session", "sid"}, where);
        if (!in.contains("session")) throw InputError(where + ": \"session\" is required (a name, or null)");
        OpenAction open;
        if (in["session"].is_null()) {
            if (in.contains("sid")) throw InputError(where + ": a null session has no sid");
            return open;
        }
        const std::string& name = toString(in["session"], where + ".session");
        if (name.empty()) throw InputError(where + ".session: the name must not be empty");
        open.session = name;
        open.sid = u32(in, "sid", where);
        m_sessions.insert(name);
        return open;
    }

    Action setSid(const Json& in, const std::string& where) {
        requireObject(in, where);
        rejectUnknownKeys(in, {"session", "sid"}, where);
        return SetSidAction{knownSession(in, where), u32(in, "sid", where)};
    }

    Action event(const Json& in, const std::string& where) {
        requireObject(in, where);
        rejectUnknownKeys(in, {"session", "type", "sid", "asid", "pid", "uid", "udb", "cookie"}, where);
        EventAction event;
        event.session = knownSession(in, where);
        if (!in.contains("type")) throw InputError(where + ": \"type\" is required");
        event.type = toInt32(in["type"], where + ".type");
        event.sid = optionalUnsigned<uint32_t>(in, "sid", 0, where);
        event.asid = optionalUnsigned<uint32_t>(in, "asid", 0, where);
        event.pid = optionalUnsigned<uint32_t>(in, "pid", 0, where);
        event.uid = optionalUnsigned<uint64_t>(in, "uid", 0, where);
        event.udb = optionalBytes(in, "udb", where);
        event.cookie = optionalBytes(in, "cookie", where);
        return event;
    }

    Action packet(const Json& in, const std::string& where) {
        requireObject(in, where);
        rejectUnknownKeys(in, {"sid", "uri", "res", "hex", "record", "null"}, where);
        PacketAction packet;
        packet.sid = u32(in, "sid", where);
        const int bodies = int(in.contains("hex")) + int(in.contains("record")) + int(in.contains("null"));
        if (bodies != 1) throw InputError(where + ": give exactly one of \"hex\", \"record\" or \"null\": true");
        if (in.contains("null")) {
            if (!toBool(in["null"], where + ".null")) throw InputError(where + ".null: only true is meaningful");
            rejectUnknownKeys(in, {"sid", "null"}, where + " (null packet)");
            return packet;
        }
        if (!in.contains("uri")) throw InputError(where + ": \"uri\" is required");
        packet.uri = uriOf(in["uri"], where + ".uri");
        packet.res = optionalUnsigned<uint32_t>(in, "res", 200, where);
        if (in.contains("hex")) {
            packet.body = toBytes(in["hex"], where + ".hex");
        } else {
            const std::string_view record = recordNameForUri(packet.uri);
            if (record.empty()) {
                throw InputError(where + ": URI " + std::to_string(packet.uri) +
                                 " carries no record; give its body as \"hex\"");
            }
            packet.body = encodeRecord(record, in["record"], where + ".record");
        }
        return packet;
    }

    Action request(const Json& in, const std::string& where) {
        requireObject(in, where);
        rejectUnknownKeys(in, {"sid", "type", "appId", "data", "null"}, where);
        RequestAction request;
        request.sid = u32(in, "sid", where);
        if (in.contains("null")) {
            request.null = toBool(in["null"], where + ".null");
            if (!request.null) throw InputError(where + ".null: only true is meaningful");
            rejectUnknownKeys(in, {"sid", "null"}, where + " (null request)");
            return request;
        }
        if (in.contains("type")) request.type = toInt32(in["type"], where + ".type");
        request.appId = optionalUnsigned<uint32_t>(in, "appId", 0, where);
        request.data = optionalBytes(in, "data", where);
        return request;
    }

    Action db(const Json& in, const std::string& where) {
        requireObject(in, where);
        rejectUnknownKeys(in, {"sid", "dwSGroupId", "remove", "query_throws"}, where);
        DbAction db;
        db.sid = u32(in, "sid", where);
        const int given =
            int(in.contains("dwSGroupId")) + int(in.contains("remove")) + int(in.contains("query_throws"));
        if (given != 1) throw InputError(where + ": give one of dwSGroupId, remove and query_throws");
        if (in.contains("remove")) {
            db.remove = toBool(in["remove"], where + ".remove");
            if (!db.remove) throw InputError(where + ".remove: only true is meaningful");
        } else if (in.contains("query_throws")) {
            db.queryThrows = toBool(in["query_throws"], where + ".query_throws");
        } else {
            db.sGroupId = u32(in, "dwSGroupId", where);
        }
        return db;
    }

    Action fault(const Json& in, const std::string& where) {
        requireObject(in, where);
        rejectUnknownKeys(in, {"session", "call", "mode"}, where);
        FaultAction fault;
        if (!in.contains("call")) throw InputError(where + ": \"call\" is required");
        const std::string& call = toString(in["call"], where + ".call");
        if (!standin::hostCallNamed(call, fault.call)) {
            throw InputError(where + ".call: expected the name of a host call (sendRequest, LogExport::write, ...: "
                                     "docs/sapp-host-formats.md lists them); got \"" + call + "\"");
        }
        switch (standin::hostCallOwner(fault.call)) {
        case standin::CallOwner::Session:
            // A session not opened yet gets the fault when it is (that is
            // how getModule's addWatcher fails).
            if (!in.contains("session")) throw InputError(where + ": \"session\" is required for " + call);
            fault.session = toString(in["session"], where + ".session");
            break;
        case standin::CallOwner::Packet:
            if (in.contains("session")) throw InputError(where + ": " + call + " is the packets', not a session's");
            break;
        case standin::CallOwner::Process:
            if (in.contains("session")) throw InputError(where + ": " + call + " is the process's, not a session's");
            break;
        }
        if (in.contains("mode")) {
            const std::string& mode = toString(in["mode"], where + ".mode");
            if (mode == "once") {
                fault.mode = standin::FaultMode::Once;
            } else if (mode == "always") {
                fault.mode = standin::FaultMode::Always;
            } else if (mode == "off") {
                fault.mode = standin::FaultMode::Off;
            } else {
                throw InputError(where + ".mode: expected \"once\", \"always\" or \"off\"");
            }
        }
        return fault;
    }

    std::set<std::string>& m_sessions;
};

// Bad input in a step, with where in the text it is: the check or the
// action it was found in, or the step.
class LocatedError : public InputError {
public:
    LocatedError(const std::string& what, TextPosition position) : InputError(what), m_position(position) {}
    TextPosition position() const { return m_position; }

private:
    TextPosition m_position;
};

// Runs `parse`, giving what it finds wrong the position `position`.
template <typename F> void locatedAt(TextPosition position, const std::string& where, F&& parse) {
    try {
        parse();
    } catch (const LocatedError&) {
        throw;
    } catch (const InputError& e) {
        throw LocatedError(e.what(), position);
    } catch (const Json::exception& e) {
        // Whatever the JSON library refuses on the way is this step's error.
        throw LocatedError(where + ": " + e.what(), position);
    }
}

// The checks under `key` of a step, each read against what lines can hold
// (Pattern.h), with its position.
std::vector<Json> parseChecks(const Json& in, const std::string& key, const std::string& where,
                              const SourceMap& places, const PatternContext& context,
                              std::vector<TextPosition>& positions) {
    if (!in.is_array()) throw InputError(where + ": expected an array of objects, got " + describeType(in));
    std::vector<Json> checks;
    for (std::size_t i = 0; i < in.size(); ++i) {
        positions.push_back(places.at({key, i}));
        locatedAt(positions.back(), where, [&] {
            checks.push_back(readPattern(in[i], context, where + "[" + std::to_string(i) + "]"));
        });
    }
    return checks;
}

Step parseStep(const Json& in, std::size_t index, const SourceMap& places, StepParser& parser) {
    Step step;
    step.index = index;
    step.at = places.at({});
    const std::string where = "step " + std::to_string(index);
    locatedAt(step.at, where, [&] {
        requireObject(in, where);
        for (const auto& [key, value] : in.items()) {
            if (key == "expect" || key == "absent" || key == "exact" || key == "note") continue;
            if (std::find(std::begin(kActions), std::end(kActions), key) == std::end(kActions)) {
                std::vector<std::string_view> keys(std::begin(kActions), std::end(kActions));
                keys.insert(keys.end(), {"expect", "absent", "exact", "note"});
                throw LocatedError(where + ": unknown key \"" + key + "\" (" + didYouMeanName(key, keys) +
                                       "actions: open, set_sid, event, packet, request, advance, leave, release, "
                                       "ask, db, host, fault; checks: expect, absent, exact; note)",
                                   places.at({key}));
            }
            if (!step.action.empty()) {
                throw LocatedError(where + ": two actions, \"" + step.action + "\" and \"" + key + "\"",
                                   places.at({key}));
            }
            step.action = key;
        }
        if (step.action.empty()) throw InputError(where + ": no action");
    });

    const std::string& action = step.action;
    const std::string at = where + " (" + action + ")";
    locatedAt(places.at({action}), at, [&] { step.what = parser.parse(action, in[action], at); });
    const PatternContext context{parser.sessions()};
    locatedAt(places.at({"expect"}), at, [&] {
        if (!in.contains("expect")) return;
        step.expect = parseChecks(in["expect"], "expect", at + ".expect", places, context, step.expectAt);
    });
    locatedAt(places.at({"absent"}), at, [&] {
        if (!in.contains("absent")) return;
        step.absent = parseChecks(in["absent"], "absent", at + ".absent", places, context, step.absentAt);
    });
    step.exactAt = places.at({"exact"});
    locatedAt(step.exactAt, at, [&] {
        if (in.contains("exact")) step.exact = toBool(in["exact"], at + ".exact");
    });
    locatedAt(places.at({"note"}), at, [&] {
        if (in.contains("note")) step.note = toString(in["note"], at + ".note");
    });
    return step;
}

}  // namespace

namespace {

// Where in the scenario a JSON path leads, in the words of the other
// messages: "step 3 (packet).record" for steps[3].packet.record.
std::string describePath(const JsonPath& path) {
    if (path.empty()) return "the scenario";
    const auto* top = std::get_if<std::string>(&path[0]);
    if (!top || *top != "steps" || path.size() < 2) return formatPath(path);
    std::string out = "step " + std::to_string(std::get<std::size_t>(path[1]));
    JsonPath rest(path.begin() + 2, path.end());
    if (const auto* key = rest.empty() ? nullptr : std::get_if<std::string>(&rest[0]);
        key && std::find(std::begin(kActions), std::end(kActions), *key) != std::end(kActions)) {
        out += " (" + *key + ")";
        rest.erase(rest.begin());
    }
    const std::string inner = formatPath(rest);
    return out + (inner.empty() || inner[0] == '[' ? "" : ".") + inner;
}

}  // namespace

namespace {

// What onStep threw, carried past the parser's error handling below, so
// that a fault of whoever plays the step is not reported as the scenario's.
struct ThrownByStep {
    std::exception_ptr thrown;
};

// Reads scenario text, handing each step to `onStep` as soon as it is read
// and checked; keeps none of them. Gives back the head.
ScenarioHead readScenario(std::string_view text, const std::string& source,
                          const std::function<void(Step&)>& onStep) {
    ScenarioHead head;
    head.source = source;
    try {
        // The steps are read one at a time as the text is parsed, so a long
        // scenario never stands in memory as one JSON value.
        std::set<std::string> sessions;
        StepParser parser(sessions);
        const Json root =
            parseJsonText(text, "steps", [&](std::size_t index, const Json& in, const SourceMap& places) {
                Step step = parseStep(in, index, places, parser);
                ++head.stepCount;
                try {
                    onStep(step);
                } catch (...) {
                    throw ThrownByStep{std::current_exception()};
                }
            });
        requireObject(root, "the scenario");
        rejectUnknownKeys(root, {"name", "description", "host", "steps"}, "the scenario");
        head.name = root.contains("name") ? toString(root["name"], "name") : source;
        if (root.contains("description")) toString(root["description"], "description");
        if (root.contains("host")) head.host = parseHost(root["host"], "host");
        if (!root.contains("steps")) throw InputError("\"steps\" is required");
        if (!root["steps"].is_array()) throw InputError("steps: expected an array, got " + describeType(root["steps"]));
        return head;
    } catch (const ThrownByStep& step) {
        std::rethrow_exception(step.thrown);
    } catch (const JsonTextError& e) {
        // Syntax errors, and numbers that do not fit any JSON number type
        // (1e400), have no path: file:line:column and the reason.
        if (e.path().empty() && e.reason().starts_with("not valid JSON")) {
            throw ScenarioError(located(source, e.position()) + ": " + e.reason());
        }
        throw ScenarioError(located(source, e.position()) + ": " + describePath(e.path()) + ": " + e.reason());
    } catch (const LocatedError& e) {
        throw ScenarioError(located(source, e.position()) + ": " + e.what());
    } catch (const InputError& e) {
        throw ScenarioError(source + ": " + e.what());
    } catch (const pakt::PacketError& e) {
        throw ScenarioError(source + ": " + e.what());
    } catch (const Json::exception& e) {
        throw ScenarioError(source + ": " + e.what());
    }
}

}  // namespace

Scenario parseScenario(const std::string& text, const std::string& source) {
    Scenario scenario;
    static_cast<ScenarioHead&>(scenario) =
        readScenario(text, source, [&scenario](Step& step) { scenario.steps.push_back(std::move(step)); });
    return scenario;
}

StreamedScenario::StreamedScenario(std::string text, const std::string& source)
    : m_text(std::move(text)), m_head(readScenario(m_text, source, [](Step&) {})) {}

void StreamedScenario::forEachStep(const std::function<void(const Step&)>& onStep) const {
    readScenario(m_text, m_head.source, [&onStep](Step& step) { onStep(step); });
}

bool callsModule(const Step& step) {
    return !std::holds_alternative<SetSidAction>(step.what) && !std::holds_alternative<DbAction>(step.what) &&
           !std::holds_alternative<HostAction>(step.what) && !std::holds_alternative<FaultAction>(step.what);
}

std::string readScenarioText(const std::string& path) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) throw ScenarioError(path + ": a folder, not a scenario file");
    std::ifstream in(path, std::ios::binary);
    if (!in) throw ScenarioError(path + ": cannot open the file");
    // Read into one string of the file's size: a string stream's buffer
    // and its copy would hold the text twice.
    std::string text;
    const auto size = std::filesystem::file_size(path, ec);
    if (!ec) text.reserve(static_cast<std::size_t>(size));
    char chunk[64 * 1024];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) text.append(chunk, static_cast<std::size_t>(in.gcount()));
    if (in.bad()) throw ScenarioError(path + ": cannot read the file");
    return text;
}

Scenario loadScenario(const std::string& path) { return parseScenario(readScenarioText(path), path); }

StreamedScenario streamScenario(const std::string& path) { return StreamedScenario(readScenarioText(path), path); }

}  // namespace sapphost
