// The client form of the app descriptions in app-platform messages.
#pragma once

#include "protocol/ClientEvents.h"
#include "protocol/RecordsFwd.h"

// Strings converted with ProtoA2U::net2app (VersionItem::str1 stays bytes),
// proxies dropped.
ClientAppInfo toClientAppInfo(const protocol::session::AppInfoPack& info);
ClientAppInfo toClientAppInfo(const protocol::session::AppInfoPack3& info);
