// App-platform payloads of SDK V2, carried in PUserMsg3::data.
//
//   downlink (PAppSrvData) := seqNum u32, appMsgType u8, appId u32, body
//       appMsgType 2, 4: AppInfoPack      (app removed / added)
//       appMsgType 3:    u32, u32, appData varstr16 (app data)
//   uplink               := seqNum u32, appMsgType u8 (3), appId u32, uid u64,
//                           sid u32, appData varstr16
//
// SDK V3 has no header in its data: PAppMsgToClient carries seqNum,
// appMsgType and appId itself, and data holds only the body.
#pragma once

#include <cstdint>
#include <string>

#include "marshal/Unpack.h"

namespace protocol::session {

// Message types of the app-platform payloads.
inline constexpr uint16_t kAppMsgDeleteApp = 2;
inline constexpr uint16_t kAppMsgAppData = 3;
inline constexpr uint16_t kAppMsgAddApp = 4;
inline constexpr uint16_t kAppMsgUpdateProxies = 5;  // SDK V3 only

// Header of the SDK V2 downlink payload.
struct AppSrvDataHeader {
    uint32_t seqNum = 0;
    uint8_t appMsgType = 0;
    uint32_t appId = 0;
};

// Reads the V2 downlink header; the reader is left at the body.
AppSrvDataHeader readAppSrvDataHeader(pakt::Unpack& up);

// Reads the body of a V2 data message (two ignored u32, then appData).
std::string readAppSrvData(pakt::Unpack& up);

// Packs the SDK V2 uplink payload with a fresh Pack over a fresh buffer.
// Throws pakt::PackError "push_varstr: varstr too big" for appData longer
// than 65535 bytes.
std::string packAppUplinkV2(uint32_t seqNum, uint32_t appId, uint64_t uid, uint32_t sid,
                            const std::string& appData);

}  // namespace protocol::session
