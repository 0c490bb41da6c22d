#include "tools/sapp-host/scenario/Matcher.h"

#include <cctype>

#include <gtest/gtest.h>

#include "tools/sapp-host/records/RecordJson.h"
#include "tools/sapp-host/scenario/Scenario.h"
#include "tools/sapp-host/records/Zlib.h"

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
        // A line differs from a pattern exactly where it fails to match it.
        EXPECT_EQ(differences(Json::parse(c.pattern), line).empty(), c.matches);
    }
    // Numbers compare by value whatever their JSON type.
    EXPECT_TRUE(partialMatch(Json{{"n", 5}}, Json{{"n", uint64_t{5}}}));
    EXPECT_TRUE(jsonEqual(Json::parse("18446744073709551615"), Json(UINT64_MAX)));
}

// A trace line of `record` given as fields, shown as send lines show it.
Json recordLine(const char* record, const Json& fields) {
    const std::string bytes = encodeRecord(record, fields, "fields");
    return Json{{"send", {{"record", record}, {"hex", toHex(bytes)},
                          {"fields", decodeRecord(record, bytes, Direction::Down).fields}}}};
}

Json fieldsPattern(const Json& fields) { return Json{{"send", {{"fields", fields}}}}; }

TEST(MatcherTest, NestedPayloadsMatchAsObjectOrAsTheirBytes) {
    const Json packs = {{"apps", {{"5", {{"appId", 5}, {"proxyIds", {50}}}}}}};
    const Json addApps = recordLine("PAddAppReq", {{"appPacksZipped", 1}, {"appPacks", packs}});
    ASSERT_TRUE(addApps["send"]["fields"]["appPacks"].is_object());
    const std::string zipped = toHex(deflateBytes(encodeRecord("PluginAppPackMap", packs, "packs")));
    EXPECT_TRUE(partialMatch(fieldsPattern({{"appPacks", packs}}), addApps));
    EXPECT_TRUE(partialMatch(fieldsPattern({{"appPacks", zipped}, {"appPacksZipped", 1}}), addApps));
    EXPECT_FALSE(partialMatch(fieldsPattern({{"appPacks", encodeRecord("PluginAppPackMap", packs, "")}}), addApps))
        << "the uncompressed bytes are not the payload's";

    const Json info = {{"appId", 6}, {"proxyIds", {60}}};
    const Json toClient = recordLine("PAppMsgToClient", {{"appMsgType", 2}, {"data", info}});
    const std::string bytes = toHex(encodeRecord("AppInfoPack3", info, "info"));
    EXPECT_TRUE(partialMatch(fieldsPattern({{"data", bytes}}), toClient));
    std::string spaced;
    for (std::size_t i = 0; i < bytes.size(); i += 2) spaced += (i ? " " : "") + bytes.substr(i, 2);
    for (char& c : spaced) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_TRUE(partialMatch(fieldsPattern({{"data", spaced}}), toClient)) << "hex as in input: any case and spacing";
    EXPECT_FALSE(partialMatch(fieldsPattern({{"data", bytes + "00"}}), toClient));
    EXPECT_FALSE(partialMatch(fieldsPattern({{"data", "not hex"}}), toClient));
    // Only nested payloads have a second reading.
    EXPECT_FALSE(partialMatch(fieldsPattern({{"appMsgType", "02"}}), toClient));
}

TEST(MatcherTest, DifferencesNameEachFieldByPath) {
    const Json line = Json::parse(R"({"send": {"uri": 2585602, "fields": {"proxyId": 5, "ids": [10, 30],
        "data": {"seqNum": 1, "appId": 5}, "versions": [{"num1": 1, "str1": "ab"}]}}})");
    const Json pattern = Json::parse(R"({"send": {"uri": 2585602, "fields": {"proxyId": 9, "ids": [10, 31],
        "data": {"seqNum": 2}, "versions": [{"num1": 1}], "missing": true}}})");
    std::vector<std::string> described;
    for (const FieldDifference& d : differences(pattern, line)) described.push_back(describeDifference(d));
    EXPECT_EQ(described, (std::vector<std::string>{
                             "send.fields.proxyId: expected 9, got 5",
                             "send.fields.ids[1]: expected 31, got 30",
                             "send.fields.data.seqNum: expected 2, got 1",
                             // Objects inside arrays compare whole.
                             R"(send.fields.versions[0].str1: expected no such field, got "ab")",
                             "send.fields.missing: expected true, but the line has no such field",
                         }));
    // Arrays of another length differ as a whole; long values are cut
    // around where they differ.
    const std::string hex(200, 'a');
    const auto one = differences(Json{{"send", {{"hex", hex + "b"}, {"ids", {10}}}}},
                                 Json{{"send", {{"hex", hex + "c"}, {"ids", {10, 30}}}}});
    ASSERT_EQ(one.size(), 2u);
    EXPECT_EQ(describeDifference(one[1]), "send.ids: expected [10], got [10,30]");
    const std::string cut = describeDifference(one[0]);
    EXPECT_LT(cut.size(), 200u) << cut;
    EXPECT_NE(cut.find("aaab\"") , std::string::npos) << cut;
    EXPECT_NE(cut.find("(from character 200)"), std::string::npos) << cut;
    // Byte strings where one side spells text: both readings, and for a
    // check's hex digits that the line holds as text, how to give the text.
    const auto described1 = [](const char* pattern, const char* line) {
        const auto found = differences(Json::parse(pattern), Json::parse(line));
        return found.size() == 1 ? describeDifference(found[0]) : "not one difference";
    };
    EXPECT_EQ(described1(R"({"event": {"fields": {"data": "cafe"}}})", R"({"event": {"fields": {"data": "63616665"}}})"),
              R"(event.fields.data: expected "cafe", got "63616665"; as bytes: expected 0xcafe, got the text "cafe")"
              R"( (a check's string of hex digits is read as hex: for the text "cafe" give "0x63616665"))");
    EXPECT_EQ(described1(R"({"event": {"fields": {"data": "68656c6c6f"}}})", R"({"event": {"fields": {"data": "00ff"}}})"),
              R"(event.fields.data: expected "68656c6c6f", got "00ff"; as bytes: expected the text "hello", got 0x00ff)");
    EXPECT_EQ(described1(R"({"send": {"hex": "00ff"}})", R"({"send": {"hex": "00fe"}})"),
              R"(send.hex: expected "00ff", got "00fe" (from character 3))")
        << "no text on either side: one reading";
    EXPECT_EQ(described1(R"({"log": {"text": "a b"}})", R"({"log": {"text": "a c"}})"),
              R"(log.text: expected "a b", got "a c" (from character 2))")
        << "not hex: text only";
    EXPECT_EQ(described1(R"({"log": {"text": "note"}})", R"({"log": {"text": "nope"}})"),
              R"(log.text: expected "note", got "nope" (from character 2))")
        << "letters that are not hex digits, in pairs: text only";

    // Through JSON and back, as check's processes pass them on.
    const FieldDifference back = differenceFromJson(differenceJson(one[1]));
    EXPECT_EQ(describeDifference(back), describeDifference(one[1]));
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
        const std::vector<CheckFailure> failures = checkStep(stepWith(c.expect, c.absent, c.exact), lines);
        ASSERT_EQ(failures.size(), c.failures.size());
        for (std::size_t i = 0; i < failures.size(); ++i) {
            EXPECT_EQ(failures[i].text.rfind(c.failures[i], 0), 0u) << failures[i].text;
        }
    }
    EXPECT_TRUE(checkStep(stepWith("[]", "[]", true), {}).empty());
}

