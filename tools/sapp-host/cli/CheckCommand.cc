// check and report: many scenarios, each in a process of its own (the
// hidden single-scenario mode of PlayOneCommand.cc), and which of them pass;
// for the HTML report also each one's trace (Report.h).
#include <algorithm>
#include <chrono>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tools/sapp-host/cli/Commands.h"
#include "tools/sapp-host/records/JsonSupport.h"
#include "tools/sapp-host/report/Junit.h"
#include "tools/sapp-host/platform/ModuleLibrary.h"
#include "tools/sapp-host/platform/Process.h"
#include "tools/sapp-host/report/Report.h"
#include "tools/sapp-host/scenario/Scenario.h"

namespace sapphost {

namespace {

// The scenario's name, read here for a child that died before reporting it;
// the file name when there is none. The steps are read and dropped one by
// one: a long scenario costs no more memory here than in its own process.
std::string scenarioName(const std::string& file) {
    try {
        const Json root = parseJsonText(readScenarioText(file), "steps", [](std::size_t, const Json&, const SourceMap&) {});
        if (root.is_object() && root.contains("name") && root["name"].is_string()) return root["name"];
    } catch (const std::runtime_error&) {
    }
    return file;
}

using Outcome = ScenarioOutcome;

// The trace lines of a traced child with their times, in order; a line cut
// short by a crash is left out.
std::vector<TracedLine> traceLines(const std::string& output) {
    std::vector<TracedLine> lines;
    for (std::size_t at = output.find(kTraceTag); at != std::string::npos; at = output.find(kTraceTag, at)) {
        const std::size_t begin = at + kTraceTag.size();
        const std::size_t end = output.find('\n', begin);
        if (end == std::string::npos) break;
        const std::size_t space = output.find(' ', begin);
        if ((at == 0 || output[at - 1] == '\n') && space < end) {
            Json line = Json::parse(output.substr(space + 1, end - space - 1), nullptr, false);
            const Json time = Json::parse(output.substr(begin, space - begin), nullptr, false);
            if (!line.is_discarded() && time.is_number_unsigned()) {
                lines.push_back({time.get<uint64_t>(), std::move(line)});
            }
        }
        at = end;
    }
    return lines;
}

Outcome playInChild(const std::string& self, const std::string& module, const std::string& file,
                    std::vector<TracedLine>* trace) {
    Outcome outcome{file, file, "crash", {}, Json::array(), 0};
    const ChildResult child =
        runChild(self, {std::string(trace ? kPlayTracedCommand.name : kPlayOneCommand.name), "--module", module, file});
    if (trace) *trace = traceLines(child.output);
    Json report;
    const std::size_t at = child.output.rfind(kReportTag);
    if (at != std::string::npos) {
        const std::size_t begin = at + kReportTag.size();
        report = Json::parse(child.output.substr(begin, child.output.find('\n', begin) - begin), nullptr, false);
    }
    const bool reported = report.is_object() && report.contains("name") && report["name"].is_string() &&
                          report.contains("failures") && report["failures"].is_array() && report.contains("error");
    if (reported && child.exited) {
        const bool failures = !report["failures"].empty();
        const bool error = report["error"].is_string();
        outcome.name = report["name"].get<std::string>();
        if (child.code == kExitOk && !failures && !error) {
            outcome.result = "pass";
            return outcome;
        }
        if (child.code == kExitFailed && failures && !error) {
            outcome.result = "fail";
            for (const Json& failure : report["failures"]) outcome.details.push_back(failure.get<std::string>());
            if (report.contains("differences") && report["differences"].is_array()) {
                outcome.differences = report["differences"];
            }
            return outcome;
        }
        if (child.code == kExitBadInput && error) {
            outcome.result = "bad";
            outcome.details.push_back(report["error"].get<std::string>());
            return outcome;
        }
    }
    // Anything else (a signal, an exit status that does not fit the report,
    // as after a sanitizer's report at exit) is a crash.
    if (!reported) outcome.name = scenarioName(file);
    outcome.details.push_back("the scenario's process ended with " + child.describe() +
                              (reported ? "" : " without reporting its outcome"));
    return outcome;
}

void printOutcome(const Outcome& outcome, bool json) {
    if (json) {
        Json line = Json::object();
        line["file"] = outcome.file;
        line["name"] = outcome.name;
        line["result"] = outcome.result;
        line["details"] = outcome.details;
        if (outcome.result == "fail") line["differences"] = outcome.differences;
        std::cout << dumpCompact(line) << std::endl;
        return;
    }
    static const std::map<std::string, std::string> kLabels = {
        {"pass", "PASS "}, {"fail", "FAIL "}, {"bad", "BAD  "}, {"crash", "CRASH"}};
    std::cout << kLabels.at(outcome.result) << "  " << outcome.name << "  (" << outcome.file << ")";
    if (outcome.result == "crash") std::cout << ": " << outcome.details.front();
    std::cout << std::endl;
    if (outcome.result == "fail" || outcome.result == "bad") {
        for (const std::string& detail : outcome.details)
            std::cerr << "  " << detail << (detail.ends_with('\n') ? "" : "\n");
        std::cerr.flush();
    }
}

// The scenario as the report shows its steps; none when it cannot be read
// (the outcome says why).
std::optional<Scenario> scenarioForReport(const std::string& file) {
    try {
        return loadScenario(file);
    } catch (const std::runtime_error&) {
        return std::nullopt;
    }
}

// check, and the HTML report to `html` when given.
int checkScenarios(const Options& options, const std::optional<std::string>& html) {
    const bool json = options.has("--json");
    const std::optional<std::string> junit = options.value("--junit");
    const std::string module = modulePathOf(options);
    const std::string self = selfExecutablePath();
    // Whatever keeps the whole run from working is found before the first
    // scenario plays: the files, the module (loaded here as each scenario's
    // process will load it) and the reports' paths.
    const std::vector<std::string> files = scenarioFiles(options.args);
    loadModule(module);
    if (self.empty()) throw std::runtime_error("cannot tell where this executable is, to run scenarios in it");
    if (junit) checkOutputPath(*junit);
    if (html) checkOutputPath(*html);
    const std::string timestamp = junitTimestamp();
    const std::string generated = utcTimestamp();
    std::size_t passed = 0;
    std::vector<Outcome> outcomes;
    Json reported = Json::array();
    for (const std::string& file : files) {
        const auto start = std::chrono::steady_clock::now();
        std::vector<TracedLine> trace;
        Outcome outcome = playInChild(self, module, file, html ? &trace : nullptr);
        outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (outcome.result == "pass") ++passed;
        printOutcome(outcome, json);
        if (html) reported.push_back(reportScenario(outcomes.size(), outcome, scenarioForReport(file), trace));
        outcomes.push_back(std::move(outcome));
    }
    const std::size_t failed = files.size() - passed;
    if (json) {
        std::cout << dumpCompact(Json{{"passed", passed}, {"failed", failed}}) << "\n";
    } else {
        std::cout << passed << " passed, " << failed << " failed\n";
    }
    const auto write = [](const std::string& path, const char* what, const std::string& text) {
        try {
            writeFileReplacing(path, text);
        } catch (const std::runtime_error& e) {
            throw std::runtime_error(what + std::string(e.what()));
        }
    };
    if (junit) write(*junit, "the JUnit report: ", junitReport("sapp-host check", outcomes, timestamp, hostName()));
    if (html) write(*html, "the HTML report: ", reportPage(reportData(module, generated, std::move(reported))));
    return failed == 0 ? kExitOk : kExitFailed;
}

int checkCommand(const Options& options) { return checkScenarios(options, options.value("--html")); }

int reportCommand(const Options& options) { return checkScenarios(options, options.value("-o")); }

}  // namespace

const Command kCheckCommand = {
    "check",
    "FILE|DIR...",
    "play scenarios, each in a process of its own, and report which pass their checks",
    R"(Plays every scenario named (each *.json file of a DIR, in name order), each
in a process of its own so that no process-wide state and no crash carries
over from one to the next. The module is loaded, and the report's path
checked, before the first scenario plays. Prints one line per scenario
(PASS, FAIL, BAD for a scenario that cannot be played, CRASH with the signal
or exit status) and last "N passed, N failed". Details of failed checks go
to stderr: where the check and its step are (file:line:column), the check,
every field where the line it is measured against differs
("send.fields.pid: expected 7, got 6"), and the step's lines.
)",
    R"(Exit status: 0 all passed, 1 any failed, 2 bad arguments, a module that
cannot be loaded, or a report that cannot be written.
)",
    [](const Options& options) {
        requireArguments(options, 1, kAnyNumber, "check needs scenario files or folders");
    },
    checkCommand,
};

