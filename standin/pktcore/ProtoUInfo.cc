#include "host/Pktcore.h"

// The copy and move operations and the destructor come with the class
// declaration.
ProtoUInfo::ProtoUInfo() = default;

void ProtoUInfo::setSid(uint32_t sid) { m_sid = sid; }
void ProtoUInfo::setAsid(uint32_t asid) { m_asid = asid; }
void ProtoUInfo::setPid(uint32_t pid) { m_pid = pid; }
void ProtoUInfo::setUid(uint64_t uid) { m_uid = uid; }
void ProtoUInfo::setUdb(const std::string& udb) { m_udb = udb; }
void ProtoUInfo::setCookie(const std::string& cookie) { m_cookie = cookie; }

uint32_t ProtoUInfo::getSid() const { return m_sid; }
uint32_t ProtoUInfo::getAsid() const { return m_asid; }
uint32_t ProtoUInfo::getPid() const { return m_pid; }
uint64_t ProtoUInfo::getUid() const { return m_uid; }
const std::string& ProtoUInfo::getUdb() const { return m_udb; }
const std::string& ProtoUInfo::getCookie() const { return m_cookie; }
