// Client events: the records the module hands to ISession::postAppEvent.
//
// Every record starts with the AppEvent head (type, empty extra) and adds
// its fields after it; each lists those fields, for whoever shows or copies
// events. A record is the module's and lives for the duration of the call
// (on the module's stack, or kept and filled anew for each message, as the
// app data event is); the host copies what it keeps. A copy is the host's own: it may be
// copied and moved again, kept after the call, after the session left and
// after the module was unloaded, and destroyed at any time. The plug-in
// records an app-list event holds have virtual walks (marshal, unmarshal);
// their headers define them, so a host's compiler builds them where the
// host copies an event, and the host links nothing of the module for it.
// AppEvent has no virtual destructor: a host that keeps events as
// AppEvent* deletes each as the record its code names (visitClientEvent).
// docs/abi.md, "Keeping records".
//
//   1031 EVENT_APP_ADDED      AppAddedEvent      an app-platform app was added
//   1032 EVENT_APPS_ADDED     AppsAddedEvent     the session service added apps
//   1033 EVENT_APP_REMOVED    AppRemovedEvent    an app-platform app was removed
//   1034 EVENT_APPS_DELETED   AppsDeletedEvent   the session service deleted apps
//   1035 EVENT_APP_DATA       AppDataEvent       an app's message for its client-side SDK
//   2000 EVENT_ANNOUNCE_APPS  AnnounceAppsEvent  an announce-app notice, relayed raw
//
// They sit beside the wire records they are made from (an AppsAddedEvent
// carries the notice's plug-in records): the module builds them and the
// host side reads them, and both may include this folder. host/ keeps only
// the head that ISession::postAppEvent takes (ClientRecords.h), and depends
// on nothing of the project.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "host/ClientRecords.h"
#include "protocol/PluginRecords.h"

inline constexpr uint32_t EVENT_APP_ADDED = 1031;
inline constexpr uint32_t EVENT_APPS_ADDED = 1032;
inline constexpr uint32_t EVENT_APP_REMOVED = 1033;
inline constexpr uint32_t EVENT_APPS_DELETED = 1034;
inline constexpr uint32_t EVENT_APP_DATA = 1035;
inline constexpr uint32_t EVENT_ANNOUNCE_APPS = 2000;

// Client form of a VersionItem: str1 stays bytes, str2 is converted.
struct ClientVersionItem {
    uint32_t num1 = 0;
    uint32_t num2 = 0;
    uint32_t num3 = 0;
    std::string str1;
    std::wstring str2;

    template <class R, class V>
    static void fields(R& r, V& v) {
        v("num1", r.num1);
        v("num2", r.num2);
        v("num3", r.num3);
        v("str1", r.str1);
        v("str2", r.str2);
    }
};

// Client form of an AppInfoPack (V2) or AppInfoPack3 (V3): strings
// converted, proxies left out.
struct ClientAppInfo {
    uint32_t appId = 0;
    std::wstring str1;
    std::wstring str2;
    uint32_t num = 0;
    std::vector<ClientVersionItem> versions;
    bool flag = false;

    template <class R, class V>
    static void fields(R& r, V& v) {
        v("appId", r.appId);
        v("str1", r.str1);
        v("str2", r.str2);
        v("num", r.num);
        v("versions", r.versions);
        v("flag", r.flag);
    }
};

struct AppAddedEvent : AppEvent {
    static constexpr uint32_t kType = EVENT_APP_ADDED;
    static constexpr std::string_view kName = "EVENT_APP_ADDED";
    AppAddedEvent() { type = kType; }
    ClientAppInfo info;

    template <class R, class V>
    static void fields(R& r, V& v) {
        v("info", r.info);
    }
};

struct AppsAddedEvent : AppEvent {
    static constexpr uint32_t kType = EVENT_APPS_ADDED;
    static constexpr std::string_view kName = "EVENT_APPS_ADDED";
    AppsAddedEvent() { type = kType; }
    uint32_t sid = 0;
    vessaplugin::appMgr::PluginAppPackMap appPacks;
    vessaplugin::appMgr::PluginSid2AppsMap sidApps;
    std::vector<uint32_t> appIds;
    std::string context;

