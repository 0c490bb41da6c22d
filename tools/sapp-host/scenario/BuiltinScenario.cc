#include "tools/sapp-host/scenario/BuiltinScenario.h"

#include <string_view>

#include "protocol/Packets.h"

namespace sapphost {

namespace {

// A typical session of a channel that carries one SDK V2 app (5, proxy 50)
// and one SDK V3 app (6, proxies 60 and 61). The user's 64-bit uid
// 4294967396 goes out as the 32-bit uid 100 in the records that carry one.
// INBOUND_URIS stands for the URIs of the packet table's inbound rows, in
// its order: what the module must ask the host to route to it.
constexpr std::string_view kText = R"json({
  "name": "typical session",
  "description": "Open a channel session, ask the server for its apps (and once more when no answer comes within 5000 ms), receive one SDK V2 and one SDK V3 app, relay a message down and up for each, then leave and release.",
  "host": {"databases": {"1234": {"dwSGroupId": 78}}},
  "steps": [
    {"note": "The host opens channel session 1234: the module is created and watches the session.",
     "open": {"session": "a", "sid": 1234},
     "expect": [
       {"log": {"text": "[sapp] SAppModule::getInstance"}},
       {"log": {"text": "[sapp] SAppModule::addSession, sid= 1234"}},
       {"watch": {"session": "a", "op": "add"}},
       {"answer": {"getModule": true}}]},

    {"note": "The host asks what to route to the module.",
     "ask": "uris",
     "expect": [{"answer": {"uris": [INBOUND_URIS]}}], "exact": true},
    {"ask": "reqtypes", "expect": [{"answer": {"reqtypes": [1007]}}], "exact": true},

    {"note": "The user's identity arrives; nothing is sent.",
     "event": {"session": "a", "type": 8002, "sid": 1234, "uid": 4294967396, "udb": "756462", "cookie": "636f6f6b6965"},
     "exact": true},

    {"note": "Query the apps: the request goes out at once and the 5000 ms retry task is queued.",
     "event": {"session": "a", "type": 8007},
     "expect": [
       {"log": {"text": "[sapp] SAppQuery::query, retry= 0"}},
       {"send": {"session": "a", "uri": 256466, "record": "PGetAppsReq",
                 "fields": {"uid": 100, "sid": 1234, "sGroupId": 78, "extra": ""}}},
       {"task": {"session": "a", "op": "add", "interval": 5000}}]},

    {"note": "No answer within 5000 ms: the retry task asks once more.",
     "advance": 5000,
     "expect": [
       {"task": {"session": "a", "op": "run"}},
       {"log": {"text": "[sapp] SAppQuery::query, retry= 1"}},
       {"send": {"record": "PGetAppsReq", "fields": {"uid": 100, "sid": 1234, "sGroupId": 78}}}]},

    {"note": "The server's app list: app 5 speaks SDK V2, app 6 SDK V3. The answer stops the retry task.",
     "packet": {"sid": 1234, "uri": 256978, "res": 200, "record": {
       "sid": 1234,
       "appPacks": {"apps": {
         "5": {"appId": 5, "str1": "6563686f", "proxyIds": [50], "sdkVersion": 2},
         "6": {"appId": 6, "str1": "766f7465", "proxyIds": [60, 61], "sdkVersion": 3}}},
       "sidApps": {"sidApps": {"1234": {"appIds": [5, 6]}}, "sidAttrs": {}},
       "appIds": [5, 6],
       "context": "637478"}},
     "expect": [
       {"log": {"text": "[sapp] SAppProtoHandler::onAddAppReq"}},
       {"log": {"text": "[sapp] SAppQuery::onResult"}},
       {"task": {"session": "a", "op": "remove"}},
       {"log": {"text": "[sapp] AppMgr, sid/app_id= 1234, 5"}},
       {"log": {"text": "[sapp] AppMgr, sid/app_id= 1234, 6"}},
       {"event": {"session": "a", "type": 1032, "name": "EVENT_APPS_ADDED",
                  "fields": {"sid": 1234, "appIds": [5, 6], "context": "637478"}}}]},

    {"note": "App 5's proxy sends data down in the SDK V2 carrier.",
     "packet": {"sid": 1234, "uri": 2585602, "record": {
       "proxyId": 50, "msgType": 1,
       "data": {"seqNum": 1, "appMsgType": 3, "appId": 5, "reserved1": 0, "reserved2": 0, "appData": "68656c6c6f"}}},
     "expect": [
       {"log": {"text": "[sapp] AppMgr, first packet, srcId/seqNum= 50, 1"}},
       {"event": {"type": 1035, "name": "EVENT_APP_DATA", "fields": {"appId": 5, "data": "68656c6c6f"}}}]},

    {"note": "App 6's proxy sends data down in the SDK V3 carrier.",
     "packet": {"sid": 1234, "uri": 2611202, "record": {
       "appId": 6, "srcId": 60, "seqNum": 1, "appMsgType": 3, "data": "776f726c64"}},
     "expect": [
       {"log": {"text": "[sapp] AppMgr, first packet, srcId/seqNum= 60, 1"}},
       {"event": {"type": 1035, "fields": {"appId": 6, "data": "776f726c64"}}}]},

    {"note": "App 5's client SDK answers: one PUserMsg3 to its proxy, numbered 1 by the uplink counter.",
     "request": {"sid": 1234, "type": 1007, "appId": 5, "data": "70696e67"},
     "expect": [
       {"send": {"uri": 2585602, "record": "PUserMsg3", "fields": {"proxyId": 50, "msgType": 1,
         "data": {"seqNum": 1, "appMsgType": 3, "appId": 5, "uid": 4294967396, "sid": 1234, "appData": "70696e67"}}}}],
     "exact": true},

    {"note": "App 6's client SDK answers: one PAppMsgToSDK listing both proxies, numbered 2.",
     "request": {"sid": 1234, "type": 1007, "appId": 6, "data": "706f6e67"},
     "expect": [
       {"send": {"uri": 2611458, "record": "PAppMsgToSDK", "fields": {
         "sid": 1234, "uid": 100, "appId": 6, "seqNum": 2, "proxyIds": [60, 61], "data": "706f6e67"}}}],
     "exact": true},

    {"note": "The retry task was removed by the answer: time passes without a request.",
     "advance": 10000, "exact": true},

    {"note": "The user leaves the channel: the query is stopped.",
     "event": {"session": "a", "type": 8003},
     "expect": [
       {"log": {"text": "[sapp] SAppContext::onSessionEvent, EVENT_SESS_LEAVE"}},
       {"task": {"session": "a", "op": "remove"}}]},

    {"note": "The host leaves the session: its context is destroyed.",
     "leave": 1234,
     "expect": [
       {"log": {"text": "[sapp] SAppModule::onLeave, sid= 1234"}},
       {"log": {"text": "[sapp] SAppModule::delSession, sid= 1234"}},
       {"log": {"text": "[sapp] SAppContext::~SAppContext, enter"}},
       {"watch": {"session": "a", "op": "remove"}},
       {"log": {"text": "[sapp] SAppContext::~SAppContext, exit"}}],
     "absent": [{"send": {}}, {"event": {}}]},

    {"note": "The last session is released: the module destroys its singleton.",
     "release": 1234,
     "expect": [
       {"log": {"text": "[sapp] SAppModule::release, enter"}},
       {"log": {"text": "[sapp] SAppModule::~VideoModule enter"}},
       {"log": {"text": "[sapp] SAppModule::~VideoModule, exit"}},
       {"log": {"text": "[sapp] SAppModule::release, leave"}}]}
  ]
})json";

constexpr std::string_view kInboundUris = "INBOUND_URIS";

std::string inboundUris() {
    std::string uris;
    protocol::session::forEach(protocol::session::InboundPackets{}, [&uris]<class P>() {
        if (!uris.empty()) uris += ", ";
        uris += std::to_string(P::uri);
    });
    return uris;
}

}  // namespace

const std::string& builtinScenario() {
    static const std::string text = [] {
        std::string t(kText);
        t.replace(t.find(kInboundUris), kInboundUris.size(), inboundUris());
        return t;
    }();
    return text;
}

}  // namespace sapphost
