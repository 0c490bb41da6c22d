// sapp-host end to end: the executable beside this test, run as a child.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>

#include <gtest/gtest.h>

#include "tools/sapp-host/cli/Commands.h"
#include "tools/sapp-host/records/Canonical.h"
#include "tools/sapp-host/records/RecordJson.h"
#include "tools/sapp-host/records/JsonSupport.h"
#include "tools/sapp-host/scenario/Matcher.h"
#include "tools/sapp-host/platform/Process.h"
#include "tools/sapp-host/cli/SappHostChild_test.h"

namespace sapphost {
namespace {

using namespace childtest;

std::string testdata(const std::string& file) { return std::string(SAPP_HOST_TESTDATA) + "/" + file; }

std::string fileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Outputs {
    ChildResult result;
    std::string errors;  // standard error
};

// Runs sapp-host with its standard error captured too.
Outputs sappHostWithErrors(const std::vector<std::string>& args) {
    const std::string file = scratchFile("errors.txt");
    Outputs out{runChild(besideThisTest(SAPP_HOST_EXE_NAME), args, file), fileText(file)};
    std::filesystem::remove(file);
    std::erase(out.result.output, '\r');
    std::erase(out.errors, '\r');
    return out;
}

TEST(CliTest, CheckReportsFailedChecksAndBadScenarios) {
    const std::string report = scratchFile("junit.xml");
    const ChildResult r = sappHost({"check", "--json", testdata("failing-check.json"), testdata("bad-step.json"),
                                    testdata("released-module.json"), testdata("module-lifetime.json"), "--junit",
                                    report});
    ASSERT_TRUE(r.exited) << r.describe();
    EXPECT_EQ(r.code, 1);
    const std::vector<Json> lines = jsonLines(r.output);
    ASSERT_EQ(lines.size(), 5u) << r.output;

    EXPECT_EQ(lines[0]["name"], "a check that fails");
    EXPECT_EQ(lines[0]["result"], "fail");
    ASSERT_EQ(lines[0]["details"].size(), 1u);
    const std::string failure = lines[0]["details"][0];
    // Where the check and its step are, file:line:column.
    const std::string file = testdata("failing-check.json");
    const std::string expected = file + R"(:4:56: scenario "a check that fails", step 0 (open) at )" + file +
                                 R"(:4:5: expect[0] {"answer":{"getModule":false}}: matches no line)";
    EXPECT_EQ(failure.rfind(expected, 0), 0u) << failure;
    // The line of that kind and the field that differs, then the step's lines.
    EXPECT_NE(failure.find("\n    the nearest line of its kind, [4], differs in:\n"
                           "      answer.getModule: expected false, got true\n    the step's lines:\n"),
              std::string::npos)
        << failure;
    EXPECT_NE(failure.find("[4] {\"answer\":{\"getModule\":true}}"), std::string::npos) << "the step's lines are shown";
    Json differences = Json::parse(R"([{"step": 0, "action": "open", "check": "expect[0]",
        "at": {"line": 4, "column": 56}, "stepAt": {"line": 4, "column": 5},
        "text": "expect[0] {\"answer\":{\"getModule\":false}}: matches no line", "line": 4,
        "nearest": true, "differences": [{"path": "answer.getModule", "expected": false, "got": true}]}])");
    differences[0]["at"]["file"] = file;
    differences[0]["stepAt"]["file"] = file;
    EXPECT_TRUE(jsonEqual(lines[0]["differences"], differences)) << lines[0]["differences"].dump();
    // The JUnit message: the check and the first field that differs.
    const std::string xml = fileText(report);
    EXPECT_NE(xml.find(R"(: matches no line; answer.getModule: expected false, got true" type="failed check">)"),
              std::string::npos)
        << xml;

    EXPECT_EQ(lines[1]["result"], "bad");
    const std::string bad = lines[1]["details"][0];
    EXPECT_NE(bad.find("bad-step.json:5:6: step 1 (packet).hex: 'g' at offset 3 is not a hex digit"),
              std::string::npos)
        << bad;

    // The host holds the module while the module watches one of its
    // sessions: after the releaseModule that destroyed the singleton it
    // refuses to call it, and not before (a session of id 0 is never
    // watched, a rebound one is watched under its new id).
    for (const std::size_t line : {2, 3}) {
        EXPECT_EQ(lines[line]["result"], "bad");
        const std::string released = lines[line]["details"][0];
        EXPECT_NE(released.find("step 6 (ask): the host holds no module"), std::string::npos) << released;
    }

    // A scenario that cannot be played is counted as such, not as failed.
    EXPECT_TRUE(jsonEqual(lines[4], Json{{"passed", 0}, {"failed", 1}, {"bad", 3}, {"crashed", 0}, {"timedOut", 0}}))
        << lines[4].dump();
}

// How often `part` occurs in `text`.
std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = 0; (at = text.find(part, at)) != std::string::npos; at += part.size()) ++count;
    return count;
}