    template <class R, class V>
    static void fields(R& r, V& v) {
        v("sid", r.sid);
        v("appPacks", r.appPacks);
        v("sidApps", r.sidApps);
        v("appIds", r.appIds);
        v("context", r.context);
    }
};

struct AppRemovedEvent : AppEvent {
    static constexpr uint32_t kType = EVENT_APP_REMOVED;
    static constexpr std::string_view kName = "EVENT_APP_REMOVED";
    AppRemovedEvent() { type = kType; }
    uint32_t appId = 0;
    bool flag = false;
    std::wstring str2;

    template <class R, class V>
    static void fields(R& r, V& v) {
        v("appId", r.appId);
        v("flag", r.flag);
        v("str2", r.str2);
    }
};

struct AppsDeletedEvent : AppEvent {
    static constexpr uint32_t kType = EVENT_APPS_DELETED;
    static constexpr std::string_view kName = "EVENT_APPS_DELETED";
    AppsDeletedEvent() { type = kType; }
    uint32_t sid = 0;
    vessaplugin::appMgr::PluginSid2AppsMap sidApps;
    std::vector<uint32_t> appIds;
    std::string context;

    template <class R, class V>
    static void fields(R& r, V& v) {
        v("sid", r.sid);
        v("sidApps", r.sidApps);
        v("appIds", r.appIds);
        v("context", r.context);
    }
};

struct AppDataEvent : AppEvent {
    static constexpr uint32_t kType = EVENT_APP_DATA;
    static constexpr std::string_view kName = "EVENT_APP_DATA";
    AppDataEvent() { type = kType; }
    uint32_t appId = 0;
    std::string data;

    template <class R, class V>
    static void fields(R& r, V& v) {
        v("appId", r.appId);
        v("data", r.data);
    }
};

struct AnnounceAppsEvent : AppEvent {
    static constexpr uint32_t kType = EVENT_ANNOUNCE_APPS;
    static constexpr std::string_view kName = "EVENT_ANNOUNCE_APPS";
    AnnounceAppsEvent() { type = kType; }
    std::string body;

    template <class R, class V>
    static void fields(R& r, V& v) {
        v("body", r.body);
    }
};

// Every client event, once: visitClientEvent and the tools' event tables
// (sapp-host's JSON, names and patterns) walk this list, so a new event is
// its record above and its line here.
template <class... E> struct EventList {};
using ClientEvents = EventList<AppAddedEvent, AppsAddedEvent, AppRemovedEvent, AppsDeletedEvent, AppDataEvent,
                               AnnounceAppsEvent>;

namespace client_event_detail {
template <class F, class E, class... Rest>
decltype(auto) visitEventAs(const AppEvent& event, F& f) {
    if (event.type == E::kType) return f(static_cast<const E&>(event));
    if constexpr (sizeof...(Rest) == 0) {
        return f(event);
    } else {
        return visitEventAs<F, Rest...>(event, f);
    }
}
template <class... E>
consteval bool distinctTypes(EventList<E...>) {
    const uint32_t types[] = {E::kType...};
    for (std::size_t i = 0; i < sizeof...(E); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            if (types[i] == types[j]) return false;
        }
    }
    return true;
}
static_assert(distinctTypes(ClientEvents{}), "each client event has its own code");

template <class F, class... E>
decltype(auto) visitEventIn(EventList<E...>, const AppEvent& event, F& f) {
    return visitEventAs<F, E...>(event, f);
}
}  // namespace client_event_detail

// Calls f with `event` as the record its code names (an AppDataEvent for
// EVENT_APP_DATA, ...), or as the bare head for an unknown code, and returns
// what f returns.
template <class F>
decltype(auto) visitClientEvent(const AppEvent& event, F&& f) {
    return client_event_detail::visitEventIn(ClientEvents{}, event, f);
}
