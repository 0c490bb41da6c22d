#include "tools/sapp-host/Matcher.h"

#include <gtest/gtest.h>

#include "tools/sapp-host/Scenario.h"

namespace sapphost {
namespace {

TEST(MatcherTest, PartialMatch) {
    const Json line = Json::parse(R"({"send": {"session": "a", "uri": 256466,
        "fields": {"uid": 100, "proxyIds": [10, 30], "versions": [{"num1": 1, "str1": "ab"}]}}})");
    const struct {
        const char* pattern;
        bool matches;
    } cases[] = {
        {R"({})", true},
        {R"({"send": {}})", true},
        {R"({"send": {"uri": 256466}})", true},
        {R"({"send": {"fields": {"uid": 100}}})", true},
        {R"({"send": {"fields": {"uid": 101}}})", false},
        {R"({"send": {"fields": {"uid": "100"}}})", false},
        {R"({"send": {"missing": 1}})", false},
        {R"({"event": {}})", false},
        // Arrays compare exactly: same elements, same order, same length.
        {R"({"send": {"fields": {"proxyIds": [10, 30]}}})", true},
        {R"({"send": {"fields": {"proxyIds": [30, 10]}}})", false},
        {R"({"send": {"fields": {"proxyIds": [10]}}})", false},
        // Objects inside arrays compare whole, in any key order.
        {R"({"send": {"fields": {"versions": [{"str1": "ab", "num1": 1}]}}})", true},
        {R"({"send": {"fields": {"versions": [{"num1": 1}]}}})", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pattern);
        EXPECT_EQ(partialMatch(Json::parse(c.pattern), line), c.matches);
    }
    // Numbers compare by value whatever their JSON type.
    EXPECT_TRUE(partialMatch(Json{{"n", 5}}, Json{{"n", uint64_t{5}}}));
    EXPECT_TRUE(jsonEqual(Json::parse("18446744073709551615"), Json(UINT64_MAX)));
}

Step stepWith(const char* expect, const char* absent, bool exact) {
    Step step;
    step.index = 3;
    step.action = "packet";
    for (const Json& p : Json::parse(expect)) step.expect.push_back(p);
    for (const Json& p : Json::parse(absent)) step.absent.push_back(p);
    step.exact = exact;
    return step;
}

TEST(MatcherTest, StepChecks) {
    const std::vector<Json> lines = {
        Json::parse(R"({"log": {"text": "one"}})"),
        Json::parse(R"({"send": {"uri": 1}})"),
        Json::parse(R"({"log": {"text": "two"}})"),
        Json::parse(R"({"send": {"uri": 1}})"),
    };
    const struct {
        const char* expect;
        const char* absent;
        bool exact;
        std::vector<std::string> failures;  // beginnings of the failure texts
    } cases[] = {
        {"[]", "[]", false, {}},
        // In order, with other lines between.
        {R"([{"log": {"text": "one"}}, {"log": {"text": "two"}}])", "[]", false, {}},
        {R"([{"log": {"text": "two"}}, {"log": {"text": "one"}}])", "[]", false,
         {R"(expect[1] {"log":{"text":"one"}}: matches only lines before the one matched by expect[0])"}},
        // Each pattern takes a distinct line.
        {R"([{"send": {}}, {"send": {}}])", "[]", false, {}},
        {R"([{"send": {}}, {"send": {}}, {"send": {}}])", "[]", false, {"expect[2]"}},
        {R"([{"event": {}}])", "[]", false, {R"(expect[0] {"event":{}}: matches no line)"}},
        // Exact: as many lines as patterns, each matching its own.
        {R"([{"log": {}}, {"send": {}}, {"log": {}}, {"send": {"uri": 1}}])", "[]", true, {}},
        {R"([{"log": {}}, {"send": {}}, {"log": {}}])", "[]", true, {"exact: 3 lines expected, 4 produced"}},
        {R"([{"log": {}}, {"log": {}}, {"log": {}}, {"send": {}}])", "[]", true,
         {R"(exact: line 1 does not match expect[1] {"log":{}})"}},
        {"[]", "[]", true, {"exact: 0 lines expected, 4 produced"}},
        // Absent: any matching line fails the check.
        {"[]", R"([{"event": {}}, {"send": {"uri": 2}}])", false, {}},
        {"[]", R"([{"event": {}}, {"log": {"text": "two"}}])", false,
         {R"(absent[1] {"log":{"text":"two"}}: matches line 2)"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.expect) + " / " + c.absent);
        const std::vector<std::string> failures = checkStep(stepWith(c.expect, c.absent, c.exact), lines);
        ASSERT_EQ(failures.size(), c.failures.size());
        for (std::size_t i = 0; i < failures.size(); ++i) {
            EXPECT_EQ(failures[i].rfind(c.failures[i], 0), 0u) << failures[i];
        }
    }
    EXPECT_TRUE(checkStep(stepWith("[]", "[]", true), {}).empty());
}

}  // namespace
}  // namespace sapphost