TEST(CliTest, CheckWritesAJunitReport) {
    const std::string report = scratchFile("junit.xml");
    const ChildResult r = sappHost({"check", testdata("deliveries.json"), testdata("markup-name.json"),
                                    testdata("bad-step.json"), "--junit", report});
    ASSERT_TRUE(r.exited && r.code == 1) << r.describe();
    const std::string xml = fileText(report);
    EXPECT_EQ(xml.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites ", 0), 0u) << xml;
    EXPECT_EQ(occurrences(xml, "tests=\"3\" failures=\"1\" errors=\"1\""), 2u) << xml;
    // When and where the suite ran, as the JUnit format has them.
    EXPECT_TRUE(std::regex_search(xml, std::regex(R"(<testsuite [^>]* timestamp="\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d" )"
                                                  R"(hostname="[^"]+">)")))
        << xml;
    EXPECT_NE(xml.find(R"(<testcase name="deliveries echoed" classname="testdata.deliveries" )"), std::string::npos);
    // The failing scenario: its name escaped for an attribute (the control
    // character XML cannot carry replaced), the step, the check and the
    // step's actual lines in the failure.
    EXPECT_NE(xml.find(R"(<testcase name="&lt;markup&gt; &amp; &quot;quotes&quot; &apos;apostrophes&apos; )"
                       "\xEF\xBF\xBD\" classname=\"testdata.markup-name\""),
              std::string::npos)
        << xml;
    EXPECT_NE(xml.find(R"(<failure message=")" + testdata("markup-name.json") +
                       R"(:4:56: scenario &quot;&lt;markup&gt; &amp; &quot;quotes&quot; )"),
              std::string::npos);
    EXPECT_NE(xml.find(R"(markup-name.json:4:5: absent[0] {"log":{"text":"[sapp] SAppModule::getInstance"}}: matches line 0)"
                       "\n    the step's lines:\n      [0] {\"log\":{\"text\":\"[sapp] SAppModule::getInstance\""),
              std::string::npos)
        << xml;
    EXPECT_EQ(xml.find('\x01'), std::string::npos);
    EXPECT_NE(xml.find(R"(" type="bad scenario">)"), std::string::npos);
    EXPECT_EQ(occurrences(xml, "<testcase "), 3u);
    EXPECT_EQ(occurrences(xml, "</testcase>"), 2u);
}

// A crash is named with the step its process had begun, in every output,
// and counted apart from failed checks; the next scenario still plays.
TEST(CliTest, CheckReportsACrashAtItsStepAndGoesOn) {
    const std::string crashing = besideThisTest(SAPP_HOST_CRASH_MODULE);
    const std::string scenario = testdata("failing-check.json");
    const std::string report = scratchFile("junit-crash.xml");
    const std::string page = scratchFile("crash.html");
    const ChildResult r =
        sappHost({"--module", crashing, "check", scenario, scenario, "--junit", report, "--html", page});
    ASSERT_TRUE(r.exited) << r.describe();
    EXPECT_EQ(r.code, 1);
    // Each scenario crashed in its own process.
    EXPECT_EQ(occurrences(r.output, "CRASH at step 0 (open)  a check that fails  (" + scenario +
                                        "): the scenario's process ended with "),
              2u)
        << r.output;
    EXPECT_NE(r.output.find("\n0 passed, 0 failed, 2 crashed\n"), std::string::npos) << r.output;
    EXPECT_EQ(occurrences(fileText(report),
                          R"(" type="crash">CRASH at step 0 (open): the scenario's process ended with )"),
              2u);
    // The HTML report has both, each with what became of its process.
    EXPECT_EQ(occurrences(fileText(page),
                          R"("result":"crash","details":["CRASH at step 0 (open): the scenario's process ended with )"),
              2u);

    const std::vector<Json> lines = jsonLines(sappHost({"--module", crashing, "check", "--json", scenario}).output);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0]["result"], "crash");
    EXPECT_EQ(lines[0]["step"], 0);
    EXPECT_EQ(lines[0]["action"], "open");
    EXPECT_TRUE(jsonEqual(lines[1], Json{{"passed", 0}, {"failed", 0}, {"bad", 0}, {"crashed", 1}, {"timedOut", 0}}))
        << lines[1].dump();
}

// The time limit: a module whose getModule never returns costs its scenario
// the limit and no more; the verdict names the step, the next scenario
// still plays (and passes), and the reports carry the verdict. The limit
// leaves room for a slow process start (Wine, a loaded machine) before the
// scenario that passes.
TEST(CliTest, CheckStopsAScenarioAtItsTimeLimitAndGoesOn) {
    const std::string hanging = besideThisTest(SAPP_HOST_HANG_MODULE);
    const std::string report = scratchFile("junit-timeout.xml");
    const std::string page = scratchFile("timeout.html");
    const ChildResult r = sappHost({"--module", hanging, "check", "--timeout", "10", testdata("hangs-in-open.json"),
                                    testdata("asks-without-session.json"), "--junit", report, "--html", page});
    ASSERT_TRUE(r.exited) << r.describe();
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.output, "TIMEOUT at step 1 (open)  getModule for a session  (" + testdata("hangs-in-open.json") +
                            "): the scenario's process had not ended after 10 s and was stopped (--timeout)\n"
                            "PASS   getModule without a session  (" + testdata("asks-without-session.json") + ")\n"
                            "1 passed, 0 failed, 1 timed out\n");
    const std::string xml = fileText(report);
    EXPECT_NE(xml.find(R"x(<error message="TIMEOUT at step 1 (open): the scenario&apos;s process had not ended after )x"
                       R"x(10 s and was stopped (--timeout)" type="timeout">)x"),
              std::string::npos)
        << xml;
    EXPECT_NE(xml.find(R"(tests="2" failures="0" errors="1")"), std::string::npos) << xml;
    const std::string html = fileText(page);
    EXPECT_NE(html.find(R"("result":"timeout","details":["TIMEOUT at step 1 (open): )"), std::string::npos);
}

// run stops at its time limit too, after the lines so far.
TEST(CliTest, RunStopsAtItsTimeLimit) {
    const std::string hanging = besideThisTest(SAPP_HOST_HANG_MODULE);
    const ChildResult r = sappHost({"--module", hanging, "run", "--timeout", "3", testdata("hangs-in-open.json")});
    ASSERT_TRUE(r.exited) << r.describe();
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.output.find("  answer  getModule false\nstep 1: open\n  # For a session it never returns.\n\n"
                            "TIMEOUT at step 1 (open): the scenario had not ended after 3 s and was stopped "
                            "(--timeout)\n"),
              std::string::npos)
        << r.output;
}

// -j plays several scenarios at a time and prints them in the order given,
// every kind of outcome the same as one at a time; --name picks scenarios
// by a pattern of their names, and one that picks none is an error.
TEST(CliTest, CheckInParallelKeepsTheOrderAndPicksByName) {
    const std::vector<std::string> files = {testdata("failing-check.json"),  testdata("deliveries.json"),
                                            testdata("bad-step.json"),       testdata("no-effect.json"),
                                            testdata("released-module.json"), testdata("markup-name.json"),
                                            testdata("module-lifetime.json")};
    std::vector<std::string> one = {"check", "--json"};
    one.insert(one.end(), files.begin(), files.end());
    std::vector<std::string> four = one;
    four.insert(four.end(), {"-j", "4"});
    const Outputs serial = sappHostWithErrors(one);
    const Outputs parallel = sappHostWithErrors(four);
    ASSERT_TRUE(serial.result.exited && parallel.result.exited);
    EXPECT_EQ(parallel.result.code, serial.result.code);
    EXPECT_EQ(parallel.result.output, serial.result.output);
    EXPECT_EQ(parallel.errors, serial.errors);
    const std::vector<Json> lines = jsonLines(parallel.result.output);
    ASSERT_EQ(lines.size(), files.size() + 1);
    for (std::size_t i = 0; i < files.size(); ++i) EXPECT_EQ(lines[i]["file"], files[i]);

    std::vector<std::string> named = {"check", "--name", "*check?that*"};
    named.insert(named.end(), files.begin(), files.end());
    const ChildResult picked = sappHost(named);
    ASSERT_TRUE(picked.exited) << picked.describe();
    EXPECT_EQ(picked.output, "FAIL   a check that fails  (" + files[0] + ")\n0 passed, 1 failed\n");

    named[2] = "a check";  // no wildcard: the whole name
    const Outputs none = sappHostWithErrors(named);
    ASSERT_TRUE(none.result.exited);
    EXPECT_EQ(none.result.code, 2);
    EXPECT_EQ(none.result.output, "");
    EXPECT_NE(none.errors.find("no scenario's name matches --name a check (of 7 scenarios)"), std::string::npos)
        << none.errors;
}

// A sweep's process that dies is reported, not taken for a verdict; the
// scenario's own play, without a fault, names the step it died in, and the
// scenario is not swept.
TEST(CliTest, SweepReportsACrashedScenario) {
    const std::string file = testdata("failing-check.json");
    const ChildResult crashed = sappHost({"--module", besideThisTest(SAPP_HOST_CRASH_MODULE), "sweep", file});
    ASSERT_TRUE(crashed.exited) << crashed.describe();
    EXPECT_EQ(crashed.code, 1);
    EXPECT_EQ(crashed.output.rfind("CRASH at step 0 (open)  " + file +
                                       ": without a fault: the scenario's process ended with ",
                                   0),
              0u)
        << crashed.output;
    EXPECT_NE(crashed.output.find("\nsweep: " + file + " is not swept\n"), std::string::npos) << crashed.output;
    EXPECT_NE(crashed.output.find("\nsweep: FAILED (1 scenario fails without any fault, see above)\n"),
              std::string::npos);
}

// A sweep whose scenario hangs without a fault goes on with the next
// scenario after the time limit, which plays and is swept.
TEST(CliTest, SweepStopsAScenarioAtItsTimeLimitAndGoesOn) {
    const std::string hanging = besideThisTest(SAPP_HOST_HANG_MODULE);
    const std::string first = testdata("hangs-in-open.json");
    const std::string second = testdata("asks-without-session.json");
    const ChildResult r = sappHost({"--module", hanging, "sweep", "--timeout", "10", first, second});
    ASSERT_TRUE(r.exited) << r.describe();
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.output.rfind("TIMEOUT at step 1 (open)  " + first + ": without a fault: the scenario's process had "
                             "not ended after 10 s and was stopped (--timeout)\nsweep: " + first + " is not swept\n",
                             0),
              0u)
        << r.output;
    EXPECT_NE(r.output.find("\nsweep: \"getModule without a session\" (" + second + "): 1 steps, 0 host calls"),
              std::string::npos)
        << r.output;
}

