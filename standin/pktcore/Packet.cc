#include <stdexcept>
#include <string>
#include <utility>

#include "marshal/Marshallable.h"
#include "marshal/Unpack.h"
#include "standin/pktcore/StandinSession.h"

namespace standin {

Packet::Packet(uint32_t uri, uint32_t resCode, std::string body)
    : m_uri(uri), m_resCode(resCode), m_body(std::move(body)) {}

uint32_t Packet::getUri() {
    failIfAsked(HostCall::GetUri);
    return m_uri;
}

int32_t Packet::getBodyLen() {
    failIfAsked(HostCall::GetBodyLen);
    return static_cast<int32_t>(m_body.size());
}

uint32_t Packet::getResCode() {
    failIfAsked(HostCall::GetResCode);
    return m_resCode;
}

const char* Packet::getBody() {
    failIfAsked(HostCall::GetBody);
    return m_body.data();
}

void Packet::setFault(HostCall call, FaultMode mode) {
    if (hostCallOwner(call) != CallOwner::Packet) {
        throw std::invalid_argument(std::string(hostCallName(call)) + " is not a call of a packet");
    }
    m_faults[indexOf(call)].set(mode);
}

void Packet::setFaultObserver(std::function<void(HostCall)> observer) { m_onFault = std::move(observer); }

void Packet::failIfAsked(HostCall call) {
    const bool bySwitch = m_faults[indexOf(call)].fires();
    if (!hostCallFails(call) && !bySwitch) return;
    if (m_onFault) m_onFault(call);
    const HostFault fault(call);
    detail::noteHostThrow(call, fault);
    throw fault;
}

void Packet::unmarshal(pakt::Marshallable& record) {
    failIfAsked(HostCall::Unmarshal);
    pakt::Unpack unpack(m_body.data(), m_body.size());
    record.unmarshal(unpack);
}

}  // namespace standin
