#include "protocol/AppPayloads.h"

#include "marshal/BlockBuffer.h"
#include "marshal/Pack.h"

namespace protocol::session {

std::string_view packAppUplinkV2(pakt::BlockBuffer& buffer, uint32_t seqNum, uint32_t appId, uint64_t uid,
                                 uint32_t sid, std::string_view appData) {
    // The view packs the client's bytes where they are instead of copying
    // them into an AppUplinkV2 first.
    const AppUplinkV2View payload{{seqNum, static_cast<uint8_t>(kAppMsgAppData), appId}, uid, sid, appData};
    buffer.resize(0);
    pakt::Pack p(buffer);
    pakt::packFields(payload, p);
    return {p.data(), p.size()};
}

std::string packAppUplinkV2(uint32_t seqNum, uint32_t appId, uint64_t uid, uint32_t sid,
                            const std::string& appData) {
    pakt::BlockBuffer buffer;
    return std::string(packAppUplinkV2(buffer, seqNum, appId, uid, sid, appData));
}

}  // namespace protocol::session