// What sweep makes of a process that did not report: the step its last
// play had reached and the run it was in, its tagged lines left out and the
// rest relayed; a line cut short names no step.
TEST(CliTest, SweepNamesTheStepAndRunAProcessEndedIn) {
    ChildResult child;
    child.output = "sapp-host-step 0 open\nsapp-host-step 1 event\nsweep: \"x\" (x.json): 2 steps\n"
                   "sapp-host-sweep-run step 1 (session event 8007), call 2 of 3 (getSid)\n"
                   "sapp-host-step 0 open\r\nsapp-host-step 1 event\nsapp-host-step 2 lea";
    child.timedOut = true;
    child.limitSeconds = 7;
    std::ostringstream out;
    SweepRelay relayed = relaySweepProcess(child, "x.json", true, out);
    EXPECT_EQ(relayed.status, 1);
    EXPECT_EQ(out.str(), "sweep: \"x\" (x.json): 2 steps\nTIMEOUT at step 1 (event)  x.json: a play of the scenario "
                         "had not ended after 7 s and the process was stopped (--timeout) during the run of step 1 "
                         "(session event 8007), call 2 of 3 (getSid)\n");

    child.output = "sapp-host-step 0 open\n";
    child.timedOut = false;
    child.exited = true;
    child.code = 3;
    out.str("");
    relayed = relaySweepProcess(child, "x.json", true, out);
    EXPECT_EQ(relayed.status, 1);
    EXPECT_EQ(out.str(), "CRASH at step 0 (open)  x.json: the process ended with exit code 3 before its first run "
                         "with a fault\n");
    child.output.clear();
    out.str("");
    relaySweepProcess(child, "load, call 1", false, out);
    EXPECT_EQ(out.str(), "CRASH before its first step  load, call 1: the process ended with exit code 3\n");
    // A process that reported passes its verdict on.
    child.code = 0;
    child.output = "sapp-host-sweep-clean\nsweep: passed\n";
    out.str("");
    relayed = relaySweepProcess(child, "x.json", true, out);
    EXPECT_EQ(relayed.status, 0);
    EXPECT_TRUE(relayed.clean);
    EXPECT_EQ(out.str(), "sweep: passed\n");
}

// A scenario whose own checks fail fails the sweep as such, told apart from
// what the faults do (run exits 1 on the same file); the fault that leaves
// an entry point is "thrown back to the host".
TEST(CliTest, SweepTellsAScenariosOwnFailureFromTheFaults) {
    const std::string file = testdata("failing-check.json");
    const ChildResult run = sappHost({"run", file});
    ASSERT_TRUE(run.exited) << run.describe();
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.output.find("\n3 steps, 1 failed check\n"), std::string::npos) << run.output;

    const ChildResult r = sappHost({"sweep", file});
    ASSERT_TRUE(r.exited) << r.describe();
    EXPECT_EQ(r.code, 1) << r.output;
    EXPECT_EQ(r.output.rfind("FAIL   " + file + ": the scenario's own checks fail, without any fault (1 failed check; "
                             "sapp-host run shows them); the runs below judge the faults only\n",
                             0),
              0u)
        << r.output;
    EXPECT_NE(r.output.find("getModule x getSid"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find(" runs, thrown back to the host"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("passed on"), std::string::npos) << r.output;
    EXPECT_EQ(occurrences(r.output, "pairs of entry point and host call, every one passed"), 2u) << r.output;
    EXPECT_TRUE(r.output.ends_with("\nsweep: FAILED (1 scenario fails without any fault, see above)\n")) << r.output;
}

// A folder is swept file by file. A scenario with a step that throws
// without a fault (a delete notice cut short) is swept like any other, and
// the report says how that step's runs ended: some in the fault, which came
// before the decode, some in the step's own error. The load's runs play the
// first scenario that throws nothing.
TEST(CliTest, SweepTakesAFolderAndScenariosThatExpectErrors) {
    const std::string folder = scratchFile("sweep-folder");
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    std::ofstream(folder + "/a-throws.json", std::ios::binary) << R"({"steps": [
        {"open": {"session": "a", "sid": 1234}},
        {"packet": {"sid": 1234, "uri": 257490, "hex": "d2040000"}},
        {"leave": 1234}, {"release": 1234}]})";
    std::ofstream(folder + "/b-clean.json", std::ios::binary) << R"({"steps": [
        {"open": {"session": "a", "sid": 1234}},
        {"event": {"session": "a", "type": 8007}},
        {"leave": 1234}, {"release": 1234}]})";
    const ChildResult r = sappHost({"sweep", folder});
    std::filesystem::remove_all(folder);
    ASSERT_TRUE(r.exited) << r.describe();
    EXPECT_EQ(r.code, 0) << r.output;
    // Files found in a folder are named with forward slashes on every system.
    const auto named = [&](const char* file) {
        std::string name = "(";  // appended, not "(" + path: GCC 12 at -O3 warns on that (-Wrestrict)
        name += std::filesystem::path(folder + "/" + file).generic_string();
        name += "): ";
        return name;
    };
    EXPECT_EQ(occurrences(r.output, named("a-throws.json")), 2u) << r.output;
    EXPECT_EQ(occurrences(r.output, named("b-clean.json")), 2u) << r.output;
    const std::regex thrower(R"(\n  step 1 \(onPacket\) without a fault throws UnpackError: [^;\n]+; )"
                             R"(of its (\d+) runs, (\d+) ended in the fault, (\d+) in that exception\n)");
    std::smatch ended;
    ASSERT_TRUE(std::regex_search(r.output, ended, thrower)) << r.output;
    const int runs = std::stoi(ended[1]), inFault = std::stoi(ended[2]), inOwn = std::stoi(ended[3]);
    EXPECT_GT(inFault, 0);
    EXPECT_GT(inOwn, 0) << "a log call's fault leaves the decode error";
    EXPECT_EQ(runs, inFault + inOwn);
    EXPECT_NE(r.output.find("onPacket x unmarshal"), std::string::npos);
    const std::string clean = std::filesystem::path(folder + "/b-clean.json").generic_string();
    EXPECT_NE(r.output.find("; " + clean + " is played after each load\n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("\nsweep: passed\n"), std::string::npos);
}

// The report's lines carry the virtual clock of the scenario's own process:
// the app query goes out at once and again when its 5000 ms timer runs,
// inside the advance step; the steps after it start at the advanced time.
// run --json's lines carry the same.
TEST(CliTest, ReportAndRunLinesCarryTheVirtualTime) {
    const std::string scenario = scratchFile("clock.json");
    const std::string clock = R"({"steps": [
        {"open": {"session": "a", "sid": 1234}},
        {"event": {"session": "a", "type": 8007}},
        {"advance": 12000},
        {"leave": 1234}]})";
    std::ofstream(scenario, std::ios::binary) << clock;
    const std::string page = scratchFile("clock.html");
    const ChildResult r = sappHost({"report", scenario, "-o", page});
    std::filesystem::remove(scenario);
    ASSERT_TRUE(r.exited && r.code == 0) << r.describe() << r.output;
    const std::string html = fileText(page);
    std::filesystem::remove(page);
    const std::string open = "<script id=\"report-data\" type=\"application/json\">";
    const std::size_t begin = html.find(open) + open.size();
    const Json data = Json::parse(html.substr(begin, html.find("</script>", begin) - begin));
    const Json& played = data["scenarios"][0];
    std::vector<std::string> timed;
    for (const Json& step : played["steps"]) {
        for (const Json& line : step["lines"]) {
            if (line["kind"] == "send" || line["kind"] == "task") {
                timed.push_back(line["kind"].get<std::string>() + " " + line["json"].begin().value().value("op", "") +
                                "@" + std::to_string(line["time"].get<uint64_t>()));
            }
        }
    }
    const std::vector<std::string> expected = {"send @0",         "task add@0",     "task run@5000",
                                               "send @5000",      "task run@10000", "task remove@12000"};
    EXPECT_EQ(timed, expected);
    EXPECT_EQ(played["steps"][3]["time"], 12000);
    EXPECT_EQ(played["clock"], 12000);
    EXPECT_TRUE(played["seconds"].is_number());

    // run --json gives every line the same time, after the key of its kind.
    std::ofstream(scenario, std::ios::binary) << clock;
    const ChildResult run = sappHost({"run", "--json", scenario});
    std::filesystem::remove(scenario);
    ASSERT_TRUE(run.exited && run.code == 0) << run.describe() << run.output;
    timed.clear();
    std::size_t lines = 0;
    for (const Json& line : jsonLines(run.output)) {
        if (line.contains("summary")) continue;
        ++lines;
        EXPECT_EQ(line.size(), 2u) << line.dump();
        EXPECT_EQ(std::next(line.begin()).key(), "time") << line.dump();
        const std::string kind = line.begin().key();
        if (kind == "send" || kind == "task") {
            timed.push_back(kind + " " + line.begin().value().value("op", "") + "@" +
                            std::to_string(line["time"].get<uint64_t>()));
        }
        if (kind == "step" && line["step"]["index"] == 3) {
            EXPECT_EQ(line["time"], 12000);
        }
    }
    EXPECT_GT(lines, timed.size());
    EXPECT_EQ(timed, expected);
}

