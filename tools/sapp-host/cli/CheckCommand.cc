// check and report: many scenarios, each in a process of its own (the
// hidden single-scenario mode of PlayOneCommand.cc), and which of them pass;
// for the HTML report also each one's trace (Report.h).
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tools/sapp-host/cli/Commands.h"
#include "tools/sapp-host/records/JsonSupport.h"
#include "tools/sapp-host/report/Junit.h"
#include "tools/sapp-host/platform/ModuleLibrary.h"
#include "tools/sapp-host/platform/Process.h"
#include "tools/sapp-host/report/Report.h"
#include "tools/sapp-host/scenario/Scenario.h"
#include "tools/sapp-host/scenario/StepTag.h"

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

// The verdict of a scenario whose process crashed or ran past its time,
// and where it was: the step whose line it wrote last.
void placeEnd(Outcome& outcome, const ChildResult& child, bool reported, const std::string& reason) {
    const std::optional<StepAt> step = lastStep(child.output);
    if (reported) {
        outcome.where = "after its last step";
    } else if (step) {
        outcome.where = "at " + step->text();
    } else {
        outcome.where = "before its first step";
    }
    if (step) {
        outcome.step = step->index;
        outcome.action = step->action;
    }
    const std::string verdict = outcome.result == "timeout" ? "TIMEOUT" : "CRASH";
    outcome.details.push_back(verdict + " " + outcome.where + ": " + reason);
}

}  // namespace

