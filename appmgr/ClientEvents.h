// Client events the app manager hands to ISession::postAppEvent.
//
// Every record starts with the AppEvent head (type, empty extra) and adds
// its fields after it. A record lives on the caller's stack for the duration
// of the call; the host copies what it keeps.
//
//   1031 EVENT_APP_ADDED      AppAddedEvent      info
//   1032 EVENT_APPS_ADDED     AppsAddedEvent     sid, appPacks, sidApps, appIds, context
//   1033 EVENT_APP_REMOVED    AppRemovedEvent    appId, flag, str2
//   1034 EVENT_APPS_DELETED   AppsDeletedEvent   sid, sidApps, appIds, context
//   1035 EVENT_APP_DATA       AppDataEvent       appId, data
//   2000 EVENT_ANNOUNCE_APPS  AnnounceAppsEvent  body
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/ClientRecords.h"
#include "protocol/PluginRecords.h"

namespace protocol::session {
struct AppInfoPack;
struct AppInfoPack3;
}  // namespace protocol::session

inline constexpr uint32_t EVENT_APP_ADDED = 1031;
inline constexpr uint32_t EVENT_APPS_ADDED = 1032;
inline constexpr uint32_t EVENT_APP_REMOVED = 1033;
inline constexpr uint32_t EVENT_APPS_DELETED = 1034;
inline constexpr uint32_t EVENT_APP_DATA = 1035;
inline constexpr uint32_t EVENT_ANNOUNCE_APPS = 2000;

// Client form of a VersionItem.
struct ClientVersionItem {
    uint32_t num1 = 0;
    uint32_t num2 = 0;
    uint32_t num3 = 0;
    std::string str1;   // bytes, unchanged
    std::wstring str2;  // ProtoA2U::net2app of the item's str2
};

// Client form of an AppInfoPack (V2) or AppInfoPack3 (V3); proxies are not
// part of it.
struct ClientAppInfo {
    uint32_t appId = 0;
    std::wstring str1;
    std::wstring str2;
    uint32_t num = 0;
    std::vector<ClientVersionItem> versions;
    bool flag = false;
};

// The client form of an app description: strings converted with
// ProtoA2U::net2app (VersionItem::str1 stays bytes), proxies dropped.
ClientAppInfo toClientAppInfo(const protocol::session::AppInfoPack& info);
ClientAppInfo toClientAppInfo(const protocol::session::AppInfoPack3& info);

struct AppAddedEvent : AppEvent {
    AppAddedEvent() { type = EVENT_APP_ADDED; }
    ClientAppInfo info;
};

struct AppsAddedEvent : AppEvent {
    AppsAddedEvent() { type = EVENT_APPS_ADDED; }
    uint32_t sid = 0;
    vessaplugin::appMgr::PluginAppPackMap appPacks;
    vessaplugin::appMgr::PluginSid2AppsMap sidApps;
    std::vector<uint32_t> appIds;
    std::string context;
};

struct AppRemovedEvent : AppEvent {
    AppRemovedEvent() { type = EVENT_APP_REMOVED; }
    uint32_t appId = 0;
    bool flag = false;
    std::wstring str2;
};

struct AppsDeletedEvent : AppEvent {
    AppsDeletedEvent() { type = EVENT_APPS_DELETED; }
    uint32_t sid = 0;
    vessaplugin::appMgr::PluginSid2AppsMap sidApps;
    std::vector<uint32_t> appIds;
    std::string context;
};

struct AppDataEvent : AppEvent {
    AppDataEvent() { type = EVENT_APP_DATA; }
    uint32_t appId = 0;
    std::string data;
};

struct AnnounceAppsEvent : AppEvent {
    AnnounceAppsEvent() { type = EVENT_ANNOUNCE_APPS; }
    std::string body;
};