TEST(CliTest, RunEchoesDeliveriesAndShowsDroppedOnes) {
    // The scenario's exact checks pass only if they skip recv lines.
    const ChildResult json = sappHost({"run", "--json", testdata("deliveries.json")});
    ASSERT_TRUE(json.exited && json.code == 0) << json.describe() << json.output;
    const std::vector<Json> lines = runJsonLines(json.output);
    ASSERT_GE(lines.size(), 8u);
    // The echo comes first in its step, before the module's lines.
    const Json step1Line = Json::parse(R"({"step":{"index":1,"action":"packet"}})");
    const auto step1 = static_cast<std::size_t>(std::find(lines.begin(), lines.end(), step1Line) - lines.begin());
    ASSERT_LT(step1 + 2, lines.size()) << json.output;
    EXPECT_TRUE(jsonEqual(lines[step1 + 1], Json::parse(R"({"recv":{"sid":1234,
        "packet":{"uri":820178,"res":200,"record":null,"hex":"6869"}}})")));
    EXPECT_TRUE(lines[step1 + 2].contains("log"));
    const Json request = Json::parse(
        R"({"recv":{"sid":9,"request":{"type":1007,"name":"REQ_APP_DATA","fields":{"appId":5,"data":"6869"}}}})");
    EXPECT_NE(std::find(lines.begin(), lines.end(), request), lines.end()) << json.output;
    // Step lines carry their notes; the last line sums the run up.
    const Json noted = Json::parse(R"({"step":{"index":2,"action":"packet",
        "note":"Dropped: no session 9. Checks never see the echo of the input (its recv line)."}})");
    EXPECT_NE(std::find(lines.begin(), lines.end(), noted), lines.end()) << json.output;
    EXPECT_TRUE(jsonEqual(lines.back(), Json::parse(R"({"summary": {"name": "deliveries echoed", "steps": 7,
        "result": "pass", "failed": 0, "failures": []}})")))
        << lines.back().dump();

    const ChildResult text = sappHost({"run", testdata("deliveries.json")});
    ASSERT_TRUE(text.exited && text.code == 0) << text.describe();
    for (const char* expected : {
             "  recv    sid 1234 ? uri 820178 \"hi\"\n",
             "  event   [a] EVENT_ANNOUNCE_APPS (2000) {\"body\":\"hi\"}\n",
             "\"appMsgType\":0,\"data\":\"0x00ff\"}\n  no effect: no open session holds sid 9\nstep 3: request\n",
             "  recv    sid 9 REQ_APP_DATA (1007) {\"appId\":5,\"data\":\"hi\"}\n  no effect: no open session holds sid 9\n",
             "  watch   [a] remove\n",
             "step 4: set_sid\nstep 5: leave\n",  // host-side only: nothing to say
         }) {
        EXPECT_NE(text.output.find(expected), std::string::npos) << expected << "\n" << text.output;
    }
}

// "no effect" says what the host knows of why: the sessions it holds, and
// the URIs and request types the module asked for once it was asked.
TEST(CliTest, RunSaysWhatTheHostKnowsOfAStepWithoutEffect) {
    const ChildResult r = sappHost({"run", testdata("no-effect.json")});
    ASSERT_TRUE(r.exited && r.code == 0) << r.describe() << r.output;
    std::vector<std::string> said;
    std::istringstream lines(r.output);
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("  no effect")) said.push_back(line);
    }
    EXPECT_EQ(said, (std::vector<std::string>{
                        "  no effect",
                        "  no effect: URI 256770 (1003|2) is not one the module asked for",
                        "  no effect: no open session holds sid 9; URI 256770 (1003|2) is not one the module asked for",
                        "  no effect: request type 1008 is not one the module asked for",
                        "  no effect: no open session holds sid 1234",
                    }))
        << r.output;
}

