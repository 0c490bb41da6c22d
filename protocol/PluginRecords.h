// App-platform plug-in records (namespace vessaplugin::appMgr).
//
// They never travel as packets of their own: a PluginAppPackMap is the
// content of PAddAppReq::appPacks and a PluginSid2AppsMap the content of
// the sidApps fields of PAddAppReq and PDelAppReq (possibly zlib-compressed).
// Wire order of every record is the declaration order of its fields:
//
//   PluginAppPackMap  := apps: map<u32 appId, PluginAppPack>
//   PluginAppPack     := appId u32, str1 varstr16, str2 varstr16, str3 varstr16,
//                        num1 u32, short1 u16, short2 u16, short3 u16,
//                        versions vector<PluginVerItem>, num2 u32, byte1 u8 (raw),
//                        proxyIds vector<u64>, sdkVersion u16, str4 varstr16
//   PluginVerItem     := num1 u32, str1 varstr16, str2 varstr16, str3 varstr16,
//                        num2 u32, num3 u32, str4 varstr16
//   PluginSid2AppsMap := sidApps map<u32 sid, PluginSid2Apps>,
//                        sidAttrs map<u32 sid, PluginSidAttr>
//   PluginSid2Apps    := appIds vector<u32>
//   PluginSidAttr     := num u32, str varstr16
//
// Records are plain data: every scalar starts at zero so that no record ever
// carries indeterminate bytes, containers and strings start empty.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "marshal/Marshallable.h"

namespace vessaplugin::appMgr {

struct PluginVerItem : pakt::Marshallable {
    uint32_t num1 = 0;
    std::string str1;
    std::string str2;
    std::string str3;
    uint32_t num2 = 0;
    uint32_t num3 = 0;
    std::string str4;

    void marshal(pakt::Pack& p) const override;
    void unmarshal(pakt::Unpack& up) override;
};

struct PluginAppPack : pakt::Marshallable {
    uint32_t appId = 0;
    std::string str1;
    std::string str2;
    std::string str3;
    uint32_t num1 = 0;
    uint16_t short1 = 0;
    uint16_t short2 = 0;
    uint16_t short3 = 0;
    std::vector<PluginVerItem> versions;
    uint32_t num2 = 0;
    uint8_t byte1 = 0;
    std::vector<uint64_t> proxyIds;
    uint16_t sdkVersion = 0;
    std::string str4;

    void marshal(pakt::Pack& p) const override;
    void unmarshal(pakt::Unpack& up) override;
};

struct PluginAppPackMap : pakt::Marshallable {
    std::map<uint32_t, PluginAppPack> apps;

    void marshal(pakt::Pack& p) const override;
    void unmarshal(pakt::Unpack& up) override;
};

struct PluginSid2Apps : pakt::Marshallable {
    std::vector<uint32_t> appIds;

    void marshal(pakt::Pack& p) const override;
    void unmarshal(pakt::Unpack& up) override;
};

struct PluginSidAttr : pakt::Marshallable {
    uint32_t num = 0;
    std::string str;

    void marshal(pakt::Pack& p) const override;
    void unmarshal(pakt::Unpack& up) override;
};

struct PluginSid2AppsMap : pakt::Marshallable {
    std::map<uint32_t, PluginSid2Apps> sidApps;
    std::map<uint32_t, PluginSidAttr> sidAttrs;

    void marshal(pakt::Pack& p) const override;
    void unmarshal(pakt::Unpack& up) override;
};

}  // namespace vessaplugin::appMgr
