// Session-app protocol records (namespace protocol::session) and their URIs.
//
// A URI is (message number << 8) | service id. Each record's fields() lists
// its fields in wire order with their encodings (marshal/Fields.h): that list
// is the record's wire grammar, and marshal and unmarshal walk it. Which
// record travels under which URI, which way, and which of its fields hold a
// nested payload: the packet table, protocol/Packets.h.
//
//   PGetAppsReq       asks for the channel's apps
//   PAddAppReq        apps added, with their packs; the answer to PGetAppsReq
//   PDelAppReq        apps removed
//   PGetAnnounceApps  asks for the announce apps
//   (PAddAnnounceApps, PSetCurrentAnnounceApp: announce-app bodies, relayed undecoded)
//   PUserMsg3         SDK V2 app-platform message (payload: AppPayloads.h)
//   PAppMsgToClient   SDK V3 app-platform message to the client
//   PAppMsgToSDK      SDK V3 app-platform message to the app
//
// Nested records, inside the payloads of the app-platform messages:
// AppInfoPack (V2 app added or removed), AppInfoPack3 (V3 app added or
// removed), their VersionItem elements, and PAppSdkInfo (V3 proxy list).
//
// Records are plain data: every scalar starts at zero, so that fields the
// module gives no value of its own (the reserved ones) go out as 0 and no
// record ever carries indeterminate bytes.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "marshal/Fields.h"
#include "marshal/RecordWalks.h"

namespace protocol::session {

consteval uint32_t makeUri(uint32_t number, uint32_t service) { return (number << 8) | service; }

inline constexpr uint32_t kServiceSessionApp = 210;
inline constexpr uint32_t kServiceAppPlatform = 2;

inline constexpr uint32_t URI_GET_APPS_REQ = makeUri(1001, kServiceSessionApp);           // 256466
inline constexpr uint32_t URI_ADD_APP_REQ = makeUri(1003, kServiceSessionApp);            // 256978
inline constexpr uint32_t URI_DEL_APP_REQ = makeUri(1005, kServiceSessionApp);            // 257490
inline constexpr uint32_t URI_GET_ANNOUNCE_APPS = makeUri(3202, kServiceSessionApp);      // 819922
inline constexpr uint32_t URI_ADD_ANNOUNCE_APPS = makeUri(3203, kServiceSessionApp);      // 820178
inline constexpr uint32_t URI_SET_CUR_ANNOUNCE_APP = makeUri(3207, kServiceSessionApp);   // 821202
inline constexpr uint32_t URI_USER_MSG3 = makeUri(10100, kServiceAppPlatform);            // 2585602
inline constexpr uint32_t URI_APP_MSG_TO_CLIENT = makeUri(10200, kServiceAppPlatform);    // 2611202
inline constexpr uint32_t URI_APP_MSG_TO_SDK = makeUri(10201, kServiceAppPlatform);       // 2611458

struct PGetAppsReq : pakt::Record<PGetAppsReq> {
    uint32_t uid = 0;
    uint32_t sid = 0;
    uint32_t sGroupId = 0;
    uint32_t reserved1 = 0;
    uint32_t reserved2 = 0;
    std::string extra;

    template <class R, class V>
    static void fields(R& r, V& v) {
        v(pakt::u32, "uid", r.uid);
        v(pakt::u32, "sid", r.sid);
        v(pakt::u32, "sGroupId", r.sGroupId);
        v(pakt::u32, "reserved1", r.reserved1);
        v(pakt::u32, "reserved2", r.reserved2);
        v(pakt::varstr16, "extra", r.extra);
    }
};

struct PGetAnnounceApps : pakt::Record<PGetAnnounceApps> {
    uint32_t sid = 0;
    uint32_t pid = 0;
    uint32_t uid = 0;
    std::string extra;

    template <class R, class V>
    static void fields(R& r, V& v) {
        v(pakt::u32, "sid", r.sid);
        v(pakt::u32, "pid", r.pid);
        v(pakt::u32, "uid", r.uid);
        v(pakt::varstr16, "extra", r.extra);
    }
};

// The two app-list notices hold their lists (appPacks, sidApps) as byte runs
// of type Bytes: a std::string in the records everyone builds and reads, a
// std::string_view into the packet's body where the module decodes a notice
// it reads within the call that delivered it, so that a list of thousands of
// apps is not copied before it is read.
template <class Bytes>
struct BasicAddAppReq : pakt::Record<BasicAddAppReq<Bytes>> {
    uint32_t sid = 0;
    Bytes appPacks;
    Bytes sidApps;
    std::vector<uint32_t> appIds;
    uint8_t appPacksZipped = 0;
    uint32_t appPacksLen = 0;
    uint8_t sidAppsZipped = 0;
    uint32_t sidAppsLen = 0;
    // A set in the records everyone builds. The view keeps the ids as they
    // came, copied at once: the module uses none of them, and placing each
    // in a tree would cost a search for every id out of order.
    std::conditional_t<std::is_same_v<Bytes, std::string_view>, std::vector<uint32_t>, std::set<uint32_t>> idSet;
    uint32_t reserved = 0;
    std::string context;

