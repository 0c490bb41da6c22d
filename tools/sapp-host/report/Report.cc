#include "tools/sapp-host/report/Report.h"

#include <cctype>
#include <ctime>
#include <filesystem>
#include <map>
#include <set>
#include <variant>

#include "host/SessionEvent.h"
#include "marshal/Errors.h"
#include "tools/sapp-host/report/Diagram.h"
#include "tools/sapp-host/records/FieldSpans.h"
#include "tools/sapp-host/scenario/Matcher.h"
#include "tools/sapp-host/records/RecordJson.h"
#include "tools/sapp-host/scenario/Trace.h"

namespace sapphost {

// The page template with its style sheet and script in place, generated from
// tools/sapp-host/report/ at build time (EmbedReportPage.cmake).
// UTF-8 text, ended by a zero byte.
extern const unsigned char kReportPage[];

namespace {

const char* const kRowTypes[] = {"call", "reply", "note"};

// A line's text is its summary; its record's tree and bytes hold the rest.
// Cut at a UTF-8 character's start.
std::string shortened(std::string text) {
    constexpr std::size_t kLongest = 1000;
    if (text.size() <= kLongest) return text;
    std::size_t cut = kLongest;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    const std::size_t more = text.size() - cut;
    text.resize(cut);
    return text + " ... (" + std::to_string(more) + " more characters)";
}

Json spanJson(const FieldSpan& span) { return {{"path", span.path}, {"begin", span.begin}, {"end", span.end}}; }

Json spansJson(const std::vector<FieldSpan>& spans) {
    Json out = Json::array();
    for (const FieldSpan& span : spans) out.push_back(spanJson(span));
    return out;
}

// Whether `fields` encode as record `name` to exactly `bytes`: then a step
// may give the record by its fields and deliver the same bytes.
bool encodesTo(const std::string& name, const Json& fields, const std::string& bytes) {
    try {
        return encodeRecord(name, fields, "the fields") == bytes;
    } catch (const std::exception&) {
        return false;
    }
}

// The spans of a record's fields and its nested payloads. The record's bytes
// and fields are those of the trace line, not repeated here. A payload that
// is not zipped is a run of the record's own bytes: its fields' spans join
// the record's, named through the payload's field ("data.appData") and put
// before that field's own span, and it is listed with its range. A zipped
// payload comes with its inflated bytes and spans of its own. Bytes that do
// not decode have no spans; the trace line says why.
Json recordJson(const Json& line, Direction direction) {
    Json out = {{"name", line["record"]}, {"canonical", false}, {"spans", Json::array()}, {"payloads", Json::array()}};
    if (line.contains("decodeError")) out["error"] = line["decodeError"];
    if (!line["record"].is_string()) return out;
    const std::string name = line["record"];
    const std::string bytes = fromHex(line["hex"].get<std::string>());
    std::vector<FieldSpan> spans;
    try {
        spans = fieldSpans(name, bytes, direction);
    } catch (const pakt::UnpackError&) {
        return out;  // bytes that run short have no spans; the line's decodeError says where
    }
    out["canonical"] = !line.contains("trailing") && line.contains("fields") && encodesTo(name, line["fields"], bytes);
    std::map<std::string, std::vector<FieldSpan>> inlined;  // by payload field
    for (const NestedPayload& payload : nestedPayloads(name, bytes, direction)) {
        Json nested = {{"path", payload.field}, {"name", payload.record}, {"zipped", payload.zipped}};
        std::vector<FieldSpan> own = fieldSpans(payload.record, payload.bytes, direction);
        if (payload.zipped) {
            nested["hex"] = toHex(payload.bytes);
            nested["spans"] = spansJson(own);
        } else {
            // A byte string ends its field's span, after its length.
            for (const FieldSpan& field : spans) {
                if (field.path != payload.field) continue;
                const std::size_t begin = field.end - payload.bytes.size();
                nested["begin"] = begin;
                nested["end"] = field.end;
                for (FieldSpan& span : own) span = {payload.field + "." + span.path, begin + span.begin, begin + span.end};
                inlined[payload.field] = std::move(own);
            }
        }
        out["payloads"].push_back(std::move(nested));
    }
    for (const FieldSpan& span : spans) {
        if (const auto it = inlined.find(span.path); it != inlined.end()) {
            for (const FieldSpan& inner : it->second) out["spans"].push_back(spanJson(inner));
        }
        out["spans"].push_back(spanJson(span));
    }
    return out;
}

// The path of a difference below a record's fields ("proxyIds[1]",
// "data.appData", "apps.7.appId") as object keys and array indexes.
std::vector<std::variant<std::string, std::size_t>> pathSteps(const std::string& path) {
    std::vector<std::variant<std::string, std::size_t>> steps;
    std::size_t at = 0;
    while (at < path.size()) {
        if (path[at] == '[') {
            const std::size_t close = path.find(']', at);
            steps.emplace_back(static_cast<std::size_t>(std::stoul(path.substr(at + 1, close - at - 1))));
            at = close + 1;
        } else {
            if (path[at] == '.') ++at;
            const std::size_t stop = path.find_first_of(".[", at);
            steps.emplace_back(path.substr(at, stop - at));
            at = stop == std::string::npos ? path.size() : stop;
        }
    }
    return steps;
}

// Where a step stands in its scenario file, {"line", "column"}, for a link
// from the page to it; null when the scenario has no text to point into
// (the built-in session), and the page shows no link.
Json sourceJson(const Step& step) {
    if (!step.at.known()) return nullptr;
    return {{"line", step.at.line}, {"column", step.at.column}};
}

// `path` relative to the folder of the page at `page`, with forward
// slashes: how the page names what lies beside it, so that it can be moved
// with them. Empty when there is no such path (another drive on Windows).
std::filesystem::path relativeToPage(const std::string& path, const std::string& page) {
    if (page.empty()) return {};
    std::error_code ec;
    const std::filesystem::path folder = std::filesystem::absolute(page, ec).parent_path();
    if (ec) return {};
    const std::filesystem::path relative = std::filesystem::relative(std::filesystem::absolute(path, ec), folder, ec);
    return ec ? std::filesystem::path() : relative;
}

// The relative URL of a scenario file from the page, for links to it; empty
// when there is none. The name comes in the system's narrow encoding (the
// ANSI code page on Windows) and the URL escapes its UTF-8 bytes, as
// browsers expect; a colon too, which would read as a scheme.
std::string relativeUrl(const std::string& file, const std::string& page) {
    const std::filesystem::path path = relativeToPage(file, page);
    if (path.empty()) return "";
    const std::u8string utf8 = path.generic_u8string();
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (const char8_t c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || std::string_view("/-._~").find(static_cast<char>(c)) != std::string_view::npos) {
            out += static_cast<char>(c);
        } else {
            out += {'%', kDigits[byte >> 4], kDigits[byte & 15]};
        }
    }
    return out;
}

Json rowJson(const DiagramRow& row, std::optional<std::size_t> line) {
    return {{"from", row.from},
            {"to", row.to},
            {"type", kRowTypes[static_cast<int>(row.type)]},
            {"text", row.text},
            {"line", line ? Json(*line) : Json()}};
}

// The checks of `step` with their outcome on the step's effect lines.
Json checksJson(const Step& step, const std::vector<Json>& effects) {
    std::map<std::string, CheckFailure> failed;
    for (CheckFailure& failure : checkStep(step, effects)) failed.emplace(failure.label, std::move(failure));
    Json out = Json::array();
    const auto add = [&](const std::string& label, Json pattern) {
        Json check = {{"label", label}, {"pattern", std::move(pattern)}, {"passed", true}, {"text", ""},
                      {"line", nullptr}, {"nearest", false}, {"differences", Json::array()}};
        if (const auto it = failed.find(label); it != failed.end()) {
            const CheckFailure& failure = it->second;
            check["passed"] = false;
            check["text"] = failure.text;
            if (failure.line) check["line"] = *failure.line;
            check["nearest"] = failure.nearest;
            for (const FieldDifference& difference : failure.differences) {
                check["differences"].push_back(differenceJson(difference));
            }
            if (failure.line && *failure.line < effects.size() && !failure.differences.empty()) {
                if (Json expected = expectedRecord(effects[*failure.line], failure.differences); !expected.is_null()) {
                    check["expected"] = std::move(expected);
                }
            }
        }
        out.push_back(std::move(check));
    };
    if (step.exact) {
        add("exact", Json(step.expect));
    } else {
        for (std::size_t i = 0; i < step.expect.size(); ++i) add("expect[" + std::to_string(i) + "]", step.expect[i]);
    }
    for (std::size_t i = 0; i < step.absent.size(); ++i) add("absent[" + std::to_string(i) + "]", step.absent[i]);
    return out;
}

// Follows which session object a sid stands for as the scenario opens
// sessions, changes what their getSid answers and moves them to new ids, so
// that the lines that name only a sid (recv) can be filtered by session, and
// the sid of each session object, which a packet sent back to it would name.
class SessionNames {
public:
    void apply(const Step& step) {
        namespace ps = protocol::session;
        if (const auto* open = std::get_if<OpenAction>(&step.what); open && open->session) {
            take(*open->session, open->sid);
        } else if (const auto* set = std::get_if<SetSidAction>(&step.what)) {
            take(set->session, set->sid);
        } else if (const auto* event = std::get_if<EventAction>(&step.what);
                   event && event->type == ps::EVENT_SESS_SID_ASID && event->sid != event->asid) {
            take(event->session, event->sid);
        }
    }
    Json sidOf(const Json& session) const {
        if (!session.is_string()) return nullptr;
        const auto it = m_sidByName.find(session.get<std::string>());
        return it == m_sidByName.end() ? Json() : Json(it->second);
    }
    Json of(const Json& body) {
        if (body.contains("session") && body["session"].is_string()) return note(body["session"]);
        if (body.contains("sid")) {
            if (const auto it = m_bySid.find(body["sid"].get<uint32_t>()); it != m_bySid.end()) return note(it->second);
        }
        return nullptr;
    }
    Json all() const { return Json(m_seen); }

private:
    Json note(const std::string& name) {
        m_seen.insert(name);
        return name;
    }
    void take(const std::string& name, uint32_t sid) {
        m_bySid[sid] = name;
        m_sidByName[name] = sid;
    }

