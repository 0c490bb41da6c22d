#include "protocol/SessionRecords.h"

#include "protocol/PluginRecords.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "protocol/test_wire_table.h"

namespace protocol::session {
namespace {

using namespace sapp::testing;
using enum sapp::testing::Prim;
using ::testing::ElementsAre;

const Wire kVersionItem = {
    {U32, {0x01, 0, 0, 0}}, {U32, {0, 0x01, 0, 0}}, {U32, {0, 0, 0, 0x80}},  // num1 1, num2 0x100, num3 0x80000000
    {U16, {0x02, 0}}, {Bytes, {0x00, 0xFF}}, {U16, {0x03, 0}}, text("2.0"),  // str1 "\0\xFF", str2 "2.0"
};

void fillVersionItem(VersionItem& v) {
    v.num1 = 1; v.num2 = 0x100; v.num3 = 0x80000000; v.str1 = std::string("\0\xFF", 2); v.str2 = "2.0";
}

// The fields from str1 on, shared by AppInfoPack and AppInfoPack3.
const Wire kAppInfoTail = cat({
    {{U16, {0x01, 0}}, text("A"), {U16, {0, 0}}},         // str1 "A", str2 ""
    {{U32, {0x2C, 0x01, 0, 0}}, {U32, {0x01, 0, 0, 0}}},  // num 300, versions: count 1
    kVersionItem, {{U8, {0x01}}},                         //   versions[0]; flag true
});

template <typename Info>
void fillAppInfoTail(Info& r) {
    r.str1 = "A"; r.num = 300; r.flag = true;
    fillVersionItem(r.versions.emplace_back());
}

const Wire kAppInfoPack = cat({
    {{U32, {0x09, 0, 0, 0}}, {U64, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08}}},  // appId 9, proxyId
    kAppInfoTail,
});

const Wire kAppInfoPack3 = cat({
    {{U32, {0x0A, 0, 0, 0}}, {U32, {0x02, 0, 0, 0}},                             // appId 10, proxyIds: count 2
     {U64, {0x1E, 0, 0, 0, 0, 0, 0, 0}}, {U64, {0x0A, 0, 0, 0, 0, 0, 0, 0x01}}},  //   30, 0x010000000000000A
    kAppInfoTail,
});

const Wire kUserMsg3 = {
    {U32, {0x01, 0, 0, 0}}, {U32, {0x0B, 0, 0, 0}},                            // idList1: count 1, 11
    {U32, {0x02, 0, 0, 0}}, {U32, {0x0C, 0, 0, 0}}, {U32, {0x0D, 0, 0, 0}},    // idList2: count 2, 12, 13
    {U64, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}},                   // proxyId 0x8877665544332211
    {U32, {0x04, 0, 0, 0}}, {U16, {0x01, 0}}, {U32, {0x05, 0, 0, 0}},          // reserved1 4, msgType 1, reserved2 5
    {U32, {0x06, 0, 0, 0}}, {U32, {0x03, 0, 0, 0}}, {Bytes, {0, 0x03, 0xFF}},  // reserved3 6, data "\0\x03\xFF"
};

