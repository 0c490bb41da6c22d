// The names of this folder's plain wire records, without their definitions:
// for a header that only passes them by reference (ClientAppInfo.h,
// SAppMgr.h) and would otherwise pull in every field list to name one.
//
// The record templates (BasicAddAppReq and the like) and their aliases
// (PAddAppReq, PAddAppReqView, ...) are defined once, next to each other, in
// their headers: whoever names a view needs its template's definition.
#pragma once

// SessionRecords.h: the session service's and the app platform's records.
namespace protocol::session {

struct PGetAppsReq;
struct PGetAnnounceApps;
struct PAppMsgToSDK;
struct VersionItem;
struct AppInfoPack;
struct AppInfoPack3;
struct PAppSdkInfo;

// AppPayloads.h: the SDK V2 payloads.
struct AppHeaderV2;

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
