#include "handlers/SAppProtoHandler.h"

#include <iterator>

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

// Decodes the packet into a fresh record of type R. A view record points into
// the packet's body, which stays valid until the handler returns.
template <typename R>
R decode(IProtoPacket* packet) {
    R record;
    packet->unmarshal(record);
    return record;
}

}  // namespace

// In ascending URI order.
const SAppProtoHandler::Entry SAppProtoHandler::kHandlers[kHandlerCount] = {
    {ps::URI_ADD_APP_REQ, &SAppProtoHandler::onAddAppReq},
    {ps::URI_DEL_APP_REQ, &SAppProtoHandler::onDelAppReq},
    {ps::URI_ADD_ANNOUNCE_APPS, &SAppProtoHandler::onAddAnnouceApp},
    {ps::URI_SET_CUR_ANNOUNCE_APP, &SAppProtoHandler::onSetCurAnnouceApp},
    {ps::URI_USER_MSG3, &SAppProtoHandler::onUserMsg3},
    {ps::URI_APP_MSG_TO_CLIENT, &SAppProtoHandler::onAppMsgToClient},
};

SAppProtoHandler::SAppProtoHandler(SAppContext* context) : m_pContext(context) {}

SAppProtoHandler::~SAppProtoHandler() = default;

void SAppProtoHandler::dispatch(IProtoPacket* packet) {
    if (!packet) return;
    const uint32_t uri = packet->getUri();
    // Six entries: a scan costs less than any lookup structure. It starts at
    // the end, where the app-platform carriers, by far the most frequent
    // packets, sit (their URIs are the highest).
    for (auto entry = std::rbegin(kHandlers); entry != std::rend(kHandlers); ++entry) {
        if (entry->uri == uri) return (this->*(entry->handler))(packet);
    }
}

uint32_t SAppProtoHandler::getUriCount() const { return static_cast<uint32_t>(kHandlerCount); }

void SAppProtoHandler::getUris(uint32_t* out) const {
    for (const Entry& entry : kHandlers) *out++ = entry.uri;
}

void SAppProtoHandler::onAddAppReq(IProtoPacket* packet) {
    SAPP_LOG("SAppProtoHandler::onAddAppReq");
    if (!accepted(packet)) return;
    m_pContext->query()->onResult();
    auto request = decode<ps::PAddAppReqView>(packet);
    m_pContext->appMgr()->onAddAppReq(request);
}

void SAppProtoHandler::onDelAppReq(IProtoPacket* packet) {
    SAPP_LOG("SAppProtoHandler::onDelAppReq");
    if (!accepted(packet)) return;
    auto request = decode<ps::PDelAppReqView>(packet);
    m_pContext->appMgr()->onDelAppReq(request);
}

void SAppProtoHandler::onUserMsg3(IProtoPacket* packet) {
    if (!accepted(packet)) return;
    m_pContext->appMgr()->onAppDlMsgV2(decode<ps::PUserMsg3View>(packet));
}

void SAppProtoHandler::onAppMsgToClient(IProtoPacket* packet) {
    if (!accepted(packet)) return;
    m_pContext->appMgr()->onAppDlMsgV3(decode<ps::PAppMsgToClientView>(packet));
}

void SAppProtoHandler::onSetCurAnnouceApp(IProtoPacket* packet) {
    // Kept word for word, odd spelling included: ARCHITECTURE.md, "Log texts".
    SAPP_LOG("SAppProtoHandler::onSetCurAnnouceApp");
    if (!accepted(packet)) return;
    m_pContext->appMgr()->onSetCurrentAnnounceApp(packet);
}

void SAppProtoHandler::onAddAnnouceApp(IProtoPacket* packet) {
    // Kept word for word, odd spelling included: ARCHITECTURE.md, "Log texts".
    SAPP_LOG("SAppProtoHandler::onAddAnnouceApp");
    if (!accepted(packet)) return;
    m_pContext->appMgr()->onAddAnnounceApps(packet);
}