TEST(CliTest, RecordWritesAPassingScenarioThatRecordsToItself) {
    const std::string recorded = scratchFile("recorded.json");
    const std::string again = scratchFile("recorded-again.json");
    const std::string scenario = std::string(SAPP_SCENARIOS) + "/registry-release-remaining.json";
    for (const std::string& source : {testdata("deliveries.json"), scenario}) {
        SCOPED_TRACE(source);
        std::filesystem::remove(recorded);
        const ChildResult r = sappHost({"record", source, "-o", recorded});
        ASSERT_TRUE(r.exited && r.code == 0) << r.describe();
        const std::string text = fileText(recorded);

        const ChildResult check = sappHost({"check", recorded});
        EXPECT_TRUE(check.exited && check.code == 0) << check.describe() << check.output;
        const ChildResult rerecord = sappHost({"record", recorded, "-o", again});
        ASSERT_TRUE(rerecord.exited && rerecord.code == 0) << rerecord.describe();
        EXPECT_EQ(fileText(again), text);
        const ChildResult inPlace = sappHost({"record", again, "--in-place"});
        ASSERT_TRUE(inPlace.exited && inPlace.code == 0) << inPlace.describe();
        EXPECT_EQ(fileText(again), text);
    }

    // What was kept and what was recorded, in the last small scenario.
    ASSERT_TRUE(sappHost({"record", testdata("deliveries.json"), "-o", recorded}).code == 0);
    const Json root = Json::parse(fileText(recorded));
    EXPECT_EQ(root["name"], "deliveries echoed");
    EXPECT_TRUE(jsonEqual(root["host"], Json::parse(R"({"databases": {"1234": {"dwSGroupId": 1}}})")));
    const Json& steps = root["steps"];
    ASSERT_EQ(steps.size(), 7u);
    // The announce packet: its three lines, exactly; no recv line, no module file name.
    const Json announce = Json::parse(R"({"packet": {"sid": 1234, "uri": 820178, "hex": "6869"}, "expect": [
        {"log": {"text": "[sapp] SAppProtoHandler::onAddAnnouceApp", "macro": "SAPP_LOG", "file": "SAppLog",
                 "line": 10, "category": "ProtocolSession", "level": 1, "via": "sink"}},
        {"log": {"text": "[sess] SessionAppMgr::onAddAnnounceApps, receive onAddAnnounceApps", "macro": "PLOG",
                 "file": "ProtoLog", "line": 39, "category": "ProtocolSession", "level": 1, "via": "sink"}},
        {"event": {"session": "a", "type": 2000, "name": "EVENT_ANNOUNCE_APPS", "fields": {"body": "6869"}}}],
        "exact": true})");
    EXPECT_TRUE(jsonEqual(steps[1], announce)) << steps[1].dump();
    // The dropped packet: its note and action, exact with no lines, absent gone.
    EXPECT_EQ(steps[2]["note"], "Dropped: no session 9. Checks never see the echo of the input (its recv line).");
    EXPECT_EQ(steps[2]["packet"]["record"]["data"], "00ff");
    EXPECT_FALSE(steps[2].contains("expect") || steps[2].contains("absent"));
    EXPECT_EQ(steps[2]["exact"], true);
    // A step that does not call the module gets no checks.
    EXPECT_TRUE(jsonEqual(steps[4], Json::parse(R"({"set_sid": {"session": "a", "sid": 1234}})")));

    // A scenario that cannot be played writes nothing.
    const std::string bad = scratchFile("recorded-bad.json");
    const ChildResult r = sappHost({"record", testdata("released-module.json"), "-o", bad});
    EXPECT_TRUE(r.exited && r.code == 2) << r.describe();
    EXPECT_FALSE(std::filesystem::exists(bad));
}

// record writes a file back in its own form: CR LF line ends and a byte
// order mark stay, in place as with -o; a file with LF ends gets LF ends.
TEST(CliTest, RecordKeepsLineEndsAndByteOrderMark) {
    const std::string crlf = scratchFile("crlf.json");
    std::string text = "\xEF\xBB\xBF" + fileText(testdata("deliveries.json"));
    std::erase(text, '\r');
    std::string withCr;
    for (const char c : text) withCr += c == '\n' ? std::string("\r\n") : std::string(1, c);
    std::ofstream(crlf, std::ios::binary) << withCr;
    const ChildResult r = sappHost({"record", crlf, "--in-place"});
    ASSERT_TRUE(r.exited && r.code == 0) << r.describe();
    const std::string recorded = fileText(crlf);
    EXPECT_TRUE(recorded.starts_with("\xEF\xBB\xBF{\r\n")) << recorded.substr(0, 20);
    EXPECT_EQ(std::count(recorded.begin(), recorded.end(), '\n'), std::count(recorded.begin(), recorded.end(), '\r'))
        << "every line ends in CR LF";
    EXPECT_GT(std::count(recorded.begin(), recorded.end(), '\n'), 10);
    EXPECT_NE(recorded, withCr) << "the expectations were recorded";
    // Recording it again changes nothing, and the same scenario without
    // either records to the same text in the plain form.
    ASSERT_EQ(sappHost({"record", crlf, "--in-place"}).code, 0);
    EXPECT_EQ(fileText(crlf), recorded);
    const std::string plain = scratchFile("plain.json");
    ASSERT_EQ(sappHost({"record", testdata("deliveries.json"), "-o", plain}).code, 0);
    std::string expected = recorded.substr(3);
    std::erase(expected, '\r');
    EXPECT_EQ(fileText(plain), expected);
    std::filesystem::remove(crlf);
    std::filesystem::remove(plain);
}

// One form, one meaning: a byte string in double quotes is the same bytes
// given to decode and in a scenario, and a name a typo away from a record's
// is named.
TEST(CliTest, QuotedBytesAndMisspeltNames) {
    const Outputs decoded = sappHostWithErrors({"decode", "--record", "SdkV2Payload", "\"hi\""});
    EXPECT_EQ(decoded.result.code, 2);
    EXPECT_NE(decoded.errors.find("seqNum: a u32 at byte 0 needs 4 bytes; 2 left, 2 missing"), std::string::npos)
        << decoded.errors;
    const std::string file = scratchFile("quoted.json");
    std::ofstream(file, std::ios::binary) << R"({"steps": [{"open": {"session": "a", "sid": 1234}},)"
                                             R"( {"packet": {"sid": 1234, "uri": 820178, "hex": "\"hi\""}}]})";
    const ChildResult run = sappHost({"run", "--json", file});
    std::filesystem::remove(file);
    ASSERT_TRUE(run.exited && run.code == 0) << run.describe();
    bool seen = false;
    for (const Json& line : jsonLines(run.output)) {
        if (!line.contains("recv")) continue;
        EXPECT_EQ(line["recv"]["packet"]["hex"], "6869") << "the two bytes decode '\"hi\"' reads";
        seen = true;
    }
    EXPECT_TRUE(seen) << run.output;
    const Outputs typo = sappHostWithErrors({"decode", "--record", "SdkV2Paylod", "00"});
    EXPECT_EQ(typo.result.code, 2);
    EXPECT_NE(typo.errors.find("unknown record \"SdkV2Paylod\" (did you mean \"SdkV2Payload\"? records: "),
              std::string::npos)
        << typo.errors;
}