    std::map<uint32_t, std::string> m_bySid;
    std::map<std::string, uint32_t> m_sidByName;
    std::set<std::string> m_seen;
};

// Builds the steps of the report from the trace, a line at a time.
class StepBuilder {
public:
    explicit StepBuilder(const Scenario& scenario) : m_scenario(scenario) {}

    void add(const TracedLine& traced) {
        const Json& line = traced.line;
        if (!line.is_object() || line.size() != 1) return;
        m_clock = traced.time;
        if (const auto step = line.find("step"); step != line.end()) {
            finish();
            const std::size_t index = (*step)["index"];
            if (index >= m_scenario.steps.size()) return;
            m_step = &m_scenario.steps[index];
            m_sessions.apply(*m_step);
            m_out = {{"index", index}, {"action", m_step->action}, {"note", m_step->note},
                     {"source", sourceJson(*m_step)}, {"time", traced.time}, {"input", ""},
                     {"lines", Json::array()}, {"diagram", Json::array()}};
            for (const DiagramRow& row : diagramRows(m_scenario, line)) {
                addInput(row.text);
                m_out["diagram"].push_back(rowJson(row, std::nullopt));
            }
            return;
        }
        if (!m_step) return;
        const std::string kind = line.begin().key();
        const Json& body = line.begin().value();
        const std::size_t at = m_out["lines"].size();
        Json out = {{"kind", kind}, {"session", m_sessions.of(body)}, {"effect", nullptr}, {"time", traced.time},
                    {"text", shortened(trace::render(line))}, {"json", line}};
        if (trace::isInput(line)) {
            if (body.contains("packet") && body["packet"].is_object()) {
                out["record"] = recordJson(body["packet"], Direction::Down);
            }
        } else {
            out["effect"] = m_effects.size();
            m_effects.push_back(line);
            if (kind == "send") {
                out["record"] = recordJson(body, Direction::Up);
                out["sid"] = m_sessions.sidOf(body["session"]);
            }
        }
        for (const DiagramRow& row : diagramRows(m_scenario, line)) {
            if (trace::isInput(line)) addInput(row.text);
            m_out["diagram"].push_back(rowJson(row, at));
        }
        m_out["lines"].push_back(std::move(out));
    }

