#include "protocol/SessionRecords.h"

namespace protocol::session {

void PGetAppsReq::marshal(pakt::Pack& p) const {
    p.push_uint32(uid);
    p.push_uint32(sid);
    p.push_uint32(sGroupId);
    p.push_uint32(reserved1);
    p.push_uint32(reserved2);
    p.push_varstr(extra);
}

void PGetAppsReq::unmarshal(pakt::Unpack& up) {
    uid = up.pop_uint32();
    sid = up.pop_uint32();
    sGroupId = up.pop_uint32();
    reserved1 = up.pop_uint32();
    reserved2 = up.pop_uint32();
    extra = up.pop_varstr();
}

void PGetAnnounceApps::marshal(pakt::Pack& p) const {
    p.push_uint32(sid);
    p.push_uint32(pid);
    p.push_uint32(uid);
    p.push_varstr(extra);
}

void PGetAnnounceApps::unmarshal(pakt::Unpack& up) {
    sid = up.pop_uint32();
    pid = up.pop_uint32();
    uid = up.pop_uint32();
    extra = up.pop_varstr();
}

void PAddAppReq::marshal(pakt::Pack& p) const {
    p.push_uint32(sid);
    p.push_varstr32(appPacks);
    p.push_varstr32(sidApps);
    pakt::marshal_container(p, appIds);
    p.push_uint8(appPacksZipped);
    p.push_uint32(appPacksLen);
    p.push_uint8(sidAppsZipped);
    p.push_uint32(sidAppsLen);
    pakt::marshal_container(p, idSet);
    p.push_uint32(reserved);
    p.push_varstr32(context);
}

void PAddAppReq::unmarshal(pakt::Unpack& up) {
    sid = up.pop_uint32();
    appPacks = up.pop_varstr32();
    sidApps = up.pop_varstr32();
    pakt::unmarshal_container(up, appIds);
    appPacksZipped = up.pop_uint8();
    appPacksLen = up.pop_uint32();
    sidAppsZipped = up.pop_uint8();
    sidAppsLen = up.pop_uint32();
    pakt::unmarshal_container(up, idSet);
    reserved = up.pop_uint32();
    context = up.pop_varstr32();
}

void PDelAppReq::marshal(pakt::Pack& p) const {
    p.push_uint32(sid);
    p.push_varstr32(sidApps);
    pakt::marshal_container(p, appIds);
    p.push_uint8(sidAppsZipped);
    p.push_uint32(sidAppsLen);
    p.push_varstr32(context);
}

void PDelAppReq::unmarshal(pakt::Unpack& up) {
    sid = up.pop_uint32();
    sidApps = up.pop_varstr32();
    pakt::unmarshal_container(up, appIds);
    sidAppsZipped = up.pop_uint8();
    sidAppsLen = up.pop_uint32();
    context = up.pop_varstr32();
}

void PUserMsg3::marshal(pakt::Pack& p) const {
    pakt::marshal_container(p, idList1);
    pakt::marshal_container(p, idList2);
    p.push_uint64(proxyId);
    p.push_uint32(reserved1);
    p.push_uint16(msgType);
    p.push_uint32(reserved2);
    p.push_uint32(reserved3);
    p.push_varstr32(data);
}

void PUserMsg3::unmarshal(pakt::Unpack& up) {
    pakt::unmarshal_container(up, idList1);
    pakt::unmarshal_container(up, idList2);
    proxyId = up.pop_uint64();
    reserved1 = up.pop_uint32();
    msgType = up.pop_uint16();
    reserved2 = up.pop_uint32();
    reserved3 = up.pop_uint32();
    data = up.pop_varstr32();
}

void PAppMsgToClient::marshal(pakt::Pack& p) const {
    p.push_uint16(reserved1);
    pakt::marshal_container(p, idList);
    p.push_uint32(reserved2);
    p.push_uint32(appId);
    p.push_uint64(srcId);
    p.push_uint64(reserved3);
    p.push_uint32(reserved4);
    p.push_uint32(reserved5);
    p.push_uint32(seqNum);
    p.push_uint16(appMsgType);
    p.push_varstr32(data);
}

void PAppMsgToClient::unmarshal(pakt::Unpack& up) {
    reserved1 = up.pop_uint16();
    pakt::unmarshal_container(up, idList);
    reserved2 = up.pop_uint32();
    appId = up.pop_uint32();
    srcId = up.pop_uint64();
    reserved3 = up.pop_uint64();
    reserved4 = up.pop_uint32();
    reserved5 = up.pop_uint32();
    seqNum = up.pop_uint32();
    appMsgType = up.pop_uint16();
    data = up.pop_varstr32();
}

void PAppMsgToSDK::marshal(pakt::Pack& p) const {
    p.push_uint32(sid);
    p.push_uint32(uid);
    p.push_uint32(appId);
    p.push_uint32(seqNum);
    p.push_uint64(reserved1);
    pakt::marshal_container(p, proxyIds);
    p.push_uint32(reserved2);
    p.push_varstr(extra);
    p.push_varstr32(data);
}

void PAppMsgToSDK::unmarshal(pakt::Unpack& up) {
    sid = up.pop_uint32();
    uid = up.pop_uint32();
    appId = up.pop_uint32();
    seqNum = up.pop_uint32();
    reserved1 = up.pop_uint64();
    pakt::unmarshal_container(up, proxyIds);
    reserved2 = up.pop_uint32();
    extra = up.pop_varstr();
    data = up.pop_varstr32();
}

void VersionItem::marshal(pakt::Pack& p) const {
    p.push_uint32(num1);
    p.push_uint32(num2);
    p.push_uint32(num3);
    p.push_varstr(str1);
    p.push_varstr(str2);
}

void VersionItem::unmarshal(pakt::Unpack& up) {
    num1 = up.pop_uint32();
    num2 = up.pop_uint32();
    num3 = up.pop_uint32();
    str1 = up.pop_varstr();
    str2 = up.pop_varstr();
}

void AppInfoPack::marshal(pakt::Pack& p) const {
    p.push_uint32(appId);
    p.push_uint64(proxyId);
    p.push_varstr(str1);
    p.push_varstr(str2);
    p.push_uint32(num);
    pakt::marshal_container(p, versions);
    p.push_uint8(flag ? 1 : 0);
}

void AppInfoPack::unmarshal(pakt::Unpack& up) {
    appId = up.pop_uint32();
    proxyId = up.pop_uint64();
    str1 = up.pop_varstr();
    str2 = up.pop_varstr();
    num = up.pop_uint32();
    pakt::unmarshal_container(up, versions);
    flag = up.pop_uint8() != 0;
}

void AppInfoPack3::marshal(pakt::Pack& p) const {
    p.push_uint32(appId);
    pakt::marshal_container(p, proxyIds);
    p.push_varstr(str1);
    p.push_varstr(str2);
    p.push_uint32(num);
    pakt::marshal_container(p, versions);
    p.push_uint8(flag ? 1 : 0);
}

void AppInfoPack3::unmarshal(pakt::Unpack& up) {
    appId = up.pop_uint32();
    pakt::unmarshal_container(up, proxyIds);
    str1 = up.pop_varstr();
    str2 = up.pop_varstr();
    num = up.pop_uint32();
    pakt::unmarshal_container(up, versions);
    flag = up.pop_uint8() != 0;
}

void PAppSdkInfo::marshal(pakt::Pack& p) const { pakt::marshal_container(p, proxyIds); }

void PAppSdkInfo::unmarshal(pakt::Unpack& up) { pakt::unmarshal_container(up, proxyIds); }

}  // namespace protocol::session