TEST(CliTest, BadArgumentsAndInputExitWithTwo) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frobnicate"},
        {"run", "--uri", "1"},
        {"check"},
        {"check", testdata("no-such-file.json")},
        {"run", testdata("bad-step.json")},
        {"--module", testdata("no-such-module"), "run"},
        {"decode", "--uri", "256466", "abc"},
        {"decode", "--uri", "820178", "00"},
        {"decode", "--record", "NoSuchRecord", "00"},
        {"decode", "--uri", "256466", "0100"},
        {"encode", "--uri", "256466", "{\"uid\": true}"},
        {"encode", "--uri", "256466", "{"},
        {"record", testdata("deliveries.json"), "-o", "x", "--in-place"},
        {"run", "--in-place"},
        {"diagram", testdata("deliveries.json"), testdata("deliveries.json")},
        {"diagram", testdata("released-module.json")},
    };
    for (const auto& args : cases) {
        std::string joined;
        for (const std::string& a : args) joined += a + " ";
        SCOPED_TRACE(joined);
        const ChildResult r = sappHost(args);
        ASSERT_TRUE(r.exited) << r.describe();
        EXPECT_EQ(r.code, 2);
    }
}

TEST(CliTest, EncodeAndDecodeRoundTrip) {
    const std::string fields = R"({"sid": 9, "appIds": [5], "sidAppsZipped": 1,
        "sidApps": {"sidApps": {"9": {"appIds": [5]}}, "sidAttrs": {}}})";
    const ChildResult encoded = sappHost({"encode", "--uri", "257490", fields});
    ASSERT_TRUE(encoded.exited && encoded.code == 0) << encoded.describe();
    const std::string hex = encoded.output.substr(0, encoded.output.find('\n'));

    const ChildResult decoded = sappHost({"decode", "--uri", "257490", hex});
    ASSERT_TRUE(decoded.exited && decoded.code == 0) << decoded.describe();
    const Json back = Json::parse(decoded.output);
    EXPECT_EQ(back["sidApps"]["sidApps"]["9"]["appIds"], Json::array({5}));

    const ChildResult again = sappHost({"encode", "--record", "PDelAppReq", back.dump()});
    EXPECT_EQ(again.output, hex + "\n");

    // The same fields on one line, which encode reads back as well.
    const ChildResult compact = sappHost({"decode", "--compact", "--uri", "257490", hex});
    ASSERT_TRUE(compact.exited && compact.code == 0) << compact.describe();
    EXPECT_EQ(compact.output, back.dump() + "\n");
    EXPECT_EQ(sappHost({"encode", "--uri", "257490", compact.output}).output, hex + "\n");
}

// What run prints is taken back as it is: hex after 0x, a byte string in
// quotes or as text, a URI as number|service. An unknown URI gets the list,
// a misspelt command the nearest.
TEST(CliTest, PrintedFormsAreReadBack) {
    const ChildResult hex = sappHost({"decode", "--compact", "--uri", "3202|210", "0xd204000006000000000000000000"});
    EXPECT_EQ(hex.output, "{\"sid\":1234,\"pid\":6,\"uid\":0,\"extra\":\"\"}\n");
    EXPECT_EQ(sappHost({"decode", "--compact", "--uri", "819922", "\"0xd204000006000000000000000000\""}).output,
              hex.output);
    EXPECT_EQ(sappHost({"encode", "--record", "VersionItem", R"({"str1": "echo", "str2": "0x6563686f"})"}).output,
              std::string(24, '0') + "04006563686f" "04006563686f\n");

    const Outputs unknown = sappHostWithErrors({"decode", "--uri", "12345", "00"});
    EXPECT_EQ(unknown.result.code, 2);
    EXPECT_NE(unknown.errors.find("URI 12345 (48|57) is not one the module sends or receives; the URIs: "
                                  "256466 (1001|210) PGetAppsReq, 256978 (1003|210) PAddAppReq, "),
              std::string::npos)
        << unknown.errors;
    const Outputs typo = sappHostWithErrors({"chek", testdata("deliveries.json")});
    EXPECT_EQ(typo.result.code, 2);
    EXPECT_EQ(typo.errors, "sapp-host: no command chek (did you mean check?)\n(sapp-host help: usage)\n");
}

// Bytes that decode but are not in the form the records write: decode warns
// (or fails with --strict) naming the field, and encode of what it printed
// writes the canonical bytes.
TEST(CliTest, DecodeNamesTheFirstFieldOfInputNotInCanonicalForm) {
    const struct {
        const char* record;
        std::string hex;
        std::string field;
        std::string canonical;
    } cases[] = {
        // idSet [5, 3], then [3, 3]
        {"PAddAppReq", std::string(52, '0') + "0200000005000000030000000000000000000000", "idSet[0]",
         std::string(52, '0') + "0200000003000000050000000000000000000000"},
        {"PAddAppReq", std::string(52, '0') + "0200000003000000030000000000000000000000", "idSet",
         std::string(52, '0') + "01000000030000000000000000000000"},
        // sidApps keys 7, 7
        {"PluginSid2AppsMap", "020000000700000000000000070000000000000000000000", "sidApps",
         "01000000070000000000000000000000"},
        // apps keys 9, 4
        {"PluginAppPackMap",
         "02000000" "09000000" "09000000" + std::string(66, '0') + "04000000" "04000000" + std::string(66, '0'),
         "apps.9", "02000000" "04000000" "04000000" + std::string(66, '0') + "09000000" "09000000" +
                       std::string(66, '0')},
        // flag byte 2
        {"AppInfoPack", std::string(48, '0') + "02", "flag", std::string(48, '0') + "01"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.hex);
        const ChildResult decoded = sappHost({"decode", "--record", c.record, c.hex});
        ASSERT_TRUE(decoded.exited) << decoded.describe();
        EXPECT_EQ(decoded.code, 0);
        const ChildResult strict = sappHost({"decode", "--record", c.record, c.hex, "--strict"});
        EXPECT_EQ(strict.code, 1);
        // The field the warning names.
        const std::string bytes = fromHex(c.hex);
        const auto nonCanonical = checkCanonical(c.record, bytes, decodeRecord(c.record, bytes, Direction::Down));
        ASSERT_TRUE(nonCanonical.has_value());
        EXPECT_EQ(nonCanonical->field, c.field);
        const ChildResult encoded = sappHost({"encode", "--record", c.record, decoded.output});
        EXPECT_EQ(encoded.output, c.canonical + "\n");
        const ChildResult again = sappHost({"decode", "--record", c.record, c.canonical, "--strict"});
        EXPECT_EQ(again.code, 0) << again.error;
    }
}

// Whatever the JSON library refuses is bad input naming the file: numbers
// out of every range (1e400) as much as syntax errors.
TEST(CliTest, NumbersOutOfRangeAreBadInputNamingTheFile) {
    const std::string scenario = testdata("number-out-of-range.json");
    const ChildResult run = sappHost({"run", scenario});
    ASSERT_TRUE(run.exited) << run.describe();
    EXPECT_EQ(run.code, 2);
    const ChildResult check = sappHost({"check", "--json", scenario});
    ASSERT_TRUE(check.exited) << check.describe();
    const std::vector<Json> lines = jsonLines(check.output);
    ASSERT_EQ(lines.size(), 2u) << check.output;
    EXPECT_EQ(lines[0]["result"], "bad");
    const std::string details = lines[0]["details"][0];
    EXPECT_EQ(details.rfind(scenario + ":1:88: not valid JSON: number overflow parsing '1e400'", 0), 0u) << details;
    const ChildResult encode = sappHost({"encode", "--uri", "256466", R"({"uid": 1e400})"});
    EXPECT_EQ(encode.code, 2);
}

