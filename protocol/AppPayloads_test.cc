#include "protocol/AppPayloads.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <tuple>

#include "protocol/test_wire_table.h"

namespace protocol::session {
namespace {

using namespace sapp::testing;
using enum sapp::testing::Prim;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

// The app-added and app-removed bodies are AppInfoPack records, pinned with the
// session records.
TEST(AppPayloadsTest, DownlinkV2HeaderThenAppDataBody) {
    expectWireCases({
        {"app data",
         {{U32, {0x04, 0x03, 0x02, 0x01}}, {U8, {0x03}}, {U32, {0x09, 0, 0, 0}},  // seqNum, appMsgType 3, appId 9
          {U32, {0xAA, 0xAA, 0xAA, 0xAA}}, {U32, {0xBB, 0xBB, 0xBB, 0xBB}},        // not used
          {U16, {0x03, 0}}, {Bytes, {'a', 0, 'b'}}},                               // appData "a\0b"
         [](pakt::Unpack& up, bool verify) -> std::optional<std::string> {
             AppHeaderV2 h;
             AppDataV2 body;
             pakt::unpackFields(h, up);
             pakt::unpackFields(body, up);
             if (!verify) return std::nullopt;
             EXPECT_EQ(std::tuple(h.seqNum, h.appMsgType, h.appId, body.reserved1, body.reserved2, body.appData),
                       std::tuple(0x01020304u, uint8_t{kAppMsgAppData}, 9u, 0xAAAAAAAAu, 0xBBBBBBBBu,
                                  std::string("a\0b", 3)));
             pakt::BlockBuffer buffer;
             pakt::Pack p(buffer);
             pakt::packFields(h, p);
             pakt::packFields(body, p);
             return p.str();
         },
         {}},
    });
}

TEST(AppPayloadsTest, UplinkV2Layout) {
    const std::string longest(65535, 'w');
    const Wire expected = {
        {U32, {0x01, 0, 0, 0}}, {U8, {0x03}}, {U32, {0x09, 0, 0, 0}},         // seqNum 1, appMsgType 3, appId 9
        {U64, {0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11}},               // uid 0x1122334455667788
        {U32, {0x0D, 0x0C, 0x0B, 0x0A}}, {U16, {0xFF, 0xFF}}, text(longest),  // sid 0x0A0B0C0D, appData: 65535 bytes
    };
    EXPECT_EQ(hex(packAppUplinkV2(1, 9, 0x1122334455667788, 0x0A0B0C0D, longest)), hex(bytesOf(expected)));
    EXPECT_THAT([] { packAppUplinkV2(1, 9, 0, 0, std::string(65536, 'w')); },
                ThrowsMessage<pakt::PackError>(StrEq("push_varstr: varstr too big")));
}

}  // namespace
}  // namespace protocol::session