    // Closes the step begun last, if any.
    void finish() {
        if (m_step) {
            m_out["checks"] = checksJson(*m_step, m_effects);
            bool failed = false;
            for (const Json& check : m_out["checks"]) failed = failed || !check["passed"].get<bool>();
            m_out["result"] = m_out["checks"].empty() ? "none" : failed ? "fail" : "pass";
            m_steps.push_back(std::move(m_out));
        }
        m_step = nullptr;
        m_effects.clear();
    }

    Json steps() {
        finish();
        return std::move(m_steps);
    }

    Json sessions() const { return m_sessions.all(); }
    // The virtual time of the last line.
    uint64_t clock() const { return m_clock; }

private:
    void addInput(const std::string& text) {
        std::string& input = m_out["input"].get_ref<std::string&>();
        input += (input.empty() ? "" : "; ") + text;
    }

    const Scenario& m_scenario;
    SessionNames m_sessions;
    const Step* m_step = nullptr;
    Json m_out;
    std::vector<Json> m_effects;
    Json m_steps = Json::array();
    uint64_t m_clock = 0;
};

}  // namespace

Json expectedRecord(const Json& line, const std::vector<FieldDifference>& differences) {
    if (!line.is_object() || line.size() != 1) return nullptr;
    const std::string kind = line.begin().key();
    const Json& body = line.begin().value();
    if (kind != "send" || !body.contains("fields") || !body["record"].is_string()) return nullptr;
    const std::string prefix = kind + ".fields.";
    Json fields = body["fields"];
    for (const FieldDifference& difference : differences) {
        if (!difference.path.starts_with(prefix)) return nullptr;
        const auto steps = pathSteps(difference.path.substr(prefix.size()));
        Json* at = &fields;
        for (std::size_t i = 0; i + 1 < steps.size(); ++i) {
            at = std::holds_alternative<std::size_t>(steps[i]) ? &(*at)[std::get<std::size_t>(steps[i])]
                                                                 : &(*at)[std::get<std::string>(steps[i])];
        }
        if (const auto* index = std::get_if<std::size_t>(&steps.back())) {
            (*at)[*index] = difference.expected.value_or(nullptr);
        } else if (difference.expected) {
            (*at)[std::get<std::string>(steps.back())] = *difference.expected;
        } else {
            at->erase(std::get<std::string>(steps.back()));
        }
    }
    const std::string name = body["record"];
    try {
        const std::string bytes = encodeRecord(name, fields, "the expected fields");
        const Json decoded = decodeRecord(name, bytes, Direction::Up).fields;
        const Json as = {{"record", name}, {"hex", toHex(bytes)}, {"fields", decoded}};
        return {{"hex", as["hex"]}, {"fields", decoded}, {"record", recordJson(as, Direction::Up)}};
    } catch (const std::exception& e) {
        return {{"error", e.what()}};
    }
}