    template <class R, class V>
    static void fields(R& r, V& v) {
        v(pakt::u32, "sid", r.sid);
        v(pakt::varstr32, "appPacks", r.appPacks);
        v(pakt::varstr32, "sidApps", r.sidApps);
        v("appIds", r.appIds);
        v(pakt::u8, "appPacksZipped", r.appPacksZipped);
        v(pakt::u32, "appPacksLen", r.appPacksLen);
        v(pakt::u8, "sidAppsZipped", r.sidAppsZipped);
        v(pakt::u32, "sidAppsLen", r.sidAppsLen);
        v("idSet", r.idSet);
        v(pakt::u32, "reserved", r.reserved);
        v(pakt::varstr32, "context", r.context);
    }
};
using PAddAppReq = BasicAddAppReq<std::string>;
using PAddAppReqView = BasicAddAppReq<std::string_view>;

template <class Bytes>
struct BasicDelAppReq : pakt::Record<BasicDelAppReq<Bytes>> {
    uint32_t sid = 0;
    Bytes sidApps;
    std::vector<uint32_t> appIds;
    uint8_t sidAppsZipped = 0;
    uint32_t sidAppsLen = 0;
    std::string context;

    template <class R, class V>
    static void fields(R& r, V& v) {
        v(pakt::u32, "sid", r.sid);
        v(pakt::varstr32, "sidApps", r.sidApps);
        v("appIds", r.appIds);
        v(pakt::u8, "sidAppsZipped", r.sidAppsZipped);
        v(pakt::u32, "sidAppsLen", r.sidAppsLen);
        v(pakt::varstr32, "context", r.context);
    }
};
using PDelAppReq = BasicDelAppReq<std::string>;
using PDelAppReqView = BasicDelAppReq<std::string_view>;

// The app-platform carriers hold their payload (data) as a byte run of type
// Bytes, like the app-list notices above: a view where the module reads a
// delivered message.
template <class Bytes>
struct BasicUserMsg3 : pakt::Record<BasicUserMsg3<Bytes>> {
    std::vector<uint32_t> idList1;
    std::vector<uint32_t> idList2;
    uint64_t proxyId = 0;
    uint32_t reserved1 = 0;
    uint16_t msgType = 0;
    uint32_t reserved2 = 0;
    uint32_t reserved3 = 0;
    Bytes data;

    template <class R, class V>
    static void fields(R& r, V& v) {
        v("idList1", r.idList1);
        v("idList2", r.idList2);
        v(pakt::u64, "proxyId", r.proxyId);
        v(pakt::u32, "reserved1", r.reserved1);
        v(pakt::u16, "msgType", r.msgType);
        v(pakt::u32, "reserved2", r.reserved2);
        v(pakt::u32, "reserved3", r.reserved3);
        v(pakt::varstr32, "data", r.data);
    }
};
using PUserMsg3 = BasicUserMsg3<std::string>;
using PUserMsg3View = BasicUserMsg3<std::string_view>;

template <class Bytes>
struct BasicAppMsgToClient : pakt::Record<BasicAppMsgToClient<Bytes>> {
    uint16_t reserved1 = 0;
    std::vector<uint32_t> idList;
    uint32_t reserved2 = 0;
    uint32_t appId = 0;
    uint64_t srcId = 0;
    uint64_t reserved3 = 0;
    uint32_t reserved4 = 0;
    uint32_t reserved5 = 0;
    uint32_t seqNum = 0;
    uint16_t appMsgType = 0;
    Bytes data;

    template <class R, class V>
    static void fields(R& r, V& v) {
        v(pakt::u16, "reserved1", r.reserved1);
        v("idList", r.idList);
        v(pakt::u32, "reserved2", r.reserved2);
        v(pakt::u32, "appId", r.appId);
        v(pakt::u64, "srcId", r.srcId);
        v(pakt::u64, "reserved3", r.reserved3);
        v(pakt::u32, "reserved4", r.reserved4);
        v(pakt::u32, "reserved5", r.reserved5);
        v(pakt::u32, "seqNum", r.seqNum);
        v(pakt::u16, "appMsgType", r.appMsgType);
        v(pakt::varstr32, "data", r.data);
    }
};
using PAppMsgToClient = BasicAppMsgToClient<std::string>;
using PAppMsgToClientView = BasicAppMsgToClient<std::string_view>;

struct PAppMsgToSDK : pakt::Record<PAppMsgToSDK> {
    uint32_t sid = 0;
    uint32_t uid = 0;
    uint32_t appId = 0;
    uint32_t seqNum = 0;
    uint64_t reserved1 = 0;
    std::vector<uint64_t> proxyIds;
    uint32_t reserved2 = 0;
    std::string extra;
    std::string data;