#if defined(__SANITIZE_ADDRESS__)
#  define SAPP_HOST_TEST_ASAN 1
#elif defined(__has_feature)
#  if __has_feature(address_sanitizer)
#    define SAPP_HOST_TEST_ASAN 1
#  endif
#endif

// A scenario of `packets` app-list notices, each listing app 7 `ids` times:
// the module logs a line per listed id (scripts/long-scenario.sh writes the
// same shape for docs/robustness.md).
std::string longScenario(int packets, int ids) {
    std::string list = "7";
    for (int i = 1; i < ids; ++i) list += ",7";
    std::string text = R"({"host": {"databases": {"1234": {"dwSGroupId": 1}}}, "steps": [)"
                       R"({"open": {"session": "a", "sid": 1234}})";
    for (int i = 0; i < packets; ++i) {
        text += R"(, {"packet": {"sid": 1234, "uri": 256978, "record": {"sid": 1234, "appIds": [)" + list +
                R"(]}}, "expect": [{"event": {"type": 1032}}], "absent": [{"error": {}}]})";
    }
    return text + R"(, {"leave": 1234}, {"release": 1234}]})";
}

// sapp-host's memory follows the largest step, not the length of the
// scenario: five notices need little more than one, where keeping their
// trace lines (100,000 log lines more) would take over 100 MB more.
TEST(CliTest, MemoryDoesNotGrowWithTheScenario) {
#if defined(SAPP_HOST_TEST_ASAN)
    GTEST_SKIP() << "the sanitizer's allocator keeps freed memory: resident size says nothing here";
#endif
    uint64_t peak[2] = {};
    for (const int packets : {1, 5}) {
        const std::string file = scratchFile("long-" + std::to_string(packets) + ".json");
        std::ofstream(file, std::ios::binary) << longScenario(packets, 20000);
        const ChildResult r = sappHost({"run", "--json", file});
        std::filesystem::remove(file);
        ASSERT_TRUE(r.exited && r.code == 0) << r.describe();
#if defined(_WIN32)
        // Windows keeps a finished process's counters; Wine answers 0.
        if (r.peakResident == 0) GTEST_SKIP() << "no peak working set of a finished process here";
#endif
        ASSERT_GT(r.peakResident, 0u) << "no peak resident size on this platform";
        peak[packets == 5] = r.peakResident;
    }
    EXPECT_LT(peak[1], peak[0] + 24 * 1024 * 1024) << "peak resident bytes " << peak[0] << " then " << peak[1];
}

// The parsed steps do not accumulate: eight times as many steps cost no
// more than the longer text, which is held, and a little. Each step is the
// smallest there is, a clock step of 16 bytes of text; kept parsed, each
// cost some 470 bytes more, 20 MB for the longer scenario.
TEST(CliTest, MemoryDoesNotGrowWithTheNumberOfSteps) {
#if defined(SAPP_HOST_TEST_ASAN)
    GTEST_SKIP() << "the sanitizer's allocator keeps freed memory: resident size says nothing here";
#endif
    uint64_t peak[2] = {};
    std::size_t textBytes[2] = {};
    for (const int steps : {5000, 40000}) {
        std::string text = R"({"steps": [{"advance": 1})";
        for (int i = 1; i < steps; ++i) text += R"(, {"advance": 1})";
        text += "]}";
        const std::string file = scratchFile("steps-" + std::to_string(steps) + ".json");
        std::ofstream(file, std::ios::binary) << text;
        const ChildResult r = sappHost({"run", "--json", file});
        std::filesystem::remove(file);
        ASSERT_TRUE(r.exited && r.code == 0) << r.describe();
        ASSERT_EQ(jsonLines(r.output).size(), static_cast<std::size_t>(steps) + 1) << "a step line each, a summary";
#if defined(_WIN32)
        if (r.peakResident == 0) GTEST_SKIP() << "no peak working set of a finished process here";
#endif
        ASSERT_GT(r.peakResident, 0u) << "no peak resident size on this platform";
        peak[steps == 40000] = r.peakResident;
        textBytes[steps == 40000] = text.size();
    }
    const uint64_t allowed = textBytes[1] - textBytes[0] + 4 * 1024 * 1024;
    EXPECT_LT(peak[1], peak[0] + allowed) << "peak resident bytes " << peak[0] << " then " << peak[1];
}

// One small packet whose event is large (an app pack of many version
// items): what playing it costs grows a few times the event's own memory,
// not ten or twenty times. The module's event and the stand-in host's copy
// of it take twice the event; the tool's lines, with and without --json,
// some four to five times more (docs/robustness.md). Building the event's
// display as a second tree, and a check keeping a copy of a line it had
// already compared, made it 10 times (--json) and 23 times (readable).
TEST(CliTest, MemoryFollowsALargeEventAFewTimesOver) {
#if defined(SAPP_HOST_TEST_ASAN)
    GTEST_SKIP() << "the sanitizer's allocator keeps freed memory: resident size says nothing here";
#endif
    const auto scenario = [](std::size_t items) {
        Json versions = Json::array();
        for (std::size_t i = 0; i < items; ++i) versions.push_back(Json::object());
        const Json fields = {{"sid", 1234}, {"appIds", {7}}, {"appPacksZipped", 1},
                             {"appPacks", {{"apps", {{"7", {{"appId", 7}, {"versions", versions}}}}}}}};
        return R"({"host": {"databases": {"1234": {"dwSGroupId": 1}}}, "steps": [{"open": {"session": "a", "sid": 1234}},)"
               R"( {"packet": {"sid": 1234, "uri": 256978, "hex": ")" +
               toHex(encodeRecord("PAddAppReq", fields, "the test's notice")) +
               R"("}, "expect": [{"event": {"type": 1032}}]}]})";
    };
    constexpr std::size_t kItems[2] = {8000, 64000};
    // A version item as the event's record holds it: a u32, four strings and
    // two u32 more, 152 bytes with libstdc++'s 32-byte strings (the test
    // runs where a finished process reports its peak: Linux).
    constexpr uint64_t kItemBytes = 152;
    const uint64_t eventGrowth = (kItems[1] - kItems[0]) * kItemBytes;
    for (const bool json : {true, false}) {
        uint64_t peak[2] = {};
        for (int i = 0; i < 2; ++i) {
            const std::string file = scratchFile("event-" + std::to_string(kItems[i]) + ".json");
            std::ofstream(file, std::ios::binary) << scenario(kItems[i]);
            std::vector<std::string> args = {"run", file};
            if (json) args.push_back("--json");
            const ChildResult r = sappHost(args);
            std::filesystem::remove(file);
            ASSERT_TRUE(r.exited && r.code == 0) << r.describe();
#if defined(_WIN32)
            if (r.peakResident == 0) GTEST_SKIP() << "no peak working set of a finished process here";
#endif
            ASSERT_GT(r.peakResident, 0u) << "no peak resident size on this platform";
            peak[i] = r.peakResident;
        }
        EXPECT_LT(peak[1], peak[0] + 8 * eventGrowth)
            << (json ? "run --json" : "run") << ": peak resident bytes " << peak[0] << " then " << peak[1]
            << ", the events " << eventGrowth << " bytes apart";
    }
}

