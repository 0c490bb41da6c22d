// record: plays a scenario and writes it back with the effects each step
// produced as its expectations (golden traces).
#include <iostream>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "tools/sapp-host/cli/Commands.h"
#include "tools/sapp-host/scenario/Matcher.h"
#include "tools/sapp-host/platform/ModuleLibrary.h"
#include "tools/sapp-host/scenario/Runner.h"
#include "tools/sapp-host/scenario/Scenario.h"
#include "tools/sapp-host/scenario/Trace.h"

namespace sapphost {

namespace {

std::string quoted(const std::string& text) { return dumpCompact(Json(text)); }

// A value on one line, spaced as scenario files are written by hand:
// {"a": 1, "b": [1, 2]}.
std::string spaced(const Json& value) {
    if (!value.is_structured()) return dumpCompact(value);
    const bool object = value.is_object();
    std::string out(1, object ? '{' : '[');
    for (auto it = value.begin(); it != value.end(); ++it) {
        if (it != value.begin()) out += ", ";
        if (object) out += quoted(it.key()) + ": ";
        out += spaced(*it);
    }
    return out + (object ? '}' : ']');
}

// How an object is laid out over lines: each member after `indent` (the
// first after `firstIndent`), and the elements of the array member `listed`
// each after `elementIndent`, written by `element`, then `listEnd`.
struct Layout {
    std::string_view firstIndent;
    std::string_view indent;
    std::string_view listed;
    std::string_view elementIndent;
    std::string_view listEnd;
    std::string (*element)(const Json&);
};

std::string members(const Json& object, const Layout& layout) {
    std::string out;
    for (auto it = object.begin(); it != object.end(); ++it) {
        out += std::string(it == object.begin() ? layout.firstIndent : layout.indent) + quoted(it.key()) + ": ";
        if (it.key() != layout.listed || !it->is_array() || it->empty()) {
            out += spaced(*it);
            continue;
        }
        out += "[";
        for (std::size_t i = 0; i < it->size(); ++i) {
            out += concat({i ? "," : "", layout.elementIndent, layout.element((*it)[i])});
        }
        out += std::string(layout.listEnd) + "]";
    }
    return out;
}

// A step: each key on a line of its own, each expected line too.
std::string stepText(const Json& step) {
    return "    {" + members(step, {"", ",\n     ", "expect", "\n       ", "", spaced}) + "}";
}

// The scenario as text: a top-level key per line, a step per block.
std::string scenarioText(const Json& root) {
    return concat({"{", members(root, {"\n  ", ",\n  ", "steps", "\n", "\n  ", stepText}), "\n}\n"});
}

// `written` (LF line ends, no byte order mark) in the form of the file it
// was read from: with its byte order mark, and with CR LF line ends when
// its first line ends so. JSON strings hold no raw line end, so every LF
// written is one between lines.
std::string inTheFormOf(std::string_view read, const std::string& written) {
    constexpr std::string_view kBom = "\xEF\xBB\xBF";
    std::string out(read.starts_with(kBom) ? kBom : "");
    const std::size_t firstEnd = read.find('\n');
    if (firstEnd == std::string_view::npos || firstEnd == 0 || read[firstEnd - 1] != '\r') return out + written;
    out.reserve(out.size() + written.size() + written.size() / 16);
    for (const char c : written) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

// A line as it is recorded: without what differs between platforms (the
// module's file name in log lines).
Json recorded(const Json& line) {
    Json out = line;
    if (const auto log = out.find("log"); log != out.end() && log->is_object()) log->erase("module");
    return out;
}

// Replaces the checks of `step` (the step's JSON) by `effects`.
void recordChecks(Json& step, const Step& parsed, const std::vector<Json>& effects) {
    step.erase("absent");
    if (!callsModule(parsed)) {
        step.erase("expect");
        step.erase("exact");
        return;
    }
    if (effects.empty()) {
        step.erase("expect");
    } else {
        step["expect"] = effects;
    }
    step["exact"] = true;
}

// "3 expected, exact, 1 absent", or "no checks".
std::string describeChecks(const Json& step) {
    std::string out;
    const auto add = [&out](const std::string& part) { out += (out.empty() ? "" : ", ") + part; };
    if (step.contains("expect")) add(std::to_string(step["expect"].size()) + " expected");
    if (step.value("exact", false)) add("exact");
    if (step.contains("absent")) add(std::to_string(step["absent"].size()) + " absent");
    return out.empty() ? "no checks" : out;
}

int recordCommand(const Options& options) {
    const std::string& file = options.args.at(0);
    const std::optional<std::string> output = options.has("--in-place") ? file : options.value("-o");
    if (output) checkOutputPath(*output);
    const std::string text = readScenarioText(file);
    const Scenario scenario = parseScenario(text, file);
    Json root = Json::parse(text);
    const ModuleLibrary module = loadModule(modulePathOf(options));
    // Each step's lines as its checks see them, without what differs
    // between platforms: the lines that become its expectations.
    std::vector<std::vector<Json>> effects;
    const RunResult result = runScenario(module, scenario, [&effects](const Json& line) {
        if (line.contains("step")) {
            effects.emplace_back();
        } else if (!trace::isInput(line)) {
            effects.back().push_back(recorded(line));
        }
    });

    std::set<std::size_t> failed;
    for (const StepFailure& failure : result.failures) failed.insert(failure.index);
    Json& steps = root["steps"];
    std::size_t changed = 0;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const Json before = steps[i];
        recordChecks(steps[i], scenario.steps[i], effects.at(i));
        if (jsonEqual(before, steps[i])) continue;
        ++changed;
        const std::size_t lines = effects.at(i).size();
        std::cerr << "sapp-host record: step " << i << " (" << scenario.steps[i].action << "): "
                  << (lines == 0 ? "no line" : lines == 1 ? "1 line" : std::to_string(lines) + " lines")
                  << " recorded (before: " << describeChecks(before) << (failed.count(i) ? ", which failed" : "")
                  << ")\n";
    }
    std::cerr << "sapp-host record: " << changed << " of " << steps.size() << " steps changed\n";

    const std::string out = inTheFormOf(text, scenarioText(root));
    if (output) {
        writeFileReplacing(*output, out);
    } else {
        std::cout << out << std::flush;
    }
    return kExitOk;
}

}  // namespace

const Command kRecordCommand = {
    "record",
    "FILE",
    "play a scenario and write it back with the effects observed as its expectations",
    R"(Plays the scenario in FILE and writes it back with each step's expectations
replaced by the lines the step produced ("expect": the lines, "exact": true;
"absent" is dropped; a step without lines keeps only "exact": true). Name,
description, notes, host settings, actions and step order stay as they are;
steps that do not call the module (set_sid, db, host, fault) lose their
checks and get none. The recorded lines leave out what differs between runs
or platforms: recv lines (the echo of the input) and the module's file name
in log lines. Which steps changed, and whose checks failed before, goes to
stderr. Recording a recorded scenario gives the same file. Whether the file
can be written there is checked before anything plays.
)",
    R"(Read what was recorded before you commit it: a recorded trace is only as
right as the reader who checked it.
Exit status: 0 written, 2 bad scenario, no module, or the output cannot be
written (a file is replaced only when the whole new text is written).
)",
    [](const Options& options) { requireArguments(options, 1, 1, "record takes one scenario file"); },
    recordCommand,
};

}  // namespace sapphost