    template <class R, class V>
    static void fields(R& r, V& v) {
        v(pakt::u32, "sid", r.sid);
        v(pakt::u32, "uid", r.uid);
        v(pakt::u32, "appId", r.appId);
        v(pakt::u32, "seqNum", r.seqNum);
        v(pakt::u64, "reserved1", r.reserved1);
        v("proxyIds", r.proxyIds);
        v(pakt::u32, "reserved2", r.reserved2);
        v(pakt::varstr16, "extra", r.extra);
        v(pakt::varstr32, "data", r.data);
    }
};

struct VersionItem : pakt::Record<VersionItem> {
    // Not zero-filled first when a list builds one (protocol/PluginRecords.h).
    VersionItem() {}
    uint32_t num1 = 0;
    uint32_t num2 = 0;
    uint32_t num3 = 0;
    std::string str1;
    std::string str2;

    template <class R, class V>
    static void fields(R& r, V& v) {
        v(pakt::u32, "num1", r.num1);
        v(pakt::u32, "num2", r.num2);
        v(pakt::u32, "num3", r.num3);
        v(pakt::varstr16, "str1", r.str1);
        v(pakt::varstr16, "str2", r.str2);
    }
};

struct AppInfoPack : pakt::Record<AppInfoPack> {
    uint32_t appId = 0;
    uint64_t proxyId = 0;
    std::string str1;
    std::string str2;
    uint32_t num = 0;
    std::vector<VersionItem> versions;
    bool flag = false;

    template <class R, class V>
    static void fields(R& r, V& v) {
        v(pakt::u32, "appId", r.appId);
        v(pakt::u64, "proxyId", r.proxyId);
        v(pakt::varstr16, "str1", r.str1);
        v(pakt::varstr16, "str2", r.str2);
        v(pakt::u32, "num", r.num);
        v("versions", r.versions);
        v(pakt::boolean, "flag", r.flag);
    }
};

struct AppInfoPack3 : pakt::Record<AppInfoPack3> {
    uint32_t appId = 0;
    std::vector<uint64_t> proxyIds;
    std::string str1;
    std::string str2;
    uint32_t num = 0;
    std::vector<VersionItem> versions;
    bool flag = false;

    template <class R, class V>
    static void fields(R& r, V& v) {
        v(pakt::u32, "appId", r.appId);
        v("proxyIds", r.proxyIds);
        v(pakt::varstr16, "str1", r.str1);
        v(pakt::varstr16, "str2", r.str2);
        v(pakt::u32, "num", r.num);
        v("versions", r.versions);
        v(pakt::boolean, "flag", r.flag);
    }
};

struct PAppSdkInfo : pakt::Record<PAppSdkInfo> {
    std::vector<uint64_t> proxyIds;

    template <class R, class V>
    static void fields(R& r, V& v) {
        v("proxyIds", r.proxyIds);
    }
};

}  // namespace protocol::session

// Where the walks of these records are compiled, the views' included:
// marshal/RecordWalks.h. A new record adds its line here.
PAKT_RECORD_WALKS(protocol::session::PGetAppsReq)
PAKT_RECORD_WALKS(protocol::session::PGetAnnounceApps)
PAKT_RECORD_WALKS(protocol::session::PAddAppReq)
PAKT_RECORD_WALKS(protocol::session::PDelAppReq)
PAKT_RECORD_WALKS(protocol::session::PAddAppReqView)
PAKT_RECORD_WALKS(protocol::session::PDelAppReqView)
PAKT_RECORD_WALKS(protocol::session::PUserMsg3View)
PAKT_RECORD_WALKS(protocol::session::PAppMsgToClientView)
PAKT_RECORD_WALKS(protocol::session::PUserMsg3)
PAKT_RECORD_WALKS(protocol::session::PAppMsgToClient)
PAKT_RECORD_WALKS(protocol::session::PAppMsgToSDK)
PAKT_RECORD_WALKS(protocol::session::VersionItem)
PAKT_RECORD_WALKS(protocol::session::AppInfoPack)
PAKT_RECORD_WALKS(protocol::session::AppInfoPack3)
PAKT_RECORD_WALKS(protocol::session::PAppSdkInfo)
