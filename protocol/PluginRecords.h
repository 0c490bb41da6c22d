// App-platform plug-in records (namespace vessaplugin::appMgr).
//
// They never travel as packets of their own: a PluginAppPackMap is the
// content of PAddAppReq::appPacks and a PluginSid2AppsMap the content of
// the sidApps fields of PAddAppReq and PDelAppReq (possibly zlib-compressed).
// Each record's fields() lists its fields in wire order with their encodings
// (marshal/Fields.h):
//
//   PluginAppPackMap   the apps' descriptions: a map from app id to PluginAppPack
//   PluginAppPack      one app: its strings and numbers for the client, its
//                      versions (PluginVerItem), proxies and SDK generation
//   PluginSid2AppsMap  which apps belong to which sid (PluginSid2Apps), and
//                      per-sid attributes (PluginSidAttr)
//
// Records are plain data: every scalar starts at zero so that no record ever
// carries indeterminate bytes, containers and strings start empty.
//
// A record that a list or map holds has a constructor of its own, empty:
// its members' initializers set it up. A reader builds such a record in
// place, value-initialized (std::vector::emplace_back(), std::map's
// emplace of an empty tuple), and value-initializing a class whose
// constructor is not its own first zero-fills the whole object, then runs
// the initializers anyway: 224 bytes for an app pack, 152 for a version
// item, each app of an app list (47 instructions per app,
// bench/callgrind.sh).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "marshal/Fields.h"
#include "marshal/RecordWalks.h"

namespace vessaplugin::appMgr {

struct PluginVerItem : pakt::Record<PluginVerItem> {
    PluginVerItem() {}  // not zero-filled first: see the top of this file
    uint32_t num1 = 0;
    std::string str1;
    std::string str2;
    std::string str3;
    uint32_t num2 = 0;
    uint32_t num3 = 0;
    std::string str4;

    template <class R, class V>
    static void fields(R& r, V& v) {
        v(pakt::u32, "num1", r.num1);
        v(pakt::varstr16, "str1", r.str1);
        v(pakt::varstr16, "str2", r.str2);
        v(pakt::varstr16, "str3", r.str3);
        v(pakt::u32, "num2", r.num2);
        v(pakt::u32, "num3", r.num3);
        v(pakt::varstr16, "str4", r.str4);
    }
};

struct PluginAppPack : pakt::Record<PluginAppPack> {
    PluginAppPack() {}  // not zero-filled first: see the top of this file
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

    template <class R, class V>
    static void fields(R& r, V& v) {
        v(pakt::u32, "appId", r.appId);
        v(pakt::varstr16, "str1", r.str1);
        v(pakt::varstr16, "str2", r.str2);
        v(pakt::varstr16, "str3", r.str3);
        v(pakt::u32, "num1", r.num1);
        v(pakt::u16, "short1", r.short1);
        v(pakt::u16, "short2", r.short2);
        v(pakt::u16, "short3", r.short3);
        v("versions", r.versions);
        v(pakt::u32, "num2", r.num2);
        v(pakt::u8, "byte1", r.byte1);
        v("proxyIds", r.proxyIds);
        v(pakt::u16, "sdkVersion", r.sdkVersion);
        v(pakt::varstr16, "str4", r.str4);
    }
};

struct PluginAppPackMap : pakt::Record<PluginAppPackMap> {
    std::map<uint32_t, PluginAppPack> apps;

    template <class R, class V>
    static void fields(R& r, V& v) {
        v("apps", r.apps);
    }
};

struct PluginSid2Apps : pakt::Record<PluginSid2Apps> {
    PluginSid2Apps() {}  // not zero-filled first: see the top of this file
    std::vector<uint32_t> appIds;

    template <class R, class V>
    static void fields(R& r, V& v) {
        v("appIds", r.appIds);
    }
};

struct PluginSidAttr : pakt::Record<PluginSidAttr> {
    PluginSidAttr() {}  // not zero-filled first: see the top of this file
    uint32_t num = 0;
    std::string str;

    template <class R, class V>
    static void fields(R& r, V& v) {
        v(pakt::u32, "num", r.num);
        v(pakt::varstr16, "str", r.str);
    }
};

struct PluginSid2AppsMap : pakt::Record<PluginSid2AppsMap> {
    std::map<uint32_t, PluginSid2Apps> sidApps;
    std::map<uint32_t, PluginSidAttr> sidAttrs;

    template <class R, class V>
    static void fields(R& r, V& v) {
        v("sidApps", r.sidApps);
        v("sidAttrs", r.sidAttrs);
    }
};

}  // namespace vessaplugin::appMgr

// Where the walks of these records are compiled, the views' included:
// marshal/RecordWalks.h. A new record adds its line here.
PAKT_RECORD_WALKS(vessaplugin::appMgr::PluginVerItem)
PAKT_RECORD_WALKS(vessaplugin::appMgr::PluginAppPack)
PAKT_RECORD_WALKS(vessaplugin::appMgr::PluginAppPackMap)
PAKT_RECORD_WALKS(vessaplugin::appMgr::PluginSid2Apps)
PAKT_RECORD_WALKS(vessaplugin::appMgr::PluginSidAttr)
PAKT_RECORD_WALKS(vessaplugin::appMgr::PluginSid2AppsMap)
