#include "tools/sapp-host/scenario/Scenario.h"

#include <gtest/gtest.h>

#include "marshal/Unpack.h"
#include "protocol/SessionRecords.h"

namespace sapphost {
namespace {

TEST(ScenarioTest, ParsesEveryAction) {
    const Scenario s = parseScenario(R"({
      "name": "all", "host": {"log_sink": false, "databases": {"42": {"dwSGroupId": 7}}},
      "steps": [
        {"open": {"session": "a", "sid": 42}, "expect": [{"answer": {"getModule": true}}], "exact": true},
        {"open": {"session": null}},
        {"set_sid": {"session": "a", "sid": 43}},
        {"event": {"session": "a", "type": 8002, "uid": 18446744073709551615, "udb": "00ff"}},
        {"packet": {"sid": 42, "uri": 257490, "record": {"sid": 42, "appIds": [5]}}},
        {"packet": {"sid": 42, "uri": 820178, "res": 404, "hex": ""}},
        {"packet": {"sid": 42, "null": true}},
        {"request": {"sid": 42, "appId": 5, "data": "6869"}},
        {"request": {"sid": 42, "null": true}},
        {"advance": 5000},
        {"leave": 42}, {"release": 42},
        {"ask": "uris"}, {"ask": "modflag"},
        {"db": {"sid": 42, "dwSGroupId": 9}}, {"db": {"sid": 42, "remove": true}},
        {"db": {"sid": 42, "query_throws": true}},
        {"host": {"log_enabled": false}, "note": "quiet", "absent": [{"log": {}}]}
      ]})", "all.json");
    EXPECT_EQ(s.name, "all");
    EXPECT_EQ(s.host.logSink, false);
    EXPECT_EQ(s.host.databases.at(42), 7u);
    ASSERT_EQ(s.steps.size(), 18u);
    EXPECT_EQ(s.steps[0].action, "open");
    EXPECT_TRUE(s.steps[0].exact);
    EXPECT_EQ(std::get<OpenAction>(s.steps[1].what).session, std::nullopt);
    EXPECT_EQ(std::get<EventAction>(s.steps[3].what).uid, UINT64_MAX);
    EXPECT_EQ(std::get<EventAction>(s.steps[3].what).udb, std::string("\x00\xff", 2));

    // A record given as fields is encoded by the URI's record.
    const PacketAction& del = std::get<PacketAction>(s.steps[4].what);
    EXPECT_EQ(del.res, 200u);
    protocol::session::PDelAppReq record;
    pakt::Unpack up(del.body->data(), del.body->size());
    record.unmarshal(up);
    EXPECT_EQ(record.sid, 42u);
    EXPECT_EQ(record.appIds, std::vector<uint32_t>{5});

