#include "protocol/PluginRecords.h"

namespace vessaplugin::appMgr {

void PluginVerItem::marshal(pakt::Pack& p) const {
    p.push_uint32(num1);
    p.push_varstr(str1);
    p.push_varstr(str2);
    p.push_varstr(str3);
    p.push_uint32(num2);
    p.push_uint32(num3);
    p.push_varstr(str4);
}

void PluginVerItem::unmarshal(pakt::Unpack& up) {
    num1 = up.pop_uint32();
    str1 = up.pop_varstr();
    str2 = up.pop_varstr();
    str3 = up.pop_varstr();
    num2 = up.pop_uint32();
    num3 = up.pop_uint32();
    str4 = up.pop_varstr();
}

void PluginAppPack::marshal(pakt::Pack& p) const {
    p.push_uint32(appId);
    p.push_varstr(str1);
    p.push_varstr(str2);
    p.push_varstr(str3);
    p.push_uint32(num1);
    p.push_uint16(short1);
    p.push_uint16(short2);
    p.push_uint16(short3);
    pakt::marshal_container(p, versions);
    p.push_uint32(num2);
    p.push_uint8(byte1);
    pakt::marshal_container(p, proxyIds);
    p.push_uint16(sdkVersion);
    p.push_varstr(str4);
}

void PluginAppPack::unmarshal(pakt::Unpack& up) {
    appId = up.pop_uint32();
    str1 = up.pop_varstr();
    str2 = up.pop_varstr();
    str3 = up.pop_varstr();
    num1 = up.pop_uint32();
    short1 = up.pop_uint16();
    short2 = up.pop_uint16();
    short3 = up.pop_uint16();
    pakt::unmarshal_container(up, versions);
    num2 = up.pop_uint32();
    byte1 = up.pop_uint8();
    pakt::unmarshal_container(up, proxyIds);
    sdkVersion = up.pop_uint16();
    str4 = up.pop_varstr();
}

void PluginAppPackMap::marshal(pakt::Pack& p) const { pakt::marshal_container(p, apps); }

void PluginAppPackMap::unmarshal(pakt::Unpack& up) { pakt::unmarshal_container(up, apps); }

void PluginSid2Apps::marshal(pakt::Pack& p) const { pakt::marshal_container(p, appIds); }

void PluginSid2Apps::unmarshal(pakt::Unpack& up) { pakt::unmarshal_container(up, appIds); }

void PluginSidAttr::marshal(pakt::Pack& p) const {
    p.push_uint32(num);
    p.push_varstr(str);
}

void PluginSidAttr::unmarshal(pakt::Unpack& up) {
    num = up.pop_uint32();
    str = up.pop_varstr();
}

void PluginSid2AppsMap::marshal(pakt::Pack& p) const {
    pakt::marshal_container(p, sidApps);
    pakt::marshal_container(p, sidAttrs);
}

void PluginSid2AppsMap::unmarshal(pakt::Unpack& up) {
    pakt::unmarshal_container(up, sidApps);
    pakt::unmarshal_container(up, sidAttrs);
}

}  // namespace vessaplugin::appMgr
