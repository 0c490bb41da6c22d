#include <utility>

#include "marshal/Marshallable.h"
#include "marshal/Unpack.h"
#include "standin/pktcore/StandinSession.h"

namespace standin {

Packet::Packet(uint32_t uri, uint32_t resCode, std::string body)
    : m_uri(uri), m_resCode(resCode), m_body(std::move(body)) {}

uint32_t Packet::getUri() { return m_uri; }

int32_t Packet::getBodyLen() { return static_cast<int32_t>(m_body.size()); }

uint32_t Packet::getResCode() { return m_resCode; }

const char* Packet::getBody() { return m_body.data(); }

void Packet::setFault(FaultMode mode, std::function<void()> onFault) {
    m_fault.set(mode);
    m_onFault = std::move(onFault);
}

void Packet::unmarshal(pakt::Marshallable& record) {
    if (m_fault.fires()) {
        if (m_onFault) m_onFault();
        throw HostFault(HostCall::Unmarshal);
    }
    pakt::Unpack unpack(m_body.data(), m_body.size());
    record.unmarshal(unpack);
}

}  // namespace standin