TEST(SessionRecordsTest, DecodeReencodeAndTruncate) {
    expectWireCases({
        recordCase<PGetAppsReq>("PGetAppsReq",
            {{U32, {0x04, 0x03, 0x02, 0x01}}, {U32, {0x0D, 0x0C, 0x0B, 0x0A}},  // uid 0x01020304, sid 0x0A0B0C0D
             {U32, {0x07, 0, 0, 0}}, {U32, {0x08, 0, 0, 0}},                     // sGroupId 7, reserved1 8
             {U32, {0xFF, 0xFF, 0xFF, 0xFF}}, {U16, {0x02, 0}}, text("ex")},     // reserved2, extra "ex"
            [](PGetAppsReq& r) {
                r.uid = 0x01020304; r.sid = 0x0A0B0C0D; r.sGroupId = 7; r.reserved1 = 8; r.reserved2 = 0xFFFFFFFF;
                r.extra = "ex";
            }),
        recordCase<PGetAnnounceApps>("PGetAnnounceApps",
            {{U32, {0x05, 0, 0, 0}}, {U32, {0x06, 0, 0, 0}}, {U32, {0x07, 0, 0, 0}}, {U16, {0, 0}}},  // 5, 6, 7, ""
            [](PGetAnnounceApps& r) { r.sid = 5; r.pid = 6; r.uid = 7; }),
        recordCase<PAddAppReq>("PAddAppReq",
            {{U32, {0x34, 0x12, 0, 0}}, {U32, {0x03, 0, 0, 0}}, {Bytes, {'P', 0, 'K'}},  // sid 0x1234, appPacks "P\0K"
             {U32, {0x02, 0, 0, 0}}, text("SA"),                                        // sidApps "SA"
             {U32, {0x02, 0, 0, 0}}, {U32, {0x03, 0, 0, 0}}, {U32, {0x01, 0, 0, 0}},    // appIds: count 2, 3, 1
             {U8, {0x01}}, {U32, {0, 0x01, 0, 0}},  // appPacksZipped 1, appPacksLen 0x100
             {U8, {0x02}}, {U32, {0x11, 0, 0, 0}},  // sidAppsZipped 2, sidAppsLen 17
             {U32, {0x02, 0, 0, 0}}, {U32, {0x02, 0, 0, 0}}, {U32, {0x08, 0, 0, 0}},    // idSet: count 2, 2, 8
             {U32, {0xEF, 0xBE, 0xAD, 0xDE}}, {U32, {0x03, 0, 0, 0}}, text("ctx")},     // reserved, context "ctx"
            [](PAddAppReq& r) {
                r.sid = 0x1234; r.appPacks = std::string("P\0K", 3); r.sidApps = "SA"; r.appIds = {3, 1};
                r.appPacksZipped = 1; r.appPacksLen = 0x100; r.sidAppsZipped = 2; r.sidAppsLen = 17; r.idSet = {2, 8};
                r.reserved = 0xDEADBEEF; r.context = "ctx";
            }),
        recordCase<PDelAppReq>("PDelAppReq",
            {{U32, {0x99, 0, 0, 0}}, {U32, {0x01, 0, 0, 0}}, text("S"),  // sid 0x99, sidApps "S"
             {U32, {0x01, 0, 0, 0}}, {U32, {0x09, 0, 0, 0}},             // appIds: count 1, 9
             {U8, {0x01}}, {U32, {0x05, 0, 0, 0}},                       // sidAppsZipped 1, sidAppsLen 5
             {U32, {0x02, 0, 0, 0}}, text("cx")},                        // context "cx"
            [](PDelAppReq& r) {
                r.sid = 0x99; r.sidApps = "S"; r.appIds = {9}; r.sidAppsZipped = 1; r.sidAppsLen = 5; r.context = "cx";
            }),
        recordCase<PUserMsg3>("PUserMsg3", kUserMsg3,
            [](PUserMsg3& r) {
                r.idList1 = {11}; r.idList2 = {12, 13}; r.proxyId = 0x8877665544332211; r.reserved1 = 4; r.msgType = 1;
                r.reserved2 = 5; r.reserved3 = 6; r.data = std::string("\0\x03\xFF", 3);
            }),
        recordCase<PAppMsgToClient>("PAppMsgToClient",
            {{U16, {0xAA, 0}}, {U32, {0x01, 0, 0, 0}}, {U32, {0xBB, 0, 0, 0}},  // reserved1, idList: count 1, 0xBB
             {U32, {0xCC, 0, 0, 0}}, {U32, {0x15, 0, 0, 0}},                    // reserved2, appId 21
             {U64, {0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01}},            // srcId 0x0102030405060708
             {U64, {0xDD, 0, 0, 0, 0, 0, 0, 0}}, {U32, {0xEE, 0, 0, 0}},        // reserved3, reserved4
             {U32, {0xFF, 0, 0, 0}}, {U32, {0x2A, 0, 0, 0}}, {U16, {0x03, 0}},  // reserved5, seqNum 42, appMsgType 3
             {U32, {0x02, 0, 0, 0}}, text("hi")},                               // data "hi"
            [](PAppMsgToClient& r) {
                r.reserved1 = 0xAA; r.idList = {0xBB}; r.reserved2 = 0xCC; r.appId = 21; r.srcId = 0x0102030405060708;
                r.reserved3 = 0xDD; r.reserved4 = 0xEE; r.reserved5 = 0xFF; r.seqNum = 42; r.appMsgType = 3;
                r.data = "hi";
            }),
        recordCase<PAppMsgToSDK>("PAppMsgToSDK",
            {{U32, {0x01, 0, 0, 0}}, {U32, {0x02, 0, 0, 0}}, {U32, {0x03, 0, 0, 0}},     // sid 1, uid 2, appId 3
             {U32, {0x04, 0, 0, 0}}, {U64, {0x05, 0, 0, 0, 0, 0, 0, 0}},                 // seqNum 4, reserved1 5
             {U32, {0x02, 0, 0, 0}}, {U64, {0x0A, 0, 0, 0, 0, 0, 0, 0}},                 // proxyIds: count 2, 10,
             {U64, {0x1E, 0, 0, 0, 0, 0, 0, 0}}, {U32, {0x06, 0, 0, 0}},                 //   30; reserved2 6
             {U16, {0x01, 0}}, text("x"), {U32, {0x05, 0, 0, 0}}, text("hello")},        // extra "x", data "hello"
            [](PAppMsgToSDK& r) {
                r.sid = 1; r.uid = 2; r.appId = 3; r.seqNum = 4; r.reserved1 = 5; r.proxyIds = {10, 30};
                r.reserved2 = 6; r.extra = "x"; r.data = "hello";
            }),
        recordCase<VersionItem>("VersionItem", kVersionItem, fillVersionItem),
        recordCase<AppInfoPack>("AppInfoPack", kAppInfoPack,
            [](AppInfoPack& r) { r.appId = 9; r.proxyId = 0x0807060504030201; fillAppInfoTail(r); }),
        recordCase<AppInfoPack3>("AppInfoPack3", kAppInfoPack3,
            [](AppInfoPack3& r) { r.appId = 10; r.proxyIds = {30, 0x010000000000000A}; fillAppInfoTail(r); }),
        recordCase<PAppSdkInfo>("PAppSdkInfo",
            {{U32, {0x01, 0, 0, 0}}, {U64, {0, 0, 0, 0, 0, 0, 0, 0x80}}},  // proxyIds: count 1, 2^63
            [](PAppSdkInfo& r) { r.proxyIds = {uint64_t{1} << 63}; }),
        recordCase<PAppSdkInfo>("PAppSdkInfo empty", {{U32, {0, 0, 0, 0}}}, [](PAppSdkInfo&) {}),  // proxyIds: count 0
    });
}