const Command kReportCommand = {
    "report",
    "FILE|DIR...",
    "check, and write the sessions as one web page: sequence diagrams, steps, checks, record bytes",
    R"(Does what check does (same output, same exit status) and writes one
self-contained web page to FILE.html that opens from disk in any current
browser, with no network: for each scenario its result and its session as a
sequence diagram (Server, Host, Module, Client, as diagram draws it), each
arrow a link to its step; for each step what the host did, every line the
module produced (send, event, log, answer, task, watch, error), and its
checks, a failed one with the fields where the line it was compared with
differs and, for a send, the expected record beside the one sent; a list of
every packet with its virtual time, sortable; for each record its fields as a
tree beside its bytes as a hex dump, a field's bytes lit when the field is
selected and the other way round, nested payloads in place, and its hex, a
decode command line and a step for run to copy out. Filters: by session,
direction, URI, record, kind of line, and a text search. The page opens on
the first failing step.
(check --html FILE writes the same page.)
)",
    R"(Exit status: 0 all passed, 1 any failed, 2 bad arguments, a module that
cannot be loaded, or a page or report that cannot be written.
)",
    [](const Options& options) {
        requireArguments(options, 1, kAnyNumber, "report needs scenario files or folders");
    },
    reportCommand,
};

}  // namespace sapphost
