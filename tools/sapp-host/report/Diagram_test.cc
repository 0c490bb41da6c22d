#include "tools/sapp-host/report/Diagram.h"

#include <gtest/gtest.h>

namespace sapphost {
namespace {

TEST(DiagramTest, ArrowsAndNotesWithKeyFieldsAndSafeLabels) {
    const Scenario scenario = parseScenario(R"({"steps": [
        {"open": {"session": "a", "sid": 7}},
        {"packet": {"sid": 7, "null": true}},
        {"request": {"sid": 7, "type": 5, "appId": 9}},
        {"advance": 100}]})", "test");
    const std::vector<Json> trace = {
        Json::parse(R"({"step": {"index": 0, "action": "open"}})"),
        Json::parse(R"({"log": {"text": "not drawn"}})"),
        Json::parse(R"({"answer": {"getModule": true}})"),
        Json::parse(R"({"step": {"index": 1, "action": "packet"}})"),
        Json::parse(R"({"recv": {"sid": 7, "packet": null}})"),
        Json::parse(R"({"error": {"type": "other", "what": "a;b#c<d>\ne"}})"),
        Json::parse(R"({"step": {"index": 2, "action": "request"}})"),
        Json::parse(R"({"recv": {"sid": 7, "request": {"type": 5, "name": null, "fields": {"appId": 9}}}})"),
        Json::parse(R"({"send": {"session": "a", "uri": 2585602, "record": "PUserMsg3", "hex": "",
                        "fields": {"proxyId": 1, "data": {"seqNum": 3, "appId": 9}}}})"),
        Json::parse(R"({"event": {"session": "a", "type": 1034, "name": "EVENT_APPS_DELETED",
                        "fields": {"appIds": [4, 5]}}})"),
        Json::parse(R"({"step": {"index": 3, "action": "advance"}})"),
        Json::parse(R"({"task": {"session": "a", "op": "run"}})"),
    };
    EXPECT_EQ(sequenceDiagram(scenario, trace),
              "sequenceDiagram\n"
              "    participant Server\n    participant Host\n    participant Module\n    participant Client\n"
              "    Host->>Module: getModule(a, sid 7)\n"
              "    Module-->>Host: getModule true\n"
              "    Server->>Module: null packet (sid 7)\n"
              "    Note over Module: other: a#59;b#35;c#60;d#62; e\n"
              "    Client->>Module: request 5 app 9 (sid 7)\n"
              "    Module->>Server: PUserMsg3 uri 2585602 app 9 seq 3\n"
              "    Module->>Client: EVENT_APPS_DELETED apps 4, 5\n"
              "    Note over Host: clock +100 ms\n"
              "    Note over Module: task run\n");
}

}  // namespace
}  // namespace sapphost
