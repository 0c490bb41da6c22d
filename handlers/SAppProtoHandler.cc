#include "handlers/SAppProtoHandler.h"

#include "appmgr/SAppMgr.h"
#include "handlers/SAppQuery.h"
#include "host/IProtoPacket.h"
#include "module/SAppContext.h"
#include "protocol/SessionRecords.h"
#include "support/SAppLog.h"

namespace ps = protocol::session;

namespace {

constexpr uint32_t kResultOk = 200;

bool accepted(IProtoPacket* packet) { return packet && packet->getResCode() == kResultOk; }

// Decodes the packet into a fresh record of type R.
template <typename R>
R decode(IProtoPacket* packet) {
    R record;
    packet->unmarshal(record);
    return record;
}

}  // namespace

SAppProtoHandler::SAppProtoHandler(SAppContext* context) : m_pContext(context) {
    m_handlers[ps::URI_ADD_APP_REQ] = &SAppProtoHandler::onAddAppReq;
    m_handlers[ps::URI_DEL_APP_REQ] = &SAppProtoHandler::onDelAppReq;
    m_handlers[ps::URI_USER_MSG3] = &SAppProtoHandler::onUserMsg3;
    m_handlers[ps::URI_APP_MSG_TO_CLIENT] = &SAppProtoHandler::onAppMsgToClient;
    m_handlers[ps::URI_SET_CUR_ANNOUNCE_APP] = &SAppProtoHandler::onSetCurAnnouceApp;
    m_handlers[ps::URI_ADD_ANNOUNCE_APPS] = &SAppProtoHandler::onAddAnnouceApp;
}

SAppProtoHandler::~SAppProtoHandler() { m_handlers.clear(); }

void SAppProtoHandler::dispatch(IProtoPacket* packet) {
    if (!packet) return;
    const auto it = m_handlers.find(packet->getUri());
    if (it != m_handlers.end()) (this->*(it->second))(packet);
}

uint32_t SAppProtoHandler::getUriCount() const { return static_cast<uint32_t>(m_handlers.size()); }

void SAppProtoHandler::getUris(uint32_t* out) const {
    for (const auto& entry : m_handlers) *out++ = entry.first;
}

void SAppProtoHandler::onAddAppReq(IProtoPacket* packet) {
    SAPP_LOG("SAppProtoHandler::onAddAppReq");
    if (!accepted(packet)) return;
    m_pContext->query()->onResult();
    auto request = decode<ps::PAddAppReq>(packet);
    m_pContext->appMgr()->onAddAppReq(request);
}

void SAppProtoHandler::onDelAppReq(IProtoPacket* packet) {
    SAPP_LOG("SAppProtoHandler::onDelAppReq");
    if (!accepted(packet)) return;
    auto request = decode<ps::PDelAppReq>(packet);
    m_pContext->appMgr()->onDelAppReq(request);
}

void SAppProtoHandler::onUserMsg3(IProtoPacket* packet) {
    if (!accepted(packet)) return;
    m_pContext->appMgr()->onAppDlMsgV2(decode<ps::PUserMsg3>(packet));
}

void SAppProtoHandler::onAppMsgToClient(IProtoPacket* packet) {
    if (!accepted(packet)) return;
    m_pContext->appMgr()->onAppDlMsgV3(decode<ps::PAppMsgToClient>(packet));
}

void SAppProtoHandler::onSetCurAnnouceApp(IProtoPacket* packet) {
    SAPP_LOG("SAppProtoHandler::onSetCurAnnouceApp");
    if (!accepted(packet)) return;
    m_pContext->appMgr()->onSetCurrentAnnounceApp(packet);
}

void SAppProtoHandler::onAddAnnouceApp(IProtoPacket* packet) {
    SAPP_LOG("SAppProtoHandler::onAddAnnouceApp");
    if (!accepted(packet)) return;
    m_pContext->appMgr()->onAddAnnounceApps(packet);
}
