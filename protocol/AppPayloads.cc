#include "protocol/AppPayloads.h"

#include "marshal/Pack.h"

namespace protocol::session {

AppSrvDataHeader readAppSrvDataHeader(pakt::Unpack& up) {
    AppSrvDataHeader header;
    header.seqNum = up.pop_uint32();
    header.appMsgType = up.pop_uint8();
    header.appId = up.pop_uint32();
    return header;
}

std::string readAppSrvData(pakt::Unpack& up) {
    up.pop_uint32();
    up.pop_uint32();
    return up.pop_varstr();
}

std::string packAppUplinkV2(uint32_t seqNum, uint32_t appId, uint64_t uid, uint32_t sid,
                            const std::string& appData) {
    pakt::BlockBuffer buffer;
    pakt::Pack p(buffer);
    p.push_uint32(seqNum)
        .push_uint8(static_cast<uint8_t>(kAppMsgAppData))
        .push_uint32(appId)
        .push_uint64(uid)
        .push_uint32(sid)
        .push_varstr(appData);
    return p.str();
}

}  // namespace protocol::session
