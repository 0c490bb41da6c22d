#include "tools/sapp-host/report/Report.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include "tools/sapp-host/records/RecordJson.h"
#include "tools/sapp-host/cli/SappHostChild_test.h"

namespace sapphost {
namespace {

using namespace childtest;

ScenarioOutcome outcomeOf(const std::string& file, const std::string& name, const std::string& result) {
    ScenarioOutcome outcome;
    outcome.file = file;
    outcome.name = name;
    outcome.result = result;
    return outcome;
}

// The report's part for a scenario played by the sapp-host beside the tests
// in a process of its own, as `report` plays each, and built from the trace
// that process printed.
Json reportOf(const std::string& text, const std::string& result = "pass") {
    const Scenario scenario = parseScenario(text, "test");
    const std::string file = scratchFile("scenario.json");
    std::ofstream(file, std::ios::binary) << text;
    const ChildResult child = sappHost({"run", file, "--json"});
    std::filesystem::remove(file);
    EXPECT_TRUE(child.exited) << child.describe() << child.error;
    // Each line of run --json carries its virtual time beside its kind.
    std::vector<TracedLine> trace;
    for (Json& line : jsonLines(child.output)) {
        if (line.contains("summary")) continue;
        const uint64_t time = line.at("time");
        line.erase("time");
        trace.push_back({time, std::move(line)});
    }
    return reportScenario(0, outcomeOf("test", scenario.name, result), scenario, trace);
}

// Passed checks stand beside failed ones, which carry what the line differs
// in; effect numbers skip recv lines, as the checks count them; a sid is
// named by the session that took it last (rebind), so recv lines filter by
// session too.
TEST(ReportTest, StepsCarryEveryCheckAndNameSessionsBySid) {
    const Json report = reportOf(R"({"steps": [
        {"open": {"session": "a", "sid": 5}},
        {"event": {"session": "a", "type": 8000, "sid": 9, "asid": 5}},
        {"packet": {"sid": 9, "uri": 256978, "record": {"sid": 9, "appIds": [4]}},
         "expect": [{"event": {"name": "EVENT_APPS_ADDED"}}, {"event": {"fields": {"sid": 8}}}],
         "absent": [{"send": {}}, {"event": {}}]}]})",
                                 "fail");
    const Json& step = report["steps"][2];
    EXPECT_EQ(step["result"], "fail");
    ASSERT_EQ(step["lines"][0]["kind"], "recv");
    EXPECT_EQ(step["lines"][0]["session"], "a");
    EXPECT_TRUE(step["lines"][0]["effect"].is_null());
    std::vector<std::string> outcomes;
    for (const Json& check : step["checks"]) {
        outcomes.push_back(check["label"].get<std::string>() + (check["passed"].get<bool>() ? " pass" : " fail"));
    }
    EXPECT_EQ(outcomes, (std::vector<std::string>{"expect[0] pass", "expect[1] fail", "absent[0] pass",
                                                  "absent[1] fail"}));
    const Json& failed = step["checks"][1];
    ASSERT_TRUE(failed["line"].is_number());
    const Json& compared = step["lines"][failed["line"].get<std::size_t>() + 1];
    EXPECT_EQ(compared["effect"], failed["line"]);
    EXPECT_EQ(compared["kind"], "event");
    EXPECT_EQ(failed["differences"], Json::parse(R"([{"path": "event.fields.sid", "expected": 8, "got": 9}])"));
    // The host's action is the step's input and its first diagram row.
    EXPECT_EQ(report["steps"][0]["input"], "getModule(a, sid 5)");
    EXPECT_TRUE(report["steps"][0]["diagram"][0]["line"].is_null());
    EXPECT_EQ(report["sessions"], Json::array({"a"}));
}