Json reportScenario(std::size_t index, const ScenarioOutcome& outcome, const std::optional<Scenario>& scenario,
                    const std::vector<TracedLine>& trace, const std::string& page) {
    Json out = {{"id", "s" + std::to_string(index)},
                {"file", outcome.file},
                {"url", relativeUrl(outcome.file, page)},
                {"name", outcome.name},
                {"result", outcome.result},
                {"details", outcome.details},
                {"seconds", outcome.seconds},
                {"clock", 0},
                {"sessions", Json::array()},
                {"steps", Json::array()}};
    if (!scenario) return out;
    StepBuilder steps(*scenario);
    for (const TracedLine& line : trace) steps.add(line);
    out["steps"] = steps.steps();
    out["sessions"] = steps.sessions();
    out["clock"] = steps.clock();
    return out;
}

Json reportData(const std::string& module, const std::string& generated, Json scenarios, const std::string& page) {
    std::size_t passed = 0;
    for (const Json& scenario : scenarios) passed += scenario["result"] == "pass" ? 1 : 0;
    const std::filesystem::path relative = relativeToPage(module, page);
    const std::u8string shown =
        (relative.empty() ? std::filesystem::path(module).filename() : relative).generic_u8string();
    return {{"tool", "sapp-host report"},
            {"generated", generated},
            {"module", std::string(shown.begin(), shown.end())},
            {"passed", passed},
            {"failed", scenarios.size() - passed},
            {"scenarios", std::move(scenarios)}};
}

std::string reportPage(const Json& data) {
    // Inside a script element only "</script" (and "<!--") end or change
    // its text; "<" appears in JSON text only inside strings, where \u003c
    // reads as the same character.
    std::string json;
    for (const char c : dumpCompact(data)) {
        if (c == '<') {
            json += "\\u003c";
        } else {
            json += c;
        }
    }
    const std::string page = reinterpret_cast<const char*>(kReportPage);
    static constexpr std::string_view kPlaceholder = "@REPORT_DATA@";
    const std::size_t at = page.find(kPlaceholder);
    if (at == std::string::npos) throw std::logic_error("the report page has no data placeholder");
    return page.substr(0, at) + json + page.substr(at + kPlaceholder.size());
}

std::string utcTimestamp() {
    const std::time_t now = std::time(nullptr);
    char text[32] = {};
    if (const std::tm* utc = std::gmtime(&now)) std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", utc);
    return text;
}

}  // namespace sapphost
