// The scenario folder against its own trace: each scenario is played once,
// in a process of its own (run --json), and one test (one play of the
// folder, which costs most under the sanitizers and Wine) works on the
// lines it left, with no further run:
// - every trace line reads as a check's pattern of itself (Pattern.h knows
//   every key a line has);
// - no check is vacuous: a copy of each check with a value changed, a key or
//   the kind renamed, fails or is refused, and an absent check fails once a
//   line it names is there;
// - what run prints reads back: each record, request and byte string as
//   shown, given back as input, is the same input.
#include <algorithm>
#include <filesystem>
#include <set>
#include <variant>

#include <gtest/gtest.h>

#include "tools/sapp-host/cli/SappHostChild_test.h"
#include "tools/sapp-host/records/EventJson.h"
#include "tools/sapp-host/records/RecordJson.h"
#include "tools/sapp-host/scenario/Matcher.h"
#include "tools/sapp-host/scenario/Pattern.h"
#include "tools/sapp-host/scenario/Scenario.h"
#include "tools/sapp-host/scenario/Trace.h"

namespace sapphost {
namespace {

using namespace childtest;

struct PlayedStep {
    std::vector<Json> inputs;   // recv lines
    std::vector<Json> effects;  // the lines the checks see
};

struct Played {
    std::string file;
    Scenario scenario;
    std::vector<PlayedStep> steps;
};

// Every scenario of the folder and its trace, played once per test process.
const std::vector<Played>& folder() {
    static const std::vector<Played> played = [] {
        std::vector<std::string> files;
        for (const auto& entry : std::filesystem::directory_iterator(SAPP_SCENARIOS)) {
            if (entry.path().extension() == ".json") files.push_back(entry.path().generic_string());
        }
        std::sort(files.begin(), files.end());
        std::vector<Played> out;
        for (const std::string& file : files) {
            Played scenario{file, loadScenario(file), {}};
            // A failing scenario leaves its trace all the same; its checks
            // are sapp_host_scenarios' business.
            for (const Json& line : runJsonLines(sappHost({"run", "--json", file}).output)) {
                if (line.contains("step")) {
                    scenario.steps.emplace_back();
                } else if (!line.contains("summary") && !scenario.steps.empty()) {
                    (trace::isInput(line) ? scenario.steps.back().inputs : scenario.steps.back().effects)
                        .push_back(line);
                }
            }
            out.push_back(std::move(scenario));
        }
        return out;
    }();
    return played;
}

// The session names opened up to and including step `last`.
std::set<std::string> sessionsUpTo(const Scenario& scenario, std::size_t last) {
    std::set<std::string> names;
    for (std::size_t i = 0; i <= last && i < scenario.steps.size(); ++i) {
        if (const auto* open = std::get_if<OpenAction>(&scenario.steps[i].what); open && open->session) {
            names.insert(*open->session);
        }
    }
    return names;
}

// Collects what the tests report, to show the first of them.
class Findings {
public:
    void add(const std::string& finding) { m_found.push_back(finding); }
    ~Findings() {
        std::string shown;
        for (std::size_t i = 0; i < m_found.size() && i < 20; ++i) shown += m_found[i] + "\n";
        EXPECT_TRUE(m_found.empty()) << m_found.size() << " findings, the first:\n" << shown;
    }

private:
    std::vector<std::string> m_found;
};

void everyTraceLineReadsAsAPatternOfItself() {
    Findings findings;
    std::size_t lines = 0;
    for (const Played& played : folder()) {
        const std::set<std::string> sessions = sessionsUpTo(played.scenario, played.scenario.steps.size());
        for (const PlayedStep& step : played.steps) {
            for (const Json& line : step.effects) {
                ++lines;
                try {
                    const Json read = readPattern(line, {sessions}, "line");
                    if (read.dump() != line.dump()) findings.add(played.file + ": read as " + read.dump());
                } catch (const InputError& e) {
                    findings.add(played.file + ": " + line.dump() + ": " + e.what());
                }
            }
        }
    }
    EXPECT_GT(lines, 1000u);
}

// The places of the scalar values in a pattern, and of the keys of its
// objects, as JSON pointers.
void collect(const Json& value, const Json::json_pointer& at, std::vector<Json::json_pointer>& leaves,
             std::vector<Json::json_pointer>& keys) {
    if (value.is_object()) {
        for (const auto& [key, member] : value.items()) {
            keys.push_back(at / key);
            collect(member, at / key, leaves, keys);
        }
    } else if (value.is_array()) {
        for (std::size_t i = 0; i < value.size(); ++i) collect(value[i], at / i, leaves, keys);
    } else {
        leaves.push_back(at);
    }
}

// `pattern` with the key at `key` renamed, in its place.
Json renamed(const Json& pattern, const Json::json_pointer& key, const std::string& to) {
    Json out = pattern;
    const Json& parent = pattern[key.parent_pointer()];
    Json object = Json::object();
    for (const auto& [name, member] : parent.items()) object[name == key.back() ? to : name] = member;
    out[key.parent_pointer()] = std::move(object);
    return out;
}

// Other values of the type of `value`.
std::vector<Json> otherValues(const Json& value) {
    if (value.is_boolean()) return {!value.get<bool>()};
    if (value.is_number_unsigned()) {
        const auto v = value.get<uint64_t>();
        return {v + 1, v + 2, v + 3, v > 0 ? v - 1 : v + 4};
    }
    if (value.is_number_integer()) {
        const auto v = value.get<int64_t>();
        return {v + 1, v + 2, v + 3, v - 1};
    }
    if (value.is_string()) return {value.get<std::string>() + "~"};
    return {"~"};
}

// `pattern` laid over `line`: its members replace the line's, objects
// member by member.
void layOver(Json& line, const Json& pattern) {
    for (const auto& [key, value] : pattern.items()) {
        if (value.is_object() && line.contains(key) && line[key].is_object()) {
            layOver(line[key], value);
        } else {
            line[key] = value;
        }
    }
}

// Whether step `step`, with check `label` (expect or absent) `i` replaced
// by `raw` read as a pattern, fails on `lines` or is refused.
bool failsOrRefuses(const Played& played, std::size_t index, bool absent, std::size_t i, const Json& raw,
                    const std::vector<Json>& lines) {
    Step step = played.scenario.steps[index];
    const std::set<std::string> sessions = sessionsUpTo(played.scenario, index);
    try {
        (absent ? step.absent : step.expect)[i] = readPattern(raw, {sessions}, "mutated");
    } catch (const InputError&) {
        return true;
    }
    return !checkStep(step, lines).empty();
}

// A line of the kind `pattern` names from anywhere in the folder's trace,
// with the pattern's values laid over it; none when no line has the kind.
std::optional<Json> lineOf(const Json& pattern) {
    const std::string& kind = pattern.begin().key();
    for (const Played& played : folder()) {
        for (const PlayedStep& step : played.steps) {
            for (const Json& line : step.effects) {
                if (!line.contains(kind)) continue;
                Json present = line;
                layOver(present, pattern);
                return present;
            }
        }
    }
    return std::nullopt;
}

void noCheckIsVacuous() {
    Findings findings;
    std::size_t mutations = 0;
    for (const Played& played : folder()) {
        for (std::size_t index = 0; index < played.scenario.steps.size(); ++index) {
            const Step& step = played.scenario.steps[index];
            const std::vector<Json>& lines = played.steps.at(index).effects;
            const std::string where = played.file + ": step " + std::to_string(index) + " ";
            for (const bool absent : {false, true}) {
                const std::vector<Json>& patterns = absent ? step.absent : step.expect;
                for (std::size_t i = 0; i < patterns.size(); ++i) {
                    const Json& pattern = patterns[i];
                    const std::string check = where + (absent ? "absent[" : "expect[") + std::to_string(i) + "]";
                    const auto mutant = [&](const Json& raw, const std::string& what) {
                        ++mutations;
                        if (!failsOrRefuses(played, index, absent, i, raw, lines)) {
                            findings.add(check + " passes with " + what + ": " + raw.dump());
                        }
                    };
                    std::vector<Json::json_pointer> leaves;
                    std::vector<Json::json_pointer> keys;
                    collect(pattern, Json::json_pointer(), leaves, keys);
                    // Every key and the kind, renamed.
                    for (const Json::json_pointer& key : keys) {
                        mutant(renamed(pattern, key, key.back() + "~"), key.to_string() + " renamed");
                    }
                    if (absent) {
                        // A line it names, there among the step's lines.
                        const std::optional<Json> present = lineOf(pattern);
                        if (!present) {
                            findings.add(check + ": no line of the folder's trace is of its kind");
                            continue;
                        }
                        std::vector<Json> more = lines;
                        more.push_back(*present);
                        ++mutations;
                        if (checkStep(step, more).empty()) findings.add(check + " passes with " + present->dump());
                        continue;
                    }
                    // Every value changed: some other value must fail it.
                    for (const Json::json_pointer& leaf : leaves) {
                        bool caught = false;
                        for (const Json& other : otherValues(pattern[leaf])) {
                            Json raw = pattern;
                            raw[leaf] = other;
                            ++mutations;
                            if (failsOrRefuses(played, index, false, i, raw, lines)) {
                                caught = true;
                                break;
                            }
                        }
                        if (!caught) findings.add(check + " passes whatever " + leaf.to_string() + " is");
                    }
                }
            }
        }
    }
    EXPECT_GT(mutations, 1000u);
}

// A record's fields as run shows them, given back as input: the same
// record. `shown` must also be what the readable line holds.
void recordReadsBack(Findings& findings, const std::string& where, const Json& line, const Json& record,
                     const std::string& shown) {
    if (trace::render(line).find(shown) == std::string::npos) {
        findings.add(where + ": the readable line does not show " + shown);
        return;
    }
    try {
        const Json fields = Json::parse(shown);
        const std::string name = record["record"].get<std::string>();
        if (encodeRecord(name, fields, "shown") != encodeRecord(name, record["fields"], "json")) {
            findings.add(where + ": " + shown + " encodes to other bytes than " + record["fields"].dump());
        }
    } catch (const std::exception& e) {
        findings.add(where + ": " + shown + ": " + e.what());
    }
}

void whatRunPrintsReadsBack() {
    Findings findings;
    std::size_t read = 0;
    for (const Played& played : folder()) {
        for (std::size_t index = 0; index < played.steps.size(); ++index) {
            const std::string where = played.file + ": step " + std::to_string(index);
            for (const Json& line : played.steps[index].inputs) {
                const Json& recv = line["recv"];
                if (const auto packet = recv.find("packet"); packet != recv.end() && packet->is_object()) {
                    // The packet given back to a scenario as shown: its URI
                    // as number|service, its body as fields or bytes.
                    const uint32_t uri = (*packet)["uri"];
                    Json input = {{"sid", recv["sid"]}, {"uri", uriName(uri)}, {"res", (*packet)["res"]}};
                    // The bytes it must give: the record's as its JSON
                    // fields encode (canonical ones), or the body's.
                    std::string bytes = fromHex((*packet)["hex"].get<std::string>());
                    if (packet->contains("fields")) {
                        const std::string shown = writeDisplay(displayHexStrings((*packet)["fields"]));
                        recordReadsBack(findings, where, line, *packet, shown);
                        input["record"] = Json::parse(shown);
                        bytes = encodeRecord((*packet)["record"].get<std::string>(), (*packet)["fields"], "json");
                    } else {
                        const std::string shown = writeDisplay(displayHexStrings((*packet)["hex"]));
                        input["hex"] = shown.starts_with("\"") ? Json::parse(shown) : Json(shown);
                    }
                    ++read;
                    const Json steps = Json::array({Json{{"packet", input}}});
                    const Scenario back = parseScenario(Json{{"steps", steps}}.dump(), "back");
                    const PacketAction& action = std::get<PacketAction>(back.steps[0].what);
                    if (action.uri != uri || action.res != (*packet)["res"] || action.body != bytes) {
                        findings.add(where + ": " + input.dump() + " reads as another packet");
                    }
                } else if (const auto request = recv.find("request"); request != recv.end() && request->is_object()) {
                    const Json shown = Json::parse(writeDisplay(displayHexStrings((*request)["fields"])));
                    const Json input = {{"sid", recv["sid"]}, {"type", (*request)["type"]},
                                        {"appId", shown["appId"]}, {"data", shown["data"]}};
                    ++read;
                    const Json steps = Json::array({Json{{"request", input}}});
                    const Scenario back = parseScenario(Json{{"steps", steps}}.dump(), "back");
                    if (toHex(std::get<RequestAction>(back.steps[0].what).data) != (*request)["fields"]["data"]) {
                        findings.add(where + ": " + input.dump() + " reads as other bytes");
                    }
                }
            }
            const std::set<std::string> sessions = sessionsUpTo(played.scenario, index);
            for (const Json& line : played.steps[index].effects) {
                if (const auto send = line.find("send"); send != line.end() && send->contains("fields")) {
                    ++read;
                    recordReadsBack(findings, where, line, *send, writeDisplay(displayHexStrings((*send)["fields"])));
                } else if (const auto event = line.find("event"); event != line.end()) {
                    // An event's fields as shown, read by a check.
                    ++read;
                    const uint32_t type = (*event)["type"];
                    const std::string shown = writeDisplay(displayEventFields(type, (*event)["fields"]));
                    const Json pattern = {{"event", {{"type", type}, {"fields", Json::parse(shown)}}}};
                    if (readPattern(pattern, {sessions}, "shown")["event"]["fields"] != (*event)["fields"]) {
                        findings.add(where + ": the event's fields as shown read back otherwise: " + shown);
                    }
                }
            }
        }
    }
    EXPECT_GT(read, 200u);
}

TEST(ScenarioFolderTest, ChecksAndTraceAgree) {
    for (const Played& played : folder()) {
        ASSERT_EQ(played.steps.size(), played.scenario.steps.size()) << played.file;
    }
    {
        SCOPED_TRACE("every trace line reads as a pattern of itself");
        everyTraceLineReadsAsAPatternOfItself();
    }
    {
        SCOPED_TRACE("no check is vacuous");
        noCheckIsVacuous();
    }
    {
        SCOPED_TRACE("what run prints reads back");
        whatRunPrintsReadsBack();
    }
}

}  // namespace
}  // namespace sapphost