// A nested payload that is not zipped is a run of the record's bytes: its
// fields' spans join the record's, named through the payload's field and
// before the field's own span, so one dump shows them. A zipped one comes
// with its own inflated bytes and spans. Bytes whose fields encode back to
// them are canonical (a step may give them by fields); trailing bytes are not.
TEST(ReportTest, NestedPayloadsPointAtTheirBytes) {
    const std::string trailing =
        encodeRecord("PAppMsgToClient", Json::parse(R"({"appId": 6, "appMsgType": 3, "data": "00ff"})"), "t") + "\xee";
    const Json report = reportOf(R"({"steps": [
        {"open": {"session": "a", "sid": 5}},
        {"packet": {"sid": 5, "uri": 256978, "record": {"sid": 5, "appIds": [7],
            "appPacks": {"apps": {"7": {"appId": 7, "sdkVersion": 3}}},
            "sidApps": {"sidApps": {"5": {"appIds": [7]}}}, "sidAppsZipped": 1}}},
        {"packet": {"sid": 5, "uri": 2611202, "hex": ")" + toHex(trailing) + R"("}}]})");
    const Json& line = report["steps"][1]["lines"][0];
    const std::string hex = line["json"]["recv"]["packet"]["hex"];
    const Json& record = line["record"];
    EXPECT_TRUE(record["canonical"]);
    const Json& payloads = record["payloads"];
    ASSERT_EQ(payloads.size(), 2u);
    EXPECT_EQ(payloads[0]["path"], "appPacks");
    EXPECT_FALSE(payloads[0]["zipped"]);
    const std::size_t begin = payloads[0]["begin"], end = payloads[0]["end"];
    const std::string appPacks = encodeRecord("PluginAppPackMap", line["json"]["recv"]["packet"]["fields"]["appPacks"], "t");
    EXPECT_EQ(hex.substr(2 * begin, 2 * (end - begin)), toHex(appPacks));
    // appPacks: the count of apps (4 bytes), the key 7 (4), then the app's appId.
    std::vector<std::string> order;
    for (const Json& span : record["spans"]) {
        order.push_back(span["path"]);
        if (span["path"] == "appPacks.apps.7.appId") {
            EXPECT_EQ(span["begin"], begin + 8);
            EXPECT_EQ(hex.substr(2 * (begin + 8), 8), "07000000");
        }
    }
    const auto at = [&order](const std::string& path) { return std::find(order.begin(), order.end(), path) - order.begin(); };
    EXPECT_LT(at("appPacks.apps.7.appId"), at("appPacks.apps.7"));
    EXPECT_LT(at("appPacks.apps"), at("appPacks"));
    EXPECT_LT(at("appPacks"), static_cast<std::ptrdiff_t>(order.size()));
    EXPECT_EQ(payloads[1]["path"], "sidApps");
    EXPECT_TRUE(payloads[1]["zipped"]);
    EXPECT_EQ(payloads[1]["hex"], "0100000005000000010000000700000000000000");
    EXPECT_EQ(payloads[1]["spans"].back(), Json::parse(R"({"path": "sidAttrs", "begin": 16, "end": 20})"));
    EXPECT_EQ(at("sidApps.sidAttrs"), static_cast<std::ptrdiff_t>(order.size()));  // its spans stay its own
    EXPECT_FALSE(report["steps"][2]["lines"][0]["record"]["canonical"]);
}

// A failed check on a send carries the record the send would have been: the
// actual fields with the expected values put in, encoded, with spans, so the
// page can show both side by side. The appData of an SDK V2 uplink payload
// is its last bytes (a u16 length and the data), and only the data changes.
TEST(ReportTest, AFailedSendCheckCarriesTheExpectedRecord) {
    const Json report = reportOf(R"({"host": {"databases": {"1": {"dwSGroupId": 1}}}, "steps": [
        {"open": {"session": "a", "sid": 1}},
        {"event": {"session": "a", "type": 8002, "sid": 1, "uid": 11}},
        {"packet": {"sid": 1, "uri": 256978, "record": {"sid": 1, "appIds": [5],
            "appPacks": {"apps": {"5": {"appId": 5, "proxyIds": [9], "sdkVersion": 2}}}}}},
        {"request": {"sid": 1, "appId": 5, "data": "6869"},
         "expect": [{"send": {"fields": {"data": {"appData": "6870"}}}}, {"send": {"uri": 2611458}}]}]})",
                                 "fail");
    const Json& step = report["steps"][3];
    const Json& line = step["lines"][1];
    ASSERT_EQ(line["kind"], "send");
    EXPECT_EQ(line["sid"], 1);
    const std::string got = line["json"]["send"]["hex"];
    const Json& checks = step["checks"];
    ASSERT_EQ(checks.size(), 2u);
    ASSERT_TRUE(checks[0].contains("expected")) << checks[0].dump();
    const Json& expected = checks[0]["expected"];
    EXPECT_EQ(expected["hex"], got.substr(0, got.size() - 4) + "6870");
    EXPECT_EQ(expected["fields"]["data"]["appData"], "6870");
    const auto appData = [](const Json& record) {
        for (const Json& span : record["spans"]) {
            if (span["path"] == "data.appData") return span;
        }
        return Json();
    };
    const Json span = appData(expected["record"]);
    EXPECT_EQ(span, appData(line["record"]));
    EXPECT_EQ(span["end"], got.size() / 2);
    EXPECT_EQ(span["end"].get<std::size_t>() - span["begin"].get<std::size_t>(), 4u);  // its u16 length and "hi"
    // A difference outside the fields (the URI) leaves no record to show.
    EXPECT_FALSE(checks[1].contains("expected")) << checks[1].dump();
}

