#include "host/Pktcore.h"
#include "standin/tarnbase/HostFaults.h"

using standin::enterHostCall;
using standin::HostCall;

// The copy and move operations and the destructor come with the class
// declaration. Every member here is a host call the module makes, and may
// be made to fail (HostFaults.h); a failing setter changes nothing.
ProtoUInfo::ProtoUInfo() { enterHostCall(HostCall::UInfoConstruct); }

void ProtoUInfo::setSid(uint32_t sid) {
    enterHostCall(HostCall::UInfoSetSid);
    m_sid = sid;
}
void ProtoUInfo::setAsid(uint32_t asid) {
    enterHostCall(HostCall::UInfoSetAsid);
    m_asid = asid;
}
void ProtoUInfo::setPid(uint32_t pid) {
    enterHostCall(HostCall::UInfoSetPid);
    m_pid = pid;
}
void ProtoUInfo::setUid(uint64_t uid) {
    enterHostCall(HostCall::UInfoSetUid);
    m_uid = uid;
}
void ProtoUInfo::setUdb(const std::string& udb) {
    enterHostCall(HostCall::UInfoSetUdb);
    m_udb = udb;
}
void ProtoUInfo::setCookie(const std::string& cookie) {
    enterHostCall(HostCall::UInfoSetCookie);
    m_cookie = cookie;
}

uint32_t ProtoUInfo::getSid() const {
    enterHostCall(HostCall::UInfoGetSid);
    return m_sid;
}
uint32_t ProtoUInfo::getAsid() const {
    enterHostCall(HostCall::UInfoGetAsid);
    return m_asid;
}
uint32_t ProtoUInfo::getPid() const {
    enterHostCall(HostCall::UInfoGetPid);
    return m_pid;
}
uint64_t ProtoUInfo::getUid() const {
    enterHostCall(HostCall::UInfoGetUid);
    return m_uid;
}
const std::string& ProtoUInfo::getUdb() const {
    enterHostCall(HostCall::UInfoGetUdb);
    return m_udb;
}
const std::string& ProtoUInfo::getCookie() const {
    enterHostCall(HostCall::UInfoGetCookie);
    return m_cookie;
}
