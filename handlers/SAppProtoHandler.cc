#include "handlers/SAppProtoHandler.h"

#include "appmgr/SAppMgr.h"
#include "handlers/SAppQuery.h"
#include "host/IProtoPacket.h"
#include "protocol/Packets.h"
#include "support/SAppLog.h"

namespace ps = protocol::session;

namespace {

constexpr uint32_t kResultOk = 200;

// The packet is not null: dispatch checked it.
bool accepted(IProtoPacket* packet) { return packet->getResCode() == kResultOk; }

// Decodes the packet into a fresh view record of row P. A view points into
// the packet's body, which stays valid until the handler returns.
template <class P>
typename P::View decode(IProtoPacket* packet) {
    typename P::View record;
    packet->unmarshal(record);
    return record;
}

}  // namespace

const std::array<uint32_t, ps::count(ps::InboundPackets{})> SAppProtoHandler::kUris =
    SAppProtoHandler::urisOf(ps::InboundPackets{});

SAppProtoHandler::SAppProtoHandler(SAppMgr& appMgr, SAppQuery& query) : m_appMgr(appMgr), m_query(query) {}

SAppProtoHandler::~SAppProtoHandler() = default;

void SAppProtoHandler::dispatch(IProtoPacket* packet) {
    if (!packet) return;
    route(packet->getUri(), packet, ps::InboundPackets{});
}

uint32_t SAppProtoHandler::getUriCount() const { return static_cast<uint32_t>(kUris.size()); }

void SAppProtoHandler::getUris(uint32_t* out) const {
    for (const uint32_t uri : kUris) *out++ = uri;
}

void SAppProtoHandler::on(ps::AddAppReqPacket, IProtoPacket* packet) {
    SAPP_LOG("SAppProtoHandler::onAddAppReq");
    if (!accepted(packet)) return;
    m_query.onResult();
    auto request = decode<ps::AddAppReqPacket>(packet);
    m_appMgr.onAddAppReq(request);
}

void SAppProtoHandler::on(ps::DelAppReqPacket, IProtoPacket* packet) {
    SAPP_LOG("SAppProtoHandler::onDelAppReq");
    if (!accepted(packet)) return;
    auto request = decode<ps::DelAppReqPacket>(packet);
    m_appMgr.onDelAppReq(request);
}

void SAppProtoHandler::on(ps::UserMsg3Packet, IProtoPacket* packet) {
    if (!accepted(packet)) return;
    m_appMgr.onAppDlMsgV2(decode<ps::UserMsg3Packet>(packet));
}

void SAppProtoHandler::on(ps::AppMsgToClientPacket, IProtoPacket* packet) {
    if (!accepted(packet)) return;
    m_appMgr.onAppDlMsgV3(decode<ps::AppMsgToClientPacket>(packet));
}

void SAppProtoHandler::on(ps::SetCurAnnounceAppPacket, IProtoPacket* packet) {
    // Kept word for word, odd spelling included: ARCHITECTURE.md, "Log texts".
    SAPP_LOG("SAppProtoHandler::onSetCurAnnouceApp");
    if (!accepted(packet)) return;
    m_appMgr.onSetCurrentAnnounceApp(packet);
}

void SAppProtoHandler::on(ps::AddAnnounceAppsPacket, IProtoPacket* packet) {
    // Kept word for word, odd spelling included: ARCHITECTURE.md, "Log texts".
    SAPP_LOG("SAppProtoHandler::onAddAnnouceApp");
    if (!accepted(packet)) return;
    m_appMgr.onAddAnnounceApps(packet);
}
