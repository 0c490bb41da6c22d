#include "appmgr/ClientAppInfo.h"

#include "host/Pktcore.h"
#include "protocol/SessionRecords.h"

namespace {

// AppInfoPack and AppInfoPack3 differ only in their proxies, which the
// client form leaves out.
template <typename InfoPack>
ClientAppInfo convert(const InfoPack& info) {
    ClientAppInfo client;
    client.appId = info.appId;
    client.str1 = ProtoA2U::net2app(info.str1);
    client.str2 = ProtoA2U::net2app(info.str2);
    client.num = info.num;
    client.versions.reserve(info.versions.size());
    for (const protocol::session::VersionItem& item : info.versions) {
        client.versions.push_back(
            {item.num1, item.num2, item.num3, item.str1, ProtoA2U::net2app(item.str2)});
    }
    client.flag = info.flag;
    return client;
}

}  // namespace

ClientAppInfo toClientAppInfo(const protocol::session::AppInfoPack& info) { return convert(info); }

ClientAppInfo toClientAppInfo(const protocol::session::AppInfoPack3& info) { return convert(info); }
