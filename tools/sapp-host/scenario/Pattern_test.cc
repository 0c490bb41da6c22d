// The checks' patterns as the scenario loads them: every key read against
// what a line of its kind holds, values in the form lines show them.
#include "tools/sapp-host/scenario/Pattern.h"

#include <gtest/gtest.h>

namespace sapphost {
namespace {

const std::set<std::string> kSessions = {"a", "b"};

Json read(const std::string& pattern) { return readPattern(Json::parse(pattern), {kSessions}, "expect[0]"); }

// The message of the InputError the pattern raises; empty when it is read.
std::string refusal(const std::string& pattern) {
    try {
        read(pattern);
    } catch (const InputError& e) {
        return e.what();
    }
    return {};
}

TEST(PatternTest, UnknownKindsAndKeysAreRefusedByName) {
    const struct {
        const char* pattern;
        const char* message;  // the whole message; "..." stands for any text
    } cases[] = {
        // A name a typo away from a known one is named first.
        {R"({"eror": {}})", R"(expect[0]: unknown kind of line "eror" (did you mean "error"? kinds: log, send, event, )"
                            R"(task, watch, answer, error, fault))"},
        {R"({"error": {"typ": "x"}})",
         R"(expect[0].error: unknown key "typ" (did you mean "type"? keys of error lines: type, what))"},
        {R"({"error": {"reason": "x"}})", R"(expect[0].error: unknown key "reason" (keys of error lines: type, what))"},
        {R"({"recv": {}})", "expect[0]: checks never see recv lines (the echo of the host's input); ..."},
        {R"({})", "expect[0]: a check names one kind of line (log, send, event, task, watch, answer, error, "
                  "fault), this one none"},
        {R"({"log": {}, "send": {}})", "expect[0]: a check names one kind of line (...), this one 2"},
        {R"({"log": "text"})", "expect[0].log: expected an object, got a string"},
        // Values each key's lines can hold.
        {R"({"task": {"op": "ad"}})", R"(expect[0].task.op: "ad" is not one of "add", "remove", "run")"},
        {R"({"log": {"level": "1"}})", "expect[0].log.level: expected an integer from 0 to 65535, got \"1\""},
        {R"({"watch": {"session": "c"}})",
         R"(expect[0].watch.session: no session "c" was opened in this step or an earlier one (sessions: "a", "b"))"},
        {R"({"fault": {"call": "removeWatch"}})",
         "expect[0].fault.call: \"removeWatch\" is not a host call that fails (did you mean \"removeWatcher\"? ...)"},
        {R"({"send": {"record": "PGetAppReq"}})",
         "expect[0].send.record: \"PGetAppReq\" is not a record sent or received (did you mean \"PGetAppsReq\"? ..."},
        {R"({"event": {"name": "EVENT_APP_DATUM"}})",
         "expect[0].event.name: \"EVENT_APP_DATUM\" is not an event's name (did you mean \"EVENT_APP_DATA\"? ..."},
        // Record fields by the record the line carries.
        {R"({"send": {"record": "PGetAppsReq", "fields": {"sGroupID": 1}}})",
         R"(expect[0].send.fields: unknown field "sGroupID" (did you mean "sGroupId"? fields: uid, sid, sGroupId, )"
         R"(reserved1, reserved2, extra))"},
        {R"({"send": {"uri": "1001|210", "fields": {"pid": 1}}})", "expect[0].send.fields: unknown field \"pid\" ..."},
        {R"({"send": {"uri": 256466, "record": "PUserMsg3"}})",
         "expect[0].send: URI 256466 (1001|210) carries PGetAppsReq, not PUserMsg3, so no line has both"},
        {R"({"send": {"uri": 820178, "fields": {}}})", "expect[0].send.fields: URI 820178 (3203|210) carries no ..."},
        {R"({"send": {"fields": {"nope": 1}}})", "expect[0].send.fields: the fields of no record (give ..."},
        {R"({"send": {"record": "PUserMsg3", "fields": {"data": {"uid": 1, "info": {}}}}})",
         "expect[0].send.fields.data: the fields of two forms, which no payload has together (fields: seqNum, "
         "appMsgType, appId, then those of one form: uid, sid, appData (uplink); info (app info); reserved1, "
         "reserved2, appData (app data); body (any other body))"},
        {R"({"send": {"record": "PAppMsgToSDK", "fields": {"proxyIds": [1], "nope": 2}}})",
         "expect[0].send.fields: unknown field \"nope\" ..."},
        {R"({"send": {"record": "PAddAppReq", "fields": {"appPacks": {"apps": {"5": {"appId": "5"}}}}}})",
         "expect[0].send.fields.appPacks.apps.5.appId: expected an integer from 0 to 4294967295, got \"5\""},
        {R"({"send": {"record": "PAddAppReq", "fields": {"appPacks": {"apps": {"05": {}, "5": {}}}}}})",
         R"(expect[0].send.fields.appPacks.apps: keys "05" and "5" are the same number)"},
        // Objects inside arrays are compared whole.
        {R"({"event": {"type": 1031, "fields": {"info": {"versions": [{"num1": 1}]}}}})",
         "expect[0].event.fields.info.versions[0]: lines compare an object inside an array whole: give all of num1, "
         "num2, num3, str1, str2 (\"num2\" is missing)"},
        // Events by code or name.
        {R"({"event": {"type": 1035, "fields": {"body": "00"}}})",
         R"(expect[0].event.fields: unknown field "body" (fields: appId, data))"},
        {R"({"event": {"type": 1035, "name": "EVENT_ANNOUNCE_APPS"}})",
         "expect[0].event: type 1035 and name \"EVENT_ANNOUNCE_APPS\" are not one event, so no line has both"},
        {R"({"event": {"type": 7, "fields": {"appId": 1}}})", "expect[0].event.fields: an event of code 7 has no ..."},
        {R"({"event": {"name": null, "fields": {"appId": 1}}})",
         "expect[0].event.fields: an event without a name has no fields"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pattern);
        const std::string message = refusal(c.pattern);
        const std::string expected = c.message;
        const std::size_t dots = expected.find("...");
        if (dots == std::string::npos) {
            EXPECT_EQ(message, expected);
        } else {
            EXPECT_TRUE(message.starts_with(expected.substr(0, dots)) && message.ends_with(expected.substr(dots + 3)))
                << message;
        }
    }
}

TEST(PatternTest, ValuesComeBackAsLinesShowThem) {
    const struct {
        const char* pattern;
        const char* read;
    } cases[] = {
        {R"({"log": {"text": "x", "level": 1}})", R"({"log": {"text": "x", "level": 1}})"},
        // Byte strings as lowercase hex; URIs as numbers, in lists too.
        {R"({"send": {"hex": "0A 0b", "uri": "10100|2"}})", R"({"send": {"hex": "0a0b", "uri": 2585602}})"},
        {R"({"answer": {"uris": ["1003|210", 257490]}})", R"({"answer": {"uris": [256978, 257490]}})"},
        // Map keys as numbers; payloads as objects by their record or as hex.
        {R"({"send": {"record": "PAddAppReq", "fields": {"appPacks": {"apps": {"007": {"proxyIds": [1]}}}}}})",
         R"({"send": {"record": "PAddAppReq", "fields": {"appPacks": {"apps": {"7": {"proxyIds": [1]}}}}}})"},
        {R"({"send": {"record": "PAddAppReq", "fields": {"appPacks": "AB"}}})",
         R"({"send": {"record": "PAddAppReq", "fields": {"appPacks": "ab"}}})"},
        // A body chosen by type: by the type given, else by any choice.
        {R"({"send": {"uri": 2611202, "fields": {"appMsgType": 5, "data": {"proxyIds": [1]}}}})",
         R"({"send": {"uri": 2611202, "fields": {"appMsgType": 5, "data": {"proxyIds": [1]}}}})"},
        {R"({"send": {"uri": 2611202, "fields": {"data": {"appId": 3}}}})",
         R"({"send": {"uri": 2611202, "fields": {"data": {"appId": 3}}}})"},
        {R"({"send": {"record": "PUserMsg3", "fields": {"data": {"appId": 3, "appData": "FF"}}}})",
         R"({"send": {"record": "PUserMsg3", "fields": {"data": {"appId": 3, "appData": "ff"}}}})"},
        // Fields without a record named: those of any record they fit.
        {R"({"send": {"fields": {"pid": 6}}})", R"({"send": {"fields": {"pid": 6}}})"},
        {R"({"event": {"name": "EVENT_APP_DATA", "fields": {"data": "0A"}}})",
         R"({"event": {"name": "EVENT_APP_DATA", "fields": {"data": "0a"}}})"},
        {R"({"event": {"fields": {"body": "0A"}}})", R"({"event": {"fields": {"body": "0a"}}})"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pattern);
        EXPECT_EQ(read(c.pattern).dump(), Json::parse(c.read).dump());
    }
}

}  // namespace
}  // namespace sapphost
