#include "protocol/AppPayloads.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "protocol/SessionRecords.h"
#include "protocol/WireTableTest.h"

namespace protocol::session {
namespace {

using namespace wiretest;
using enum wiretest::Prim;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

TEST(AppPayloadsTest, DownlinkV2HeaderThenBody) {
    expectWireCases({
        {"app data",
         {
             {U32, {0x04, 0x03, 0x02, 0x01}},  // seqNum 0x01020304
             {U8, {0x03}},                     // appMsgType 3
             {U32, {0x09, 0x00, 0x00, 0x00}},  // appId 9
             {U32, {0xAA, 0xAA, 0xAA, 0xAA}},  // not used
             {U32, {0xBB, 0xBB, 0xBB, 0xBB}},  // not used
             {U16, {0x03, 0x00}},              // appData: length 3
             {Bytes, {'a', 0x00, 'b'}},        // appData
         },
         [](pakt::Unpack& up, bool verify) -> std::optional<std::string> {
             const AppSrvDataHeader header = readAppSrvDataHeader(up);
             const std::string appData = readAppSrvData(up);
             if (verify) {
                 EXPECT_EQ(header.seqNum, 0x01020304u);
                 EXPECT_EQ(header.appMsgType, kAppMsgAppData);
                 EXPECT_EQ(header.appId, 9u);
                 EXPECT_EQ(appData, std::string("a\0b", 3));
             }
             return std::nullopt;
         }},
        {"app added",
         {
             {U32, {0xFF, 0xFF, 0xFF, 0xFF}},                          // seqNum 0xFFFFFFFF
             {U8, {0x04}},                                             // appMsgType 4
             {U32, {0x0C, 0x00, 0x00, 0x00}},                          // appId 12
             {U32, {0x0C, 0x00, 0x00, 0x00}},                          // AppInfoPack: appId 12
             {U64, {0x07, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},  //   proxyId 7
             {U16, {0x00, 0x00}},                                      //   str1: length 0
             {U16, {0x00, 0x00}},                                      //   str2: length 0
             {U32, {0x00, 0x00, 0x00, 0x00}},                          //   num 0
             {U32, {0x00, 0x00, 0x00, 0x00}},                          //   versions: count 0
             {U8, {0x00}},                                             //   flag false
         },
         [](pakt::Unpack& up, bool verify) -> std::optional<std::string> {
             const AppSrvDataHeader header = readAppSrvDataHeader(up);
             AppInfoPack body;
             body.unmarshal(up);
             if (verify) {
                 EXPECT_EQ(header.seqNum, 0xFFFFFFFFu);
                 EXPECT_EQ(header.appMsgType, kAppMsgAddApp);
                 EXPECT_EQ(header.appId, 12u);
                 EXPECT_EQ(body.appId, 12u);
                 EXPECT_EQ(body.proxyId, 7u);
                 EXPECT_FALSE(body.flag);
             }
             return std::nullopt;
         }},
    });
}

TEST(AppPayloadsTest, UplinkV2Layout) {
    struct Case {
        const char* name;
        std::string appData;
        Wire expected;
    };
    const Wire header = {
        {U32, {0x01, 0x00, 0x00, 0x00}},                          // seqNum 1
        {U8, {0x03}},                                             // appMsgType 3
        {U32, {0x09, 0x00, 0x00, 0x00}},                          // appId 9
        {U64, {0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11}},  // uid 0x1122334455667788
        {U32, {0x0D, 0x0C, 0x0B, 0x0A}},                          // sid 0x0A0B0C0D
    };
    const std::vector<Case> cases = {
        {"empty app data", "", cat({header, {{U16, {0x00, 0x00}}}})},                    // appData: length 0
        {"app data", "xyz", cat({header, {{U16, {0x03, 0x00}}, text("xyz")}})},          // appData: length 3, bytes
        {"longest app data", std::string(65535, 'w'),
         cat({header, {{U16, {0xFF, 0xFF}}, text(std::string(65535, 'w'))}})},           // appData: length 65535, bytes
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(hex(packAppUplinkV2(1, 9, 0x1122334455667788, 0x0A0B0C0D, c.appData)), hex(bytesOf(c.expected)));
    }
    EXPECT_EQ(packAppUplinkV2(1, 9, 0, 0, "").size(), 23u);
    EXPECT_THAT([] { packAppUplinkV2(1, 9, 0, 0, std::string(65536, 'w')); },
                ThrowsMessage<pakt::PackError>(StrEq("push_varstr: varstr too big")));
}

}  // namespace
}  // namespace protocol::session
