// Session-app protocol records (namespace protocol::session) and their URIs.
//
// A URI is (message number << 8) | service id. Wire order of every record is
// the declaration order of its fields:
//
//   PGetAppsReq      1001|210 up    uid u32, sid u32, sGroupId u32, reserved1 u32,
//                                   reserved2 u32, extra varstr16
//   PAddAppReq       1003|210 down  sid u32, appPacks varstr32, sidApps varstr32,
//                                   appIds vector<u32>, appPacksZipped u8,
//                                   appPacksLen u32, sidAppsZipped u8, sidAppsLen u32,
//                                   idSet set<u32>, reserved u32, context varstr32
//   PDelAppReq       1005|210 down  sid u32, sidApps varstr32, appIds vector<u32>,
//                                   sidAppsZipped u8, sidAppsLen u32, context varstr32
//   PGetAnnounceApps 3202|210 up    sid u32, pid u32, uid u32, extra varstr16
//   (3203|210 and 3207|210 down: announce-app bodies, relayed undecoded)
//   PUserMsg3       10100|2   both  idList1 vector<u32>, idList2 vector<u32>, proxyId u64,
//                                   reserved1 u32, msgType u16, reserved2 u32,
//                                   reserved3 u32, data varstr32
//   PAppMsgToClient 10200|2   down  reserved1 u16, idList vector<u32>, reserved2 u32,
//                                   appId u32, srcId u64, reserved3 u64, reserved4 u32,
//                                   reserved5 u32, seqNum u32, appMsgType u16,
//                                   data varstr32
//   PAppMsgToSDK    10201|2   up    sid u32, uid u32, appId u32, seqNum u32,
//                                   reserved1 u64, proxyIds vector<u64>, reserved2 u32,
//                                   extra varstr16, data varstr32
//
// Nested records:
//   AppInfoPack   := appId u32, proxyId u64, str1 varstr16, str2 varstr16, num u32,
//                    versions vector<VersionItem>, flag bool(u8)
//   AppInfoPack3  := appId u32, proxyIds vector<u64>, str1 varstr16, str2 varstr16,
//                    num u32, versions vector<VersionItem>, flag bool(u8)
//   VersionItem   := num1 u32, num2 u32, num3 u32, str1 varstr16, str2 varstr16
//   PAppSdkInfo   := proxyIds vector<u64>
//
// Records are plain data: every scalar starts at zero, so that fields the
// module gives no value of its own (the reserved ones) go out as 0 and no
// record ever carries indeterminate bytes. bools are written 0/1 and read as
// non-zero.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "marshal/Marshallable.h"

namespace protocol::session {

constexpr uint32_t makeUri(uint32_t number, uint32_t service) { return (number << 8) | service; }

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

struct PGetAppsReq : pakt::Marshallable {
    uint32_t uid = 0;
    uint32_t sid = 0;
    uint32_t sGroupId = 0;
    uint32_t reserved1 = 0;
    uint32_t reserved2 = 0;
    std::string extra;

    void marshal(pakt::Pack& p) const override;
    void unmarshal(pakt::Unpack& up) override;
};

struct PGetAnnounceApps : pakt::Marshallable {
    uint32_t sid = 0;
    uint32_t pid = 0;
    uint32_t uid = 0;
    std::string extra;

    void marshal(pakt::Pack& p) const override;
    void unmarshal(pakt::Unpack& up) override;
};

struct PAddAppReq : pakt::Marshallable {
    uint32_t sid = 0;
    std::string appPacks;
    std::string sidApps;
    std::vector<uint32_t> appIds;
    uint8_t appPacksZipped = 0;
    uint32_t appPacksLen = 0;
    uint8_t sidAppsZipped = 0;
    uint32_t sidAppsLen = 0;
    std::set<uint32_t> idSet;
    uint32_t reserved = 0;
    std::string context;

    void marshal(pakt::Pack& p) const override;
    void unmarshal(pakt::Unpack& up) override;
};

struct PDelAppReq : pakt::Marshallable {
    uint32_t sid = 0;
    std::string sidApps;
    std::vector<uint32_t> appIds;
    uint8_t sidAppsZipped = 0;
    uint32_t sidAppsLen = 0;
    std::string context;

    void marshal(pakt::Pack& p) const override;
    void unmarshal(pakt::Unpack& up) override;
};

struct PUserMsg3 : pakt::Marshallable {
    std::vector<uint32_t> idList1;
    std::vector<uint32_t> idList2;
    uint64_t proxyId = 0;
    uint32_t reserved1 = 0;
    uint16_t msgType = 0;
    uint32_t reserved2 = 0;
    uint32_t reserved3 = 0;
    std::string data;

    void marshal(pakt::Pack& p) const override;
    void unmarshal(pakt::Unpack& up) override;
};

struct PAppMsgToClient : pakt::Marshallable {
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
    std::string data;

    void marshal(pakt::Pack& p) const override;
    void unmarshal(pakt::Unpack& up) override;
};

struct PAppMsgToSDK : pakt::Marshallable {
    uint32_t sid = 0;
    uint32_t uid = 0;
    uint32_t appId = 0;
    uint32_t seqNum = 0;
    uint64_t reserved1 = 0;
    std::vector<uint64_t> proxyIds;
    uint32_t reserved2 = 0;
    std::string extra;
    std::string data;

    void marshal(pakt::Pack& p) const override;
    void unmarshal(pakt::Unpack& up) override;
};

struct VersionItem : pakt::Marshallable {
    uint32_t num1 = 0;
    uint32_t num2 = 0;
    uint32_t num3 = 0;
    std::string str1;
    std::string str2;

    void marshal(pakt::Pack& p) const override;
    void unmarshal(pakt::Unpack& up) override;
};

struct AppInfoPack : pakt::Marshallable {
    uint32_t appId = 0;
    uint64_t proxyId = 0;
    std::string str1;
    std::string str2;
    uint32_t num = 0;
    std::vector<VersionItem> versions;
    bool flag = false;

    void marshal(pakt::Pack& p) const override;
    void unmarshal(pakt::Unpack& up) override;
};

struct AppInfoPack3 : pakt::Marshallable {
    uint32_t appId = 0;
    std::vector<uint64_t> proxyIds;
    std::string str1;
    std::string str2;
    uint32_t num = 0;
    std::vector<VersionItem> versions;
    bool flag = false;

    void marshal(pakt::Pack& p) const override;
    void unmarshal(pakt::Unpack& up) override;
};

struct PAppSdkInfo : pakt::Marshallable {
    std::vector<uint64_t> proxyIds;

    void marshal(pakt::Pack& p) const override;
    void unmarshal(pakt::Unpack& up) override;
};

}  // namespace protocol::session
