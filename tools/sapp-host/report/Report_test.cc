#include "tools/sapp-host/report/Report.h"

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "tools/sapp-host/records/RecordJson.h"
#include "tools/sapp-host/cli/SappHostChild_test.h"

namespace sapphost {
namespace {

using namespace childtest;

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
    const std::vector<Json> trace = jsonLines(child.output);
    return reportScenario(0, {"test", scenario.name, result, {}, Json::array(), 0}, scenario, trace);
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

// A nested payload that is not zipped is given as the range of the record's
// bytes it occupies; a zipped one as its own inflated bytes; spans of both
// are the payload's own.
TEST(ReportTest, NestedPayloadsPointAtTheirBytes) {
    const Json report = reportOf(R"({"steps": [
        {"open": {"session": "a", "sid": 5}},
        {"packet": {"sid": 5, "uri": 256978, "record": {"sid": 5, "appIds": [7],
            "appPacks": {"apps": {"7": {"appId": 7, "sdkVersion": 3}}},
            "sidApps": {"sidApps": {"5": {"appIds": [7]}}}, "sidAppsZipped": 1}}}]})");
    const Json& line = report["steps"][1]["lines"][0];
    const std::string hex = line["json"]["recv"]["packet"]["hex"];
    const Json& payloads = line["record"]["payloads"];
    ASSERT_EQ(payloads.size(), 2u);
    EXPECT_EQ(payloads[0]["path"], "appPacks");
    EXPECT_FALSE(payloads[0]["zipped"]);
    const std::size_t begin = payloads[0]["begin"], end = payloads[0]["end"];
    const std::string appPacks = encodeRecord("PluginAppPackMap", line["json"]["recv"]["packet"]["fields"]["appPacks"], "t");
    EXPECT_EQ(hex.substr(2 * begin, 2 * (end - begin)), toHex(appPacks));
    EXPECT_EQ(payloads[1]["path"], "sidApps");
    EXPECT_TRUE(payloads[1]["zipped"]);
    EXPECT_EQ(payloads[1]["hex"], "0100000005000000010000000700000000000000");
    EXPECT_EQ(payloads[1]["spans"].back(), Json::parse(R"({"path": "sidAttrs", "begin": 16, "end": 20})"));
}

// Text from the session cannot end the script element that carries the data.
TEST(ReportTest, EmbeddedDataCannotCloseItsScript) {
    const Json data = reportData("m", "t", Json::array({{{"name", "</script><script>alert(1)</script>"},
                                                         {"result", "pass"}}}));
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