ScenarioOutcome playScenarioInChild(const std::string& self, const std::string& module, const std::string& file,
                                    uint64_t timeoutSeconds, std::vector<TracedLine>* trace) {
    Outcome outcome{file, file, "crash", {}, Json::array(), 0, {}, {}, {}};
    std::vector<std::string> args{std::string(trace ? kPlayTracedCommand.name : kPlayOneCommand.name), "--module",
                                  module};
    if (!file.empty()) args.push_back(file);
    const ChildResult child = runChild(self, args, {}, ChildLimit{timeoutSeconds, {}});
    if (trace) *trace = traceLines(child.output);
    Json report;
    const std::size_t at = child.output.rfind(kReportTag);
    if (at != std::string::npos) {
        const std::size_t begin = at + kReportTag.size();
        report = Json::parse(child.output.substr(begin, child.output.find('\n', begin) - begin), nullptr, false);
    }
    const bool reported = report.is_object() && report.contains("name") && report["name"].is_string() &&
                          report.contains("failures") && report["failures"].is_array() && report.contains("error");
    if (reported) outcome.name = report["name"].get<std::string>();
    if (reported && child.exited) {
        const bool failures = !report["failures"].empty();
        const bool error = report["error"].is_string();
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
    if (!reported) outcome.name = file.empty() ? "the built-in session" : scenarioName(file);
    if (child.timedOut) {
        outcome.result = "timeout";
        placeEnd(outcome, child, reported,
                 "the scenario's process had not ended after " + std::to_string(timeoutSeconds) +
                     " s and was stopped (--timeout)");
        return outcome;
    }
    // Anything else (a signal, an exit status that does not fit the report,
    // as after a sanitizer's report at exit) is a crash.
    placeEnd(outcome, child, reported,
             "the scenario's process ended with " + child.describe() +
                 (reported ? " after reporting its outcome" : " without reporting its outcome"));
    return outcome;
}

namespace {

std::string resultLabel(const Outcome& outcome) {
    if (outcome.result == "crash") return "CRASH " + outcome.where;
    if (outcome.result == "timeout") return "TIMEOUT " + outcome.where;
    static const std::map<std::string, std::string> kLabels = {
        {"pass", "PASS "}, {"fail", "FAIL "}, {"bad", "BAD  "}};
    return kLabels.at(outcome.result);
}

void printOutcome(const Outcome& outcome, bool json) {
    const bool ended = outcome.result == "crash" || outcome.result == "timeout";
    if (json) {
        Json line = Json::object();
        line["file"] = outcome.file;
        line["name"] = outcome.name;
        line["result"] = outcome.result;
        line["details"] = outcome.details;
        if (outcome.result == "fail") line["differences"] = outcome.differences;
        if (ended) {
            line["step"] = outcome.step ? Json(*outcome.step) : Json();
            line["action"] = outcome.step ? Json(outcome.action) : Json();
        }
        std::cout << dumpCompact(line) << std::endl;
        return;
    }
    std::cout << resultLabel(outcome) << "  " << outcome.name << "  (" << outcome.file << ")";
    if (ended) {
        // The verdict leads the line; the rest of its detail follows.
        const std::string& detail = outcome.details.front();
        std::cout << detail.substr(detail.find(": "));
    }
    std::cout << std::endl;
    if (outcome.result == "fail" || outcome.result == "bad") {
        for (const std::string& detail : outcome.details)
            std::cerr << "  " << detail << (detail.ends_with('\n') ? "" : "\n");
        std::cerr.flush();
    }
}

// Whether `text` is matched by `pattern`, where `*` stands for any run of
// characters and `?` for one.
bool globMatches(std::string_view pattern, std::string_view text) {
    std::size_t p = 0;
    std::size_t t = 0;
    std::size_t star = std::string_view::npos;  // the last `*` seen, and where its run ends now
    std::size_t starText = 0;
    while (t < text.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == text[t])) {
            ++p;
            ++t;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            starText = t;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            t = ++starText;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
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

// The counts of the last line: how many scenarios passed, failed their
// checks, could not be played, crashed and ran past their time.
struct Totals {
    std::size_t passed = 0;
    std::size_t failed = 0;
    std::size_t bad = 0;
    std::size_t crashed = 0;
    std::size_t timedOut = 0;

    void count(const std::string& result) {
        ++(result == "pass"    ? passed
           : result == "fail"  ? failed
           : result == "bad"   ? bad
           : result == "crash" ? crashed
                               : timedOut);
    }
    bool allPassed() const { return failed + bad + crashed + timedOut == 0; }

    // "3 passed, 1 failed, 1 crashed": passed and failed always, the others
    // when there are any.
    std::string text() const {
        std::string out = std::to_string(passed) + " passed, " + std::to_string(failed) + " failed";
        if (bad) out += ", " + std::to_string(bad) + " bad";
        if (crashed) out += ", " + std::to_string(crashed) + " crashed";
        if (timedOut) out += ", " + std::to_string(timedOut) + " timed out";
        return out;
    }
    Json json() const {
        return {{"passed", passed}, {"failed", failed}, {"bad", bad}, {"crashed", crashed}, {"timedOut", timedOut}};
    }
};

// The scenarios whose name (as check prints it) matches --name.
std::vector<std::string> scenariosNamed(const std::vector<std::string>& files, const std::string& pattern) {
    std::vector<std::string> named;
    for (const std::string& file : files) {
        if (globMatches(pattern, scenarioName(file))) named.push_back(file);
    }
    if (named.empty()) {
        throw std::runtime_error("no scenario's name matches --name " + pattern + " (of " +
                                 std::to_string(files.size()) + " scenario" + (files.size() == 1 ? "" : "s") + ")");
    }
    return named;
}

// A scenario played in its process, by one of the -j workers.
struct Played {
    Outcome outcome;
    std::vector<TracedLine> trace;
};

// Plays the scenarios `jobs` at a time, each in a process of its own, and
// hands each one's outcome to `done` in the order of `files`, as soon as it
// and those before it have ended.
void playAll(const std::vector<std::string>& files, std::size_t jobs,
             const std::function<Played(const std::string&)>& play,
             const std::function<void(std::size_t, Played&)>& done) {
    std::mutex mutex;
    std::condition_variable ended;
    std::vector<std::optional<Played>> played(files.size());
    std::exception_ptr failure;
    std::size_t next = 0;
    const auto work = [&] {
        for (;;) {
            std::size_t i = 0;
            {
                const std::lock_guard<std::mutex> lock(mutex);
                if (next == files.size() || failure) return;
                i = next++;
            }
            std::optional<Played> one;
            std::exception_ptr thrown;
            try {
                one = play(files[i]);
            } catch (...) {
                thrown = std::current_exception();
            }
            {
                const std::lock_guard<std::mutex> lock(mutex);
                if (thrown && !failure) failure = thrown;
                played[i] = std::move(one);
            }
            ended.notify_all();
        }
    };
    std::vector<std::thread> workers;
    for (std::size_t w = 0; w < std::min(jobs, files.size()); ++w) workers.emplace_back(work);
    std::size_t shown = 0;
    for (; shown < files.size(); ++shown) {
        std::unique_lock<std::mutex> lock(mutex);
        ended.wait(lock, [&] { return played[shown].has_value() || failure; });
        if (failure) break;
        Played one = std::move(*played[shown]);
        played[shown].reset();
        lock.unlock();
        done(shown, one);
    }
    for (std::thread& worker : workers) worker.join();
    if (failure) std::rethrow_exception(failure);
}

// check, and the HTML report to `html` when given.
int checkScenarios(const Options& options, const std::optional<std::string>& html) {
    const bool json = options.has("--json");
    const std::optional<std::string> junit = options.value("--junit");
    const std::string module = modulePathOf(options);
    const std::string self = selfExecutablePath();
    const uint64_t timeout = options.number("--timeout");
    const std::size_t jobs = options.number("-j");
    // Whatever keeps the whole run from working is found before the first
    // scenario plays: the files, the module (loaded here as each scenario's
    // process will load it) and the reports' paths.
    std::vector<std::string> files = scenarioFiles(options.args);
    if (const std::optional<std::string> pattern = options.value("--name")) files = scenariosNamed(files, *pattern);
    loadModule(module);
    if (self.empty()) throw std::runtime_error("cannot tell where this executable is, to run scenarios in it");
    if (junit) checkOutputPath(*junit);
    if (html) checkOutputPath(*html);
    const std::string timestamp = junitTimestamp();
    const std::string generated = utcTimestamp();
    Totals totals;
    std::vector<Outcome> outcomes;
    Json reported = Json::array();
    playAll(
        files, jobs,
        [&](const std::string& file) {
            const auto start = std::chrono::steady_clock::now();
            Played played;
            played.outcome = playScenarioInChild(self, module, file, timeout, html ? &played.trace : nullptr);
            played.outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            return played;
        },
        [&](std::size_t i, Played& played) {
            totals.count(played.outcome.result);
            printOutcome(played.outcome, json);
            if (html) {
                reported.push_back(reportScenario(outcomes.size(), played.outcome, scenarioForReport(files[i]),
                                                  played.trace, *html));
            }
            outcomes.push_back(std::move(played.outcome));
        });
    if (json) {
        std::cout << dumpCompact(totals.json()) << "\n";
    } else {
        std::cout << totals.text() << "\n";
    }
    const auto write = [](const std::string& path, const char* what, const std::string& text) {
        try {
            writeFileReplacing(path, text);
        } catch (const std::runtime_error& e) {
            throw std::runtime_error(what + std::string(e.what()));
        }
    };
    if (junit) write(*junit, "the JUnit report: ", junitReport("sapp-host check", outcomes, timestamp, hostName()));
    if (html) write(*html, "the HTML report: ", reportPage(reportData(module, generated, std::move(reported), *html)));
    return totals.allPassed() ? kExitOk : kExitFailed;
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
over from one to the next; with -j N, N of them at a time, the output still
in that order. The module is loaded, and the report's path checked, before
the first scenario plays. Prints one line per scenario: PASS, FAIL, BAD for a
scenario that cannot be played, CRASH at step N (action) with the signal or
exit status, TIMEOUT at step N (action) for one stopped after --timeout
seconds (60 by default); then "N passed, N failed" (and how many were bad,
crashed or timed out, if any). Details of failed checks go to stderr: where
the check and its step are (file:line:column), the check, every field where
the line it is measured against differs ("send.fields.pid: expected 7, got
6"), and the step's lines.
)",
    R"(Exit status: 0 all passed, 1 any did not pass, 2 bad arguments, no scenario
matching --name, a module that cannot be loaded, or a report that cannot be
written.
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
    R"(Exit status: 0 all passed, 1 any did not pass, 2 bad arguments, no scenario
matching --name, a module that cannot be loaded, or a page or report that
cannot be written.
)",
    [](const Options& options) {
        requireArguments(options, 1, kAnyNumber, "report needs scenario files or folders");
    },
    reportCommand,
};

}  // namespace sapphost
