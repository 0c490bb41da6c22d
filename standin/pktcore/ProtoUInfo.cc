#include "host/Pktcore.h"
#include "standin/tarnbase/HostFaults.h"

// The copy and move operations and the destructor come with the class
// declaration. Every member here is a host call the module makes, and may
// be made to fail (HostFaults.h): a failing setter changes nothing.

namespace {

using standin::HostCall;

template <typename T>
void set(HostCall call, T& field, const T& value) {
    standin::enterHostCall(call);
    field = value;
}

template <typename T>
const T& get(HostCall call, const T& field) {
    standin::enterHostCall(call);
    return field;
}

}  // namespace

ProtoUInfo::ProtoUInfo() { standin::enterHostCall(HostCall::UInfoConstruct); }

void ProtoUInfo::setSid(uint32_t sid) { set(HostCall::UInfoSetSid, m_sid, sid); }
void ProtoUInfo::setAsid(uint32_t asid) { set(HostCall::UInfoSetAsid, m_asid, asid); }
void ProtoUInfo::setPid(uint32_t pid) { set(HostCall::UInfoSetPid, m_pid, pid); }
void ProtoUInfo::setUid(uint64_t uid) { set(HostCall::UInfoSetUid, m_uid, uid); }
void ProtoUInfo::setUdb(const std::string& udb) { set(HostCall::UInfoSetUdb, m_udb, udb); }
void ProtoUInfo::setCookie(const std::string& cookie) { set(HostCall::UInfoSetCookie, m_cookie, cookie); }

uint32_t ProtoUInfo::getSid() const { return get(HostCall::UInfoGetSid, m_sid); }
uint32_t ProtoUInfo::getAsid() const { return get(HostCall::UInfoGetAsid, m_asid); }
uint32_t ProtoUInfo::getPid() const { return get(HostCall::UInfoGetPid, m_pid); }
uint64_t ProtoUInfo::getUid() const { return get(HostCall::UInfoGetUid, m_uid); }
const std::string& ProtoUInfo::getUdb() const { return get(HostCall::UInfoGetUdb, m_udb); }
const std::string& ProtoUInfo::getCookie() const { return get(HostCall::UInfoGetCookie, m_cookie); }
