#include "tools/sapp-host/report/Report.h"

#include <ctime>
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

Json spansJson(const std::vector<FieldSpan>& spans) {
    Json out = Json::array();
    for (const FieldSpan& span : spans) out.push_back({{"path", span.path}, {"begin", span.begin}, {"end", span.end}});
    return out;
}

// The spans of a record's fields and its nested payloads, each with its own
// spans. The record's bytes and fields are those of the trace line, not
// repeated here; a payload's bytes are given as the range of the record's
// bytes they are, or, when zipped, as their own inflated hex. Bytes that do
// not decode have no spans; the trace line says why.
Json recordJson(const Json& line, Direction direction) {
    Json out = {{"name", line["record"]}, {"spans", Json::array()}, {"payloads", Json::array()}};
    if (line.contains("decodeError")) out["error"] = line["decodeError"];
    if (!line["record"].is_string()) return out;
    const std::string name = line["record"];
    const std::string bytes = fromHex(line["hex"].get<std::string>());
    std::vector<FieldSpan> spans;
    try {
        spans = fieldSpans(name, bytes);
    } catch (const pakt::UnpackError&) {
        return out;  // bytes that run short have no spans; the line's decodeError says where
    }
    out["spans"] = spansJson(spans);
    for (const NestedPayload& payload : nestedPayloads(name, bytes, direction)) {
        Json nested = {{"path", payload.field}, {"name", payload.record}, {"zipped", payload.zipped}};
        if (payload.zipped) {
            nested["hex"] = toHex(payload.bytes);
        } else {
            // A byte string ends its field's span, after its length.
            for (const FieldSpan& span : spans) {
                if (span.path != payload.field) continue;
                nested["begin"] = span.end - payload.bytes.size();
                nested["end"] = span.end;
            }
        }
        nested["spans"] = spansJson(fieldSpans(payload.record, payload.bytes));
        nested["payloads"] = Json::array();
        out["payloads"].push_back(std::move(nested));
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
// that the lines that name only a sid (recv) can be filtered by session.
class SessionNames {
public:
    void apply(const Step& step) {
        namespace ps = protocol::session;
        if (const auto* open = std::get_if<OpenAction>(&step.what); open && open->session) {
            m_bySid[open->sid] = *open->session;
        } else if (const auto* set = std::get_if<SetSidAction>(&step.what)) {
            m_bySid[set->sid] = set->session;
        } else if (const auto* event = std::get_if<EventAction>(&step.what);
                   event && event->type == ps::EVENT_SESS_SID_ASID && event->sid != event->asid) {
            m_bySid[event->sid] = event->session;
        }
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
    std::map<uint32_t, std::string> m_bySid;
    std::set<std::string> m_seen;
};

// Builds the steps of the report from the trace, a line at a time.
class StepBuilder {
public:
    explicit StepBuilder(const Scenario& scenario) : m_scenario(scenario) {}

    void add(const Json& line) {
        if (!line.is_object() || line.size() != 1) return;
        if (const auto step = line.find("step"); step != line.end()) {
            finish();
            const std::size_t index = (*step)["index"];
            if (index >= m_scenario.steps.size()) return;
            m_step = &m_scenario.steps[index];
            m_sessions.apply(*m_step);
            m_out = {{"index", index}, {"action", m_step->action}, {"note", m_step->note}, {"input", ""},
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
        Json out = {{"kind", kind}, {"session", m_sessions.of(body)}, {"effect", nullptr},
                    {"text", shortened(trace::render(line))}, {"json", line}};
        if (trace::isInput(line)) {
            if (body.contains("packet") && body["packet"].is_object()) {
                out["record"] = recordJson(body["packet"], Direction::Down);
            }
        } else {
            out["effect"] = m_effects.size();
            m_effects.push_back(line);
            if (kind == "send") out["record"] = recordJson(body, Direction::Up);
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
};

}  // namespace

Json reportScenario(std::size_t index, const ScenarioOutcome& outcome, const std::optional<Scenario>& scenario,
                    const std::vector<Json>& trace) {
    Json out = {{"id", "s" + std::to_string(index)}, {"file", outcome.file},   {"name", outcome.name},
                {"result", outcome.result},           {"details", outcome.details}, {"sessions", Json::array()},
                {"steps", Json::array()}};
    if (!scenario) return out;
    StepBuilder steps(*scenario);
    for (const Json& line : trace) steps.add(line);
    out["steps"] = steps.steps();
    out["sessions"] = steps.sessions();
    return out;
}

Json reportData(const std::string& module, const std::string& generated, Json scenarios) {
    std::size_t passed = 0;
    for (const Json& scenario : scenarios) passed += scenario["result"] == "pass" ? 1 : 0;
    return {{"tool", "sapp-host report"},
            {"generated", generated},
            {"module", module},
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
