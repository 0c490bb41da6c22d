// App-platform payloads of SDK V2, carried in PUserMsg3::data. Each part
// lists its fields in wire order (marshal/Fields.h):
//
//   downlink (PAppSrvData) := AppHeaderV2, then a body chosen by appMsgType:
//       2, 4: AppInfoPack    (app removed / added)
//       3:    AppDataV2      (app data)
//   uplink                 := AppUplinkV2 (AppHeaderV2 with appMsgType 3, then
//                             the sender and the app data)
//
// SDK V3 has no header in its data: PAppMsgToClient carries seqNum,
// appMsgType and appId itself, and data holds only the body.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "marshal/BlockBuffer.h"
#include "marshal/Fields.h"

namespace protocol::session {

// Message types of the app-platform payloads.
inline constexpr uint16_t kAppMsgDeleteApp = 2;
inline constexpr uint16_t kAppMsgAppData = 3;
inline constexpr uint16_t kAppMsgAddApp = 4;
inline constexpr uint16_t kAppMsgUpdateProxies = 5;  // SDK V3 only

// The header of every SDK V2 payload, both ways.
struct AppHeaderV2 {
    uint32_t seqNum = 0;
    uint8_t appMsgType = 0;
    uint32_t appId = 0;

    template <class R, class V>
    static void fields(R& r, V& v) {
        v(pakt::u32, "seqNum", r.seqNum);
        v(pakt::u8, "appMsgType", r.appMsgType);
        v(pakt::u32, "appId", r.appId);
    }
};

// The body of a V2 downlink data message (appMsgType 3). Its app data is a
// byte run of type Text: a std::string, or a std::string_view into the
// payload where the module reads a delivered message without a copy.
template <class Text>
struct BasicAppDataV2 {
    uint32_t reserved1 = 0;  // not used
    uint32_t reserved2 = 0;  // not used
    Text appData;

    template <class R, class V>
    static void fields(R& r, V& v) {
        v(pakt::u32, "reserved1", r.reserved1);
        v(pakt::u32, "reserved2", r.reserved2);
        v(pakt::varstr16, "appData", r.appData);
    }
};
using AppDataV2 = BasicAppDataV2<std::string>;
using AppDataV2View = BasicAppDataV2<std::string_view>;

// The V2 uplink payload; its app data a byte run of type Text, as above.
template <class Text>
struct BasicAppUplinkV2 {
    AppHeaderV2 header;
    uint64_t uid = 0;
    uint32_t sid = 0;
    Text appData;

    template <class R, class V>
    static void fields(R& r, V& v) {
        AppHeaderV2::fields(r.header, v);
        v(pakt::u64, "uid", r.uid);
        v(pakt::u32, "sid", r.sid);
        v(pakt::varstr16, "appData", r.appData);
    }
};
using AppUplinkV2 = BasicAppUplinkV2<std::string>;
using AppUplinkV2View = BasicAppUplinkV2<std::string_view>;

// Packs the V2 uplink payload of a client message into `buffer`, which it
// empties first, and returns its bytes (valid until the buffer changes).
// Throws pakt::PackError "push_varstr: varstr too big" for appData longer
// than 65535 bytes.
std::string_view packAppUplinkV2(pakt::BlockBuffer& buffer, uint32_t seqNum, uint32_t appId, uint64_t uid,
                                 uint32_t sid, std::string_view appData);
// The same over a fresh buffer, as a string of its own.
std::string packAppUplinkV2(uint32_t seqNum, uint32_t appId, uint64_t uid, uint32_t sid,
                            const std::string& appData);

}  // namespace protocol::session