// A key given twice in one object is a bad scenario naming the key, in the
// scenario's own files as much as anywhere.
TEST(CliTest, DuplicateKeysAreBadScenarios) {
    const std::string file = scratchFile("duplicate.json");
    std::ofstream(file, std::ios::binary) << R"({"steps": [{"open": {"session": "a", "sid": 1, "sid": 2}}]})";
    const Outputs r = sappHostWithErrors({"run", file});
    ASSERT_TRUE(r.result.exited) << r.result.describe();
    EXPECT_EQ(r.result.code, 2);
    EXPECT_EQ(r.errors, "sapp-host run: bad scenario: " + file + R"(:1:48: step 0 (open): duplicate key "sid")" "\n");
}

// check loads the module itself before it plays anything: a file that is
// not the module is one error, as for the other commands.
TEST(CliTest, CheckStopsAtOnceWhenTheModuleCannotBeLoaded) {
    const struct {
        std::string module;
        std::string reason;
    } cases[] = {
        {besideThisTest(SAPP_HOST_NOT_A_MODULE), "does not export getModule and releaseModule"},
        {testdata("bad-step.json"), "cannot load the module " + testdata("bad-step.json") + ": "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.module);
        const Outputs r = sappHostWithErrors({"--module", c.module, "check", SAPP_SCENARIOS});
        ASSERT_TRUE(r.result.exited) << r.result.describe();
        EXPECT_EQ(r.result.code, 2);
        EXPECT_EQ(r.result.output, "") << "nothing was played";
        EXPECT_EQ(r.errors.rfind("sapp-host check: ", 0), 0u) << r.errors;
        EXPECT_NE(r.errors.find(c.reason), std::string::npos) << r.errors;
        EXPECT_EQ(occurrences(r.errors, "\n"), 1u) << r.errors;
    }
}

// An output that cannot be written is found before the first scenario
// plays, and the error names the path as the user gave it.
TEST(CliTest, OutputPathsAreCheckedBeforeAnythingPlays) {
    const std::string missing = scratchFile("no-such-folder");
    std::filesystem::remove_all(missing);
    const std::string folder = scratchFile("a-folder");
    std::filesystem::create_directories(folder);
    const std::string missingReason = ": cannot write there: the folder " + missing + " does not exist\n";
    const struct {
        std::vector<std::string> args;
        std::string errors;
    } cases[] = {
        {{"check", testdata("deliveries.json"), "--junit", missing + "/report.xml"},
         "sapp-host check: " + missing + "/report.xml" + missingReason},
        {{"check", testdata("deliveries.json"), "--junit", folder},
         "sapp-host check: " + folder + ": a folder, not a file\n"},
        {{"record", testdata("deliveries.json"), "-o", missing + "/recorded.json"},
         "sapp-host record: " + missing + "/recorded.json" + missingReason},
        {{"report", testdata("deliveries.json"), "-o", missing + "/report.html"},
         "sapp-host report: " + missing + "/report.html" + missingReason},
        {{"check", testdata("deliveries.json"), "--html", folder},
         "sapp-host check: " + folder + ": a folder, not a file\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.back());
        const Outputs r = sappHostWithErrors(c.args);
        ASSERT_TRUE(r.result.exited) << r.result.describe();
        EXPECT_EQ(r.result.code, 2);
        EXPECT_EQ(r.result.output, "");
        EXPECT_EQ(r.errors, c.errors);
    }
    EXPECT_FALSE(std::filesystem::exists(missing));
    std::filesystem::remove(folder);
}

// Bytes after the record: a warning, an error with --strict. Bytes that run
// short: the field, its offset and the missing bytes.
TEST(CliTest, DecodeStrictRejectsBytesAfterTheRecord) {
    const std::string hex = "d2040000" "06000000" "00000000" "0000";
    const Outputs lenient = sappHostWithErrors({"decode", "--uri", "819922", hex + "00ff"});
    EXPECT_EQ(lenient.result.code, 0);
    EXPECT_EQ(lenient.errors,
              "sapp-host decode: warning: 2 bytes after the end of the PGetAnnounceApps (from byte 14): 00ff\n");
    const Outputs strict = sappHostWithErrors({"decode", "--uri", "819922", hex + "00ff", "--strict"});
    EXPECT_EQ(strict.result.code, 1);
    EXPECT_EQ(strict.errors,
              "sapp-host decode: error: 2 bytes after the end of the PGetAnnounceApps (from byte 14): 00ff\n");
    EXPECT_EQ(sappHostWithErrors({"decode", "--uri", "819922", hex, "--strict"}).result.code, 0);
    const Outputs truncated = sappHostWithErrors({"decode", "--uri", "819922", "d2040000060000"});
    EXPECT_EQ(truncated.result.code, 2);
    EXPECT_EQ(truncated.errors, "sapp-host decode: the bytes do not decode as PGetAnnounceApps: pid: a u32 at "
                                "byte 4 needs 4 bytes; 3 left, 1 missing\n");
}

#if !defined(_WIN32)
// scripts/run.sh leaves standard output to the trace: with --json, JSON
// Lines and nothing else (here against this test's own build). A file is
// named from the folder it is called in, as for any command.
TEST(CliTest, RunScriptWritesOnlyTheTraceToStandardOutput) {
    setenv("SAPP_RUN_BUILD", SAPP_BUILD_DIR, 1);
    const std::string errors = scratchFile("run-script.txt");
    const ChildResult r = runChild("/bin/bash", {"-c", "cd \"$0\" && exec \"$1\" uplink.json --json", SAPP_SCENARIOS,
                                                 std::string(SAPP_SOURCE_DIR) + "/scripts/run.sh"},
                                   errors);
    unsetenv("SAPP_RUN_BUILD");
    ASSERT_TRUE(r.exited && r.code == 0) << r.describe() << fileText(errors);
    std::size_t lines = 0;
    for (std::size_t begin = 0, end; (end = r.output.find('\n', begin)) != std::string::npos; begin = end + 1) {
        const std::string line = r.output.substr(begin, end - begin);
        EXPECT_TRUE(Json::accept(line) && Json::parse(line).is_object()) << line;
        ++lines;
    }
    EXPECT_GT(lines, 100u);
    EXPECT_TRUE(r.output.ends_with("\n"));
    EXPECT_EQ(r.output.rfind(R"({"step":{"index":0,"action":"open"},"time":0})" "\n", 0), 0u);
    EXPECT_NE(fileText(errors).find("run.sh: building"), std::string::npos);
}
#endif

// The version is the package's, wherever the option stands.
TEST(CliTest, VersionIsThePackages) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--version"}, {"check", "--version"}}) {
        const ChildResult r = sappHost(args);
        ASSERT_TRUE(r.exited);
        EXPECT_EQ(r.code, 0);
        EXPECT_EQ(r.output, "sapp-host " SAPP_VERSION "\n");
    }
}

TEST(CliTest, HelpForEachCommand) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--help"}, {"help"}, {"help", "run"}, {"run", "--help"}, {"check", "--help"},
             {"decode", "--help"}, {"encode", "-h"}, {"help", "record"}, {"diagram", "--help"}, {"help", "soak"},
             {"help", "report"}, {"sweep", "--help"}}) {
        const ChildResult r = sappHost(args);
        ASSERT_TRUE(r.exited);
        EXPECT_EQ(r.code, 0) << args.front();
        EXPECT_EQ(r.output.rfind("usage: sapp-host", 0), 0u) << r.output;
    }
}

}  // namespace
}  // namespace sapphost