// Every record of both headers, the plug-in records included.
TEST(SessionRecordsTest, FreshRecordsCarryOnlyZeros) {
    using namespace vessaplugin::appMgr;
    expectFreshRecordsEncodeAsZeros<PGetAppsReq, PGetAnnounceApps, PAddAppReq, PDelAppReq, PUserMsg3, PAppMsgToClient,
                                    PAppMsgToSDK, VersionItem, AppInfoPack, AppInfoPack3, PAppSdkInfo,
                                    PluginAppPackMap, PluginAppPack, PluginVerItem, PluginSid2AppsMap, PluginSid2Apps,
                                    PluginSidAttr>();
}

TEST(SessionRecordsTest, AnyNonZeroFlagByteReadsTrueAndIsWrittenAsOne) {
    auto expectFlagByteTwoReadsTrue = [](auto r, const Wire& wire) {
        std::string in = bytesOf(wire);
        in.back() = '\x02';  // flag, the last field
        decodeInto(in, r);
        EXPECT_TRUE(r.flag);
        EXPECT_EQ(hex(encode(r)), hex(bytesOf(wire)));
    };
    expectFlagByteTwoReadsTrue(AppInfoPack(), kAppInfoPack);
    expectFlagByteTwoReadsTrue(AppInfoPack3(), kAppInfoPack3);
}

TEST(SessionRecordsTest, DecodingIntoAUsedRecordOverwritesScalarsAndStringsAndAppendsToContainers) {
    PUserMsg3 r;
    r.proxyId = 1; r.data = "old";
    decodeInto(bytesOf(kUserMsg3), r);
    decodeInto(bytesOf(kUserMsg3), r);
    EXPECT_THAT(r.idList1, ElementsAre(11u, 11u));
    EXPECT_THAT(r.idList2, ElementsAre(12u, 13u, 12u, 13u));
    EXPECT_EQ(r.proxyId, 0x8877665544332211u);
    EXPECT_EQ(r.data, std::string("\0\x03\xFF", 3));
}

TEST(SessionRecordsTest, UrisAreMessageNumberAndServiceId) {
    EXPECT_THAT((std::vector<uint32_t>{URI_GET_APPS_REQ, URI_ADD_APP_REQ, URI_DEL_APP_REQ, URI_GET_ANNOUNCE_APPS,
                                       URI_ADD_ANNOUNCE_APPS, URI_SET_CUR_ANNOUNCE_APP, URI_USER_MSG3,
                                       URI_APP_MSG_TO_CLIENT, URI_APP_MSG_TO_SDK}),
                ElementsAre(256466u, 256978u, 257490u, 819922u, 820178u, 821202u, 2585602u, 2611202u, 2611458u));
}

}  // namespace
}  // namespace protocol::session