    EXPECT_EQ(std::get<PacketAction>(s.steps[5].what).res, 404u);
    EXPECT_FALSE(std::get<PacketAction>(s.steps[6].what).body);
    EXPECT_EQ(std::get<RequestAction>(s.steps[7].what).type, 1007);
    EXPECT_TRUE(std::get<RequestAction>(s.steps[8].what).null);
    EXPECT_EQ(std::get<DbAction>(s.steps[14].what).sGroupId, 9u);
    EXPECT_TRUE(std::get<DbAction>(s.steps[15].what).remove);
    EXPECT_EQ(std::get<DbAction>(s.steps[16].what).queryThrows, true);
    EXPECT_EQ(std::get<HostAction>(s.steps[17].what).settings.logEnabled, false);
    EXPECT_EQ(s.steps[17].absent.size(), 1u);
}

TEST(ScenarioTest, BadScenariosNameFileStepAndReason) {
    const struct {
        const char* text;
        const char* message;
    } cases[] = {
        // Syntax errors at the place they are found, as the tool counts
        // lines and columns (the JSON library counts bytes of a line).
        {"{", "f.json:1:2: not valid JSON: syntax error while parsing object key - unexpected end of input"},
        {"{\"steps\": [\r\n  {\"leave\": 1,}]}", "f.json:2:15: not valid JSON: syntax error while parsing object key"},
        {"{\"name\": \"\u00e9t\u00e9\", \"steps\": []]}", "f.json:1:28: not valid JSON: syntax error while parsing object"},
        {"[]", "f.json: the scenario: expected an object"},
        {R"({"name": "x"})", "f.json: \"steps\" is required"},
        {R"({"steps": [], "extra": 1})", "f.json: the scenario: unknown key \"extra\""},
        {R"({"steps": [{}]})", "f.json:1:12: step 0: no action"},
        {R"({"steps": [{"open": {"session": "a", "sid": 1}, "leave": 1}]})", "step 0: two actions"},
        {R"({"steps": [{"jump": 1}]})", "step 0: unknown key \"jump\""},
        {R"({"steps": [{"leave": -1}]})", "step 0 (leave): expected an integer from 0 to 4294967295"},
        {R"({"steps": [{"open": {"session": "a"}}]})", "step 0 (open): \"sid\" is required"},
        {R"({"steps": [{"event": {"session": "b", "type": 8000}}]})",
         "step 0 (event).session: no session \"b\" was opened in an earlier step"},
        {R"({"steps": [{"open": {"session": "a", "sid": 1}}, {"event": {"session": "a"}}]})",
         "step 1 (event): \"type\" is required"},
        {R"({"steps": [{"packet": {"sid": 1, "uri": 256978}}]})", "step 0 (packet): give exactly one of"},
        {R"({"steps": [{"packet": {"sid": 1, "uri": 256978, "hex": "abc"}}]})",
         "step 0 (packet).hex: odd number of hex digits"},
        {R"({"steps": [{"packet": {"sid": 1, "uri": 820178, "record": {}}}]})",
         "step 0 (packet): URI 820178 carries no record"},
        {R"({"steps": [{"packet": {"sid": 1, "uri": 256978, "record": {"appIds": ["x"]}}}]})",
         "step 0 (packet).record.appIds[0]: expected an integer"},
        {R"({"steps": [{"request": {"sid": 1, "type": 2147483648}}]})",
         "step 0 (request).type: expected a signed 32-bit integer"},
        {R"({"steps": [{"advance": 3600001}]})", "step 0 (advance): at most 3600000 ms per step"},
        {R"({"steps": [{"ask": "everything"}]})", "step 0 (ask): expected \"uris\", \"reqtypes\" or \"modflag\""},
        {R"({"steps": [{"db": {"sid": 1}}]})", "step 0 (db): give one of dwSGroupId, remove and query_throws"},
        {R"({"steps": [{"db": {"sid": 1, "remove": true, "query_throws": false}}]})", "step 0 (db): give one of"},
        {R"({"steps": [{"leave": 1, "expect": {"log": {}}}]})", "step 0 (leave).expect: expected an array"},
        {R"({"steps": [{"leave": 1, "absent": [1]}]})", "step 0 (leave).absent[0]: expected an object"},
        {R"({"steps": [{"leave": 1, "exact": "yes"}]})", "step 0 (leave).exact: expected true or false"},
        // Checks are read against what lines hold, each placed at its object.
        {R"({"steps": [{"leave": 1, "absent": [{"error": {}}, {"eror": {}}]}]})",
         "f.json:1:51: step 0 (leave).absent[1]: unknown kind of line \"eror\""},
        {R"({"steps": [{"leave": 1, "expect": [{"error": {"typ": "x"}}]}]})",
         "f.json:1:36: step 0 (leave).expect[0].error: unknown key \"typ\" (did you mean \"type\"? keys of error lines: "
         "type, what)"},
        {R"({"host": {"databases": {"x": {}}}, "steps": []})", "f.json: host.databases: key \"x\" is not a decimal"},
        {R"({"host": {"log_sink": 1}, "steps": []})", "host.log_sink: expected true or false"},
        // A key given twice is an error, never the last one silently winning.
        {R"({"name": "a", "name": "b", "steps": []})", "f.json:1:15: the scenario: duplicate key \"name\""},
        {R"({"steps": [{"leave": 1, "leave": 2}]})", "f.json:1:25: step 0: duplicate key \"leave\""},
        {R"({"steps": [{"open": {"session": "a", "sid": 1}}, {"packet": {"sid": 1, "uri": 256978,
             "record": {"appIds": [5], "appIds": [6]}}}]})", "f.json:2:40: step 1 (packet).record: duplicate key \"appIds\""},
        {R"({"steps": [{"leave": 1, "expect": [{"log": {}}, {"log": {"text": "a", "text": "b"}}]}]})",
         "f.json:1:71: step 0.expect[1].log: duplicate key \"text\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        try {
            parseScenario(c.text, "f.json");
            ADD_FAILURE() << "no error";
        } catch (const ScenarioError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        }
    }
    // Nesting far deeper than any record is refused before anything walks it.
    const std::string deep = R"({"steps": [{"leave": )" + std::string(100000, '[') + std::string(100000, ']') + "}]}";
    EXPECT_THROW(parseScenario(deep, "f.json"), ScenarioError);
}

// Steps, checks and errors carry their place in the text as line and
// column, columns counting characters: whatever the line ends and however
// many bytes a character takes.
TEST(ScenarioTest, PlacesAreLinesAndColumnsOfCharacters) {
    const std::string text = "\xEF\xBB\xBF{\"name\": \"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\", \"steps\": [\r\n"
                             "\t{\"open\": {\"session\": \"a\", \"sid\": 1},\r\n"
                             "\t \"expect\": [{\"log\": {\"text\": \"\\\"\xC3\xA9\"}}, {\"watch\": {}}],\r"
                             "  \"absent\": [{\"error\": {}}], \"exact\": false},\n"
                             "{\"note\": \"\xE2\x82\xAC\", \"leave\": 1}]}";
    const Scenario s = parseScenario(text, "f.json");
    ASSERT_EQ(s.steps.size(), 2u);
    const Step& open = s.steps[0];
    EXPECT_EQ(located(s.source, open.at), "f.json:2:2");
    ASSERT_EQ(open.expectAt.size(), 2u);
    EXPECT_EQ(located(s.source, open.expectAt[0]), "f.json:3:14");
    EXPECT_EQ(located(s.source, open.expectAt[1]), "f.json:3:40") << "after an escaped quote and a two-byte character";
    ASSERT_EQ(open.absentAt.size(), 1u);
    EXPECT_EQ(located(s.source, open.absentAt[0]), "f.json:4:14") << "after a lone CR";
    EXPECT_EQ(located(s.source, open.exactAt), "f.json:4:30");
    EXPECT_EQ(located(s.source, s.steps[1].at), "f.json:5:1");
    try {
        parseScenario("{\"name\": \"\xF0\x9F\x98\x80\",\r\n \"steps\": [{\"leave\": 1}, {\"leave\": -1}]}", "f.json");
        ADD_FAILURE() << "no error";
    } catch (const ScenarioError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("f.json:2:27: step 1 (leave): expected an integer", 0), 0u) << e.what();
    }
}

TEST(ScenarioTest, MissingFile) {
    EXPECT_THROW(loadScenario("/nonexistent/scenario.json"), ScenarioError);
}

}  // namespace
}  // namespace sapphost
