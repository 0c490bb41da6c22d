// The names of this folder's wire records, without their definitions: for a
// header that only passes records by reference (the app manager's, the soak's)
// and would otherwise pull in every field list to name one.
//
// The record templates' aliases are defined here and nowhere else: the
// headers that define the records include this one, so a header that names
// PAddAppReqView through it names the very type SessionRecords.h defines,
// and a template that gains a parameter fails to compile here instead of
// leaving a stale copy somewhere.
#pragma once

#include <string>
#include <string_view>

// SessionRecords.h: the session service's and the app platform's records.
namespace protocol::session {

struct PGetAppsReq;
struct PGetAnnounceApps;
template <class Bytes> struct BasicAddAppReq;
template <class Bytes> struct BasicDelAppReq;
template <class Bytes> struct BasicUserMsg3;
template <class Bytes> struct BasicAppMsgToClient;
struct PAppMsgToSDK;
struct VersionItem;
struct AppInfoPack;
struct AppInfoPack3;
struct PAppSdkInfo;

// The records everyone builds and reads hold their byte runs as strings;
// the views, which the module decodes within the call that delivered the
// packet, point into its body.
using PAddAppReq = BasicAddAppReq<std::string>;
using PAddAppReqView = BasicAddAppReq<std::string_view>;
using PDelAppReq = BasicDelAppReq<std::string>;
using PDelAppReqView = BasicDelAppReq<std::string_view>;
using PUserMsg3 = BasicUserMsg3<std::string>;
using PUserMsg3View = BasicUserMsg3<std::string_view>;
using PAppMsgToClient = BasicAppMsgToClient<std::string>;
using PAppMsgToClientView = BasicAppMsgToClient<std::string_view>;

// AppPayloads.h: the SDK V2 payloads.
struct AppHeaderV2;
template <class Text> struct BasicAppDataV2;
template <class Text> struct BasicAppUplinkV2;

using AppDataV2 = BasicAppDataV2<std::string>;
using AppDataV2View = BasicAppDataV2<std::string_view>;
using AppUplinkV2 = BasicAppUplinkV2<std::string>;
using AppUplinkV2View = BasicAppUplinkV2<std::string_view>;

}  // namespace protocol::session

// PluginRecords.h: the plug-in records inside the app-list notices.
namespace vessaplugin::appMgr {

struct PluginVerItem;
struct PluginAppPack;
struct PluginAppPackMap;
struct PluginSid2Apps;
struct PluginSidAttr;
struct PluginSid2AppsMap;

}  // namespace vessaplugin::appMgr
