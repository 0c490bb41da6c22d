// sapp-host end to end: the executable beside this test, run as a child.
#include <gtest/gtest.h>

#include "tools/sapp-host/Canonical.h"
#include "tools/sapp-host/JsonSupport.h"
#include "tools/sapp-host/Matcher.h"
#include "tools/sapp-host/Process.h"

namespace sapphost {
namespace {

std::string besideThisTest(const std::string& file) {
    const std::string self = selfExecutablePath();
    return self.substr(0, self.find_last_of("/\\") + 1) + file;
}

// Runs sapp-host; its output with Windows line ends made plain.
ChildResult sappHost(const std::vector<std::string>& args) {
    ChildResult result = runChild(besideThisTest(SAPP_HOST_EXE_NAME), args);
    std::erase(result.output, '\r');
    return result;
}

std::string testdata(const std::string& file) { return std::string(SAPP_HOST_TESTDATA) + "/" + file; }

// The JSON lines of a `check --json` run.
std::vector<Json> jsonLines(const std::string& output) {
    std::vector<Json> lines;
    std::size_t begin = 0;
    for (std::size_t end; (end = output.find('\n', begin)) != std::string::npos; begin = end + 1) {
        lines.push_back(Json::parse(output.substr(begin, end - begin)));
    }
    return lines;
}

TEST(CliTest, CheckReportsFailedChecksAndBadScenarios) {
    const ChildResult r = sappHost({"check", "--json", testdata("failing-check.json"), testdata("bad-step.json")});
    ASSERT_TRUE(r.exited) << r.describe();
    EXPECT_EQ(r.code, 1);
    const std::vector<Json> lines = jsonLines(r.output);
    ASSERT_EQ(lines.size(), 3u) << r.output;

    EXPECT_EQ(lines[0]["name"], "a check that fails");
    EXPECT_EQ(lines[0]["result"], "fail");
    ASSERT_EQ(lines[0]["details"].size(), 1u);
    const std::string failure = lines[0]["details"][0];
    const std::string expected =
        R"(scenario "a check that fails", step 0 (open): expect[0] {"answer":{"getModule":false}}: matches no line)";
    EXPECT_NE(failure.find(expected), std::string::npos) << failure;
    EXPECT_NE(failure.find("{\"answer\":{\"getModule\":true}}"), std::string::npos) << "the step's lines are shown";

    EXPECT_EQ(lines[1]["result"], "bad");
    const std::string bad = lines[1]["details"][0];
    EXPECT_NE(bad.find("bad-step.json: step 1 (packet).hex: 'g' at offset 1 is not a hex digit"), std::string::npos)
        << bad;

    EXPECT_TRUE(jsonEqual(lines[2], Json{{"passed", 0}, {"failed", 2}}));
}

TEST(CliTest, CheckReportsACrashAndGoesOn) {
    const std::string crashing = besideThisTest(SAPP_HOST_CRASH_MODULE);
    const std::string scenario = testdata("failing-check.json");
    const ChildResult r = sappHost({"--module", crashing, "check", scenario, scenario});
    ASSERT_TRUE(r.exited) << r.describe();
    EXPECT_EQ(r.code, 1);
    // Each scenario crashed in its own process.
    std::size_t crashes = 0;
    for (std::size_t at = 0; (at = r.output.find("CRASH  a check that fails", at)) != std::string::npos; ++at) {
        ++crashes;
    }
    EXPECT_EQ(crashes, 2u) << r.output;
    EXPECT_NE(r.output.find("\n0 passed, 2 failed\n"), std::string::npos) << r.output;
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
    EXPECT_EQ(details.rfind(scenario + ": not valid JSON: ", 0), 0u) << details;
    const ChildResult encode = sappHost({"encode", "--uri", "256466", R"({"uid": 1e400})"});
    EXPECT_EQ(encode.code, 2);
}

TEST(CliTest, HelpForEachCommand) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--help"}, {"help"}, {"help", "run"}, {"run", "--help"}, {"check", "--help"},
             {"decode", "--help"}, {"encode", "-h"}, {"help", "soak"}}) {
        const ChildResult r = sappHost(args);
        ASSERT_TRUE(r.exited);
        EXPECT_EQ(r.code, 0) << args.front();
        EXPECT_EQ(r.output.rfind("usage: sapp-host", 0), 0u) << r.output;
    }
}

}  // namespace
}  // namespace sapphost