TEST(MatcherTest, FailuresNameTheLineThatDiffers) {
    const std::vector<Json> lines = {
        Json::parse(R"({"send": {"uri": 1, "fields": {"seqNum": 7, "appId": 4}}})"),
        Json::parse(R"({"log": {"text": "one"}})"),
        Json::parse(R"({"send": {"uri": 2, "fields": {"seqNum": 1, "appId": 5}}})"),
    };
    // An expectation that matches no line: the line of its kind with the
    // fewest differing fields.
    const auto nearest = checkStep(stepWith(R"([{"send": {"uri": 2, "fields": {"seqNum": 2, "appId": 5}}}])", "[]",
                                            false), lines);
    ASSERT_EQ(nearest.size(), 1u);
    EXPECT_TRUE(nearest[0].nearest);
    EXPECT_EQ(nearest[0].line, 2u);
    ASSERT_EQ(nearest[0].differences.size(), 1u);
    EXPECT_EQ(describeDifference(nearest[0].differences[0]), "send.fields.seqNum: expected 2, got 1");
    // No line gives its first value (uri 3): the nearest of the first lines
    // of its kind.
    const auto other = checkStep(
        stepWith(R"([{"send": {"uri": 3, "fields": {"seqNum": 1, "appId": 5}}}])", "[]", false), lines);
    ASSERT_EQ(other.size(), 1u);
    EXPECT_EQ(other[0].line, 2u);
    ASSERT_EQ(other[0].differences.size(), 1u);
    EXPECT_EQ(describeDifference(other[0].differences[0]), "send.uri: expected 3, got 2");
    // Of lines as near, the first.
    const auto tie = checkStep(stepWith(R"([{"send": {"uri": 3}}])", "[]", false), lines);
    ASSERT_EQ(tie.size(), 1u);
    EXPECT_EQ(tie[0].line, 0u);
    const auto none = checkStep(stepWith(R"([{"event": {}}])", "[]", false), lines);
    ASSERT_EQ(none.size(), 1u);
    EXPECT_FALSE(none[0].line.has_value());
    // An exact check: the first line that does not match its pattern.
    const auto exact = checkStep(
        stepWith(R"([{"send": {"uri": 1}}, {"log": {"text": "two"}}, {"send": {}}])", "[]", true), lines);
    ASSERT_EQ(exact.size(), 1u);
    EXPECT_EQ(exact[0].line, 1u);
    ASSERT_EQ(exact[0].differences.size(), 1u);
    EXPECT_EQ(describeDifference(exact[0].differences[0]), R"(log.text: expected "two", got "one")");
}

// A step's checker keeps the text of its first lines for the report and
// nothing at all for a step without checks.
TEST(MatcherTest, CheckerKeepsOnlyWhatTheReportNeeds) {
    const Json line = Json::parse(R"({"log": {"text": "x"}})");
    const Step none = stepWith("[]", "[]", false);
    const Step some = stepWith(R"([{"log": {}}])", "[]", false);
    StepChecker unchecked(none);
    StepChecker checked(some);
    for (int i = 0; i < 250; ++i) {
        unchecked.add(line);
        checked.add(line);
    }
    EXPECT_EQ(checked.lineCount(), 250u);
    EXPECT_TRUE(unchecked.shownLines().empty());
    EXPECT_EQ(checked.shownLines().size(), StepChecker::kShownLines);
    EXPECT_EQ(checked.shownLines().front(), R"({"log":{"text":"x"}})");
    EXPECT_TRUE(checked.finish().empty());
}

}  // namespace
}  // namespace sapphost