// A long line's text is its start, cut after 1000 characters, and says how
// much more there is; its record holds the rest.
TEST(ReportTest, LongLinesAreCut) {
    const Json report = reportOf(R"({"steps": [{"open": {"session": "a", "sid": 5}},
        {"packet": {"sid": 5, "uri": 820178, "hex": ")" + std::string(1600, 'a') + R"("}}]})");
    const std::string text = report["steps"][1]["lines"][0]["text"];
    EXPECT_NE(text.find("recv    sid 5 ? uri 820178 0xaaaa"), std::string::npos) << text;
    EXPECT_TRUE(text.ends_with("more characters)")) << text;
    EXPECT_LT(text.size(), 1040u);
    EXPECT_LT(text.find("recv"), 10u);
}

// The scenario file "dir with space/\u00fc#1.json" as a command line hands
// its name to main: in UTF-8 here, in the ANSI code page on Windows (which
// path::string() of mingw's library does not give: it answers UTF-8, yet
// reads a narrow name as ANSI).
std::string commandLineName() {
#ifdef _WIN32
    const wchar_t* name = L"dir with space/\u00fc#1.json";
    const int size = WideCharToMultiByte(CP_ACP, 0, name, -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, name, -1, out.data(), size, nullptr, nullptr);
    out.pop_back();
    return out;
#else
    return "dir with space/\xc3\xbc#1.json";
#endif
}

// A report names what lies beside it by relative paths, so that it can be
// moved, or opened on another machine, along with them: a scenario file's
// link is its path relative to the page's folder, every UTF-8 byte that is
// not a plain path character escaped (a colon too, which would read as a
// scheme), and the module is named the same way. Without a page there is
// no link.
TEST(ReportTest, ScenariosAndTheModuleAreNamedRelativeToThePage) {
    const std::string file = commandLineName();
    const ScenarioOutcome outcome = outcomeOf(file, "n", "bad");
    const Json beside = reportScenario(0, outcome, std::nullopt, {}, "report.html");
    EXPECT_EQ(beside["url"], "dir%20with%20space/%C3%BC%231.json");
    EXPECT_EQ(beside["file"], file);
    EXPECT_TRUE(beside["steps"].empty());
    const Json below = reportScenario(0, outcome, std::nullopt, {}, "out/pages/report.html");
    EXPECT_EQ(below["url"], "../../dir%20with%20space/%C3%BC%231.json");
#if !defined(_WIN32)
    // A colon in the first segment would read as a URL scheme. (On Windows
    // "a:" names a drive, and no file name holds a colon.)
    EXPECT_EQ(reportScenario(0, outcomeOf("a:b.json", "n", "bad"), std::nullopt, {}, "r.html")["url"],
              "a%3Ab.json");
#endif
    EXPECT_EQ(reportScenario(0, outcome, std::nullopt, {}, "")["url"], "");

    const std::string root = std::filesystem::current_path().root_path().generic_string();
    const Json data = reportData(root + "builds/dev/bin/libsapp.so", "t", Json::array(), root + "builds/report.html");
    EXPECT_EQ(data["module"], "dev/bin/libsapp.so");
    EXPECT_EQ(reportData(root + "builds/libsapp.so", "t", Json::array(), root + "out/report.html")["module"],
              "../builds/libsapp.so");
    const std::string page = reportPage(data);
    EXPECT_EQ(page.find("file:"), std::string::npos);
    EXPECT_EQ(page.find(root + "builds"), std::string::npos);
}

// Text from the session cannot end the script element that carries the data.
TEST(ReportTest, EmbeddedDataCannotCloseItsScript) {
    const Json data = reportData("m", "t", Json::array({{{"name", "</script><script>alert(1)</script>"},
                                                         {"result", "pass"}}}),
                                 "report.html");
    const std::string page = reportPage(data);
    const std::size_t open = page.find("<script id=\"report-data\"");
    ASSERT_NE(open, std::string::npos);
    const std::size_t close = page.find("</script>", open);
    const std::string embedded = page.substr(page.find('>', open) + 1, close - page.find('>', open) - 1);
    EXPECT_EQ(Json::parse(embedded)["scenarios"][0]["name"], "</script><script>alert(1)</script>");
    EXPECT_EQ(Json::parse(embedded)["passed"], 1);
}

}  // namespace
}  // namespace sapphost
