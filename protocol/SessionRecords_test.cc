#include "protocol/SessionRecords.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "protocol/WireTableTest.h"

namespace protocol::session {
namespace {

using namespace wiretest;
using enum wiretest::Prim;
using ::testing::ElementsAre;

const Wire kVersionItem = {
    {U32, {0x01, 0x00, 0x00, 0x00}},  // num1 1
    {U32, {0x00, 0x01, 0x00, 0x00}},  // num2 0x100
    {U32, {0x00, 0x00, 0x00, 0x80}},  // num3 0x80000000
    {U16, {0x02, 0x00}},              // str1: length 2
    {Bytes, {0x00, 0xFF}},            // str1: bytes 00 FF
    {U16, {0x03, 0x00}},              // str2: length 3
    text("2.0"),                      // str2 "2.0"
};

void expectVersionItem(const VersionItem& v) {
    EXPECT_EQ(v.num1, 1u);
    EXPECT_EQ(v.num2, 0x100u);
    EXPECT_EQ(v.num3, 0x80000000u);
    EXPECT_EQ(v.str1, std::string("\0\xFF", 2));
    EXPECT_EQ(v.str2, "2.0");
}

// Fields 3 to 7, shared by AppInfoPack and AppInfoPack3.
const Wire kAppInfoTail = cat({
    {
        {U16, {0x01, 0x00}},              // str1: length 1
        text("A"),                        // str1 "A"
        {U16, {0x00, 0x00}},              // str2: length 0
        {U32, {0x2C, 0x01, 0x00, 0x00}},  // num 300
        {U32, {0x01, 0x00, 0x00, 0x00}},  // versions: count 1
    },
    kVersionItem,      // versions[0]
    {{U8, {0x01}}},    // flag true
});

template <typename Info>
void expectAppInfoTail(const Info& r) {
    EXPECT_EQ(r.str1, "A");
    EXPECT_EQ(r.str2, "");
    EXPECT_EQ(r.num, 300u);
    ASSERT_EQ(r.versions.size(), 1u);
    expectVersionItem(r.versions[0]);
    EXPECT_TRUE(r.flag);
}

const Wire kAppInfoPack = cat({
    {
        {U32, {0x09, 0x00, 0x00, 0x00}},                          // appId 9
        {U64, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08}},  // proxyId 0x0807060504030201
    },
    kAppInfoTail,
});

const Wire kAppInfoPack3 = cat({
    {
        {U32, {0x0A, 0x00, 0x00, 0x00}},                          // appId 10
        {U32, {0x02, 0x00, 0x00, 0x00}},                          // proxyIds: count 2
        {U64, {0x1E, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},  // proxyIds[0] 30
        {U64, {0x0A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}},  // proxyIds[1] 0x010000000000000A
    },
    kAppInfoTail,
});

TEST(SessionRecordsTest, DecodeReencodeAndTruncate) {
    expectWireCases({
        recordCase<PGetAppsReq>("PGetAppsReq",
                                {
                                    {U32, {0x04, 0x03, 0x02, 0x01}},  // uid 0x01020304
                                    {U32, {0x0D, 0x0C, 0x0B, 0x0A}},  // sid 0x0A0B0C0D
                                    {U32, {0x07, 0x00, 0x00, 0x00}},  // sGroupId 7
                                    {U32, {0x00, 0x00, 0x00, 0x00}},  // reserved1 0
                                    {U32, {0xFF, 0xFF, 0xFF, 0xFF}},  // reserved2 0xFFFFFFFF
                                    {U16, {0x02, 0x00}},              // extra: length 2
                                    text("ex"),                       // extra "ex"
                                },
                                [](const PGetAppsReq& r) {
                                    EXPECT_EQ(r.uid, 0x01020304u);
                                    EXPECT_EQ(r.sid, 0x0A0B0C0Du);
                                    EXPECT_EQ(r.sGroupId, 7u);
                                    EXPECT_EQ(r.reserved1, 0u);
                                    EXPECT_EQ(r.reserved2, 0xFFFFFFFFu);
                                    EXPECT_EQ(r.extra, "ex");
                                }),
        recordCase<PGetAppsReq>("PGetAppsReq with the longest extra",
                                {
                                    {U32, {0x01, 0x00, 0x00, 0x00}},  // uid 1
                                    {U32, {0x02, 0x00, 0x00, 0x00}},  // sid 2
                                    {U32, {0x03, 0x00, 0x00, 0x00}},  // sGroupId 3
                                    {U32, {0x04, 0x00, 0x00, 0x00}},  // reserved1 4
                                    {U32, {0x05, 0x00, 0x00, 0x00}},  // reserved2 5
                                    {U16, {0xFF, 0xFF}},              // extra: length 65535
                                    text(std::string(65535, 'e')),    // extra
                                },
                                [](const PGetAppsReq& r) {
                                    EXPECT_EQ(r.reserved2, 5u);
                                    EXPECT_EQ(r.extra, std::string(65535, 'e'));
                                }),
        recordCase<PGetAnnounceApps>("PGetAnnounceApps",
                                     {
                                         {U32, {0x05, 0x00, 0x00, 0x00}},  // sid 5
                                         {U32, {0x06, 0x00, 0x00, 0x00}},  // pid 6
                                         {U32, {0x07, 0x00, 0x00, 0x00}},  // uid 7
                                         {U16, {0x00, 0x00}},              // extra: length 0
                                     },
                                     [](const PGetAnnounceApps& r) {
                                         EXPECT_EQ(r.sid, 5u);
                                         EXPECT_EQ(r.pid, 6u);
                                         EXPECT_EQ(r.uid, 7u);
                                         EXPECT_EQ(r.extra, "");
                                     }),
        recordCase<PAddAppReq>("PAddAppReq",
                               {
                                   {U32, {0x34, 0x12, 0x00, 0x00}},  // sid 0x1234
                                   {U32, {0x03, 0x00, 0x00, 0x00}},  // appPacks: length 3
                                   {Bytes, {'P', 0x00, 'K'}},        // appPacks
                                   {U32, {0x02, 0x00, 0x00, 0x00}},  // sidApps: length 2
                                   text("SA"),                       // sidApps
                                   {U32, {0x02, 0x00, 0x00, 0x00}},  // appIds: count 2
                                   {U32, {0x03, 0x00, 0x00, 0x00}},  // appIds[0] 3
                                   {U32, {0x01, 0x00, 0x00, 0x00}},  // appIds[1] 1
                                   {U8, {0x01}},                     // appPacksZipped 1
                                   {U32, {0x00, 0x01, 0x00, 0x00}},  // appPacksLen 0x100
                                   {U8, {0x02}},                     // sidAppsZipped 2
                                   {U32, {0x11, 0x00, 0x00, 0x00}},  // sidAppsLen 17
                                   {U32, {0x02, 0x00, 0x00, 0x00}},  // idSet: count 2
                                   {U32, {0x02, 0x00, 0x00, 0x00}},  // idSet 2
                                   {U32, {0x08, 0x00, 0x00, 0x00}},  // idSet 8
                                   {U32, {0xEF, 0xBE, 0xAD, 0xDE}},  // reserved 0xDEADBEEF
                                   {U32, {0x03, 0x00, 0x00, 0x00}},  // context: length 3
                                   text("ctx"),                      // context
                               },
                               [](const PAddAppReq& r) {
                                   EXPECT_EQ(r.sid, 0x1234u);
                                   EXPECT_EQ(r.appPacks, std::string("P\0K", 3));
                                   EXPECT_EQ(r.sidApps, "SA");
                                   EXPECT_THAT(r.appIds, ElementsAre(3u, 1u));
                                   EXPECT_EQ(r.appPacksZipped, 1u);
                                   EXPECT_EQ(r.appPacksLen, 0x100u);
                                   EXPECT_EQ(r.sidAppsZipped, 2u);
                                   EXPECT_EQ(r.sidAppsLen, 17u);
                                   EXPECT_THAT(r.idSet, ElementsAre(2u, 8u));
                                   EXPECT_EQ(r.reserved, 0xDEADBEEFu);
                                   EXPECT_EQ(r.context, "ctx");
                               }),
        recordCase<PAddAppReq>("PAddAppReq empty",
                               {
                                   {U32, {0x00, 0x00, 0x00, 0x00}},  // sid 0
                                   {U32, {0x00, 0x00, 0x00, 0x00}},  // appPacks: length 0
                                   {U32, {0x00, 0x00, 0x00, 0x00}},  // sidApps: length 0
                                   {U32, {0x00, 0x00, 0x00, 0x00}},  // appIds: count 0
                                   {U8, {0x00}},                     // appPacksZipped 0
                                   {U32, {0x00, 0x00, 0x00, 0x00}},  // appPacksLen 0
                                   {U8, {0x00}},                     // sidAppsZipped 0
                                   {U32, {0x00, 0x00, 0x00, 0x00}},  // sidAppsLen 0
                                   {U32, {0x00, 0x00, 0x00, 0x00}},  // idSet: count 0
                                   {U32, {0x00, 0x00, 0x00, 0x00}},  // reserved 0
                                   {U32, {0x00, 0x00, 0x00, 0x00}},  // context: length 0
                               },
                               [](const PAddAppReq& r) {
                                   EXPECT_TRUE(r.appPacks.empty());
                                   EXPECT_TRUE(r.appIds.empty());
                                   EXPECT_TRUE(r.idSet.empty());
                                   EXPECT_TRUE(r.context.empty());
                               }),
        recordCase<PDelAppReq>("PDelAppReq",
                               {
                                   {U32, {0x99, 0x00, 0x00, 0x00}},  // sid 0x99
                                   {U32, {0x01, 0x00, 0x00, 0x00}},  // sidApps: length 1
                                   text("S"),                        // sidApps
                                   {U32, {0x01, 0x00, 0x00, 0x00}},  // appIds: count 1
                                   {U32, {0x09, 0x00, 0x00, 0x00}},  // appIds[0] 9
                                   {U8, {0x01}},                     // sidAppsZipped 1
                                   {U32, {0x05, 0x00, 0x00, 0x00}},  // sidAppsLen 5
                                   {U32, {0x02, 0x00, 0x00, 0x00}},  // context: length 2
                                   text("cx"),                       // context
                               },
                               [](const PDelAppReq& r) {
                                   EXPECT_EQ(r.sid, 0x99u);
                                   EXPECT_EQ(r.sidApps, "S");
                                   EXPECT_THAT(r.appIds, ElementsAre(9u));
                                   EXPECT_EQ(r.sidAppsZipped, 1u);
                                   EXPECT_EQ(r.sidAppsLen, 5u);
                                   EXPECT_EQ(r.context, "cx");
                               }),
        recordCase<PUserMsg3>("PUserMsg3",
                              {
                                  {U32, {0x01, 0x00, 0x00, 0x00}},                          // idList1: count 1
                                  {U32, {0x0B, 0x00, 0x00, 0x00}},                          // idList1[0] 11
                                  {U32, {0x02, 0x00, 0x00, 0x00}},                          // idList2: count 2
                                  {U32, {0x0C, 0x00, 0x00, 0x00}},                          // idList2[0] 12
                                  {U32, {0x0D, 0x00, 0x00, 0x00}},                          // idList2[1] 13
                                  {U64, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}},  // proxyId
                                  {U32, {0x04, 0x00, 0x00, 0x00}},                          // reserved1 4
                                  {U16, {0x01, 0x00}},                                      // msgType 1
                                  {U32, {0x05, 0x00, 0x00, 0x00}},                          // reserved2 5
                                  {U32, {0x06, 0x00, 0x00, 0x00}},                          // reserved3 6
                                  {U32, {0x03, 0x00, 0x00, 0x00}},                          // data: length 3
                                  {Bytes, {0x00, 0x03, 0xFF}},                              // data
                              },
                              [](const PUserMsg3& r) {
                                  EXPECT_THAT(r.idList1, ElementsAre(11u));
                                  EXPECT_THAT(r.idList2, ElementsAre(12u, 13u));
                                  EXPECT_EQ(r.proxyId, 0x8877665544332211u);
                                  EXPECT_EQ(r.reserved1, 4u);
                                  EXPECT_EQ(r.msgType, 1u);
                                  EXPECT_EQ(r.reserved2, 5u);
                                  EXPECT_EQ(r.reserved3, 6u);
                                  EXPECT_EQ(r.data, std::string("\0\x03\xFF", 3));
                              }),
        recordCase<PUserMsg3>("PUserMsg3 empty lists and data",
                              {
                                  {U32, {0x00, 0x00, 0x00, 0x00}},                          // idList1: count 0
                                  {U32, {0x00, 0x00, 0x00, 0x00}},                          // idList2: count 0
                                  {U64, {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},  // proxyId 1
                                  {U32, {0x00, 0x00, 0x00, 0x00}},                          // reserved1 0
                                  {U16, {0x01, 0x00}},                                      // msgType 1
                                  {U32, {0x00, 0x00, 0x00, 0x00}},                          // reserved2 0
                                  {U32, {0x00, 0x00, 0x00, 0x00}},                          // reserved3 0
                                  {U32, {0x00, 0x00, 0x00, 0x00}},                          // data: length 0
                              },
                              [](const PUserMsg3& r) {
                                  EXPECT_TRUE(r.idList1.empty());
                                  EXPECT_EQ(r.proxyId, 1u);
                                  EXPECT_EQ(r.msgType, 1u);
                                  EXPECT_TRUE(r.data.empty());
                              }),
        recordCase<PAppMsgToClient>("PAppMsgToClient",
                                    {
                                        {U16, {0xAA, 0x00}},                                      // reserved1 0xAA
                                        {U32, {0x01, 0x00, 0x00, 0x00}},                          // idList: count 1
                                        {U32, {0xBB, 0x00, 0x00, 0x00}},                          // idList[0] 0xBB
                                        {U32, {0xCC, 0x00, 0x00, 0x00}},                          // reserved2 0xCC
                                        {U32, {0x15, 0x00, 0x00, 0x00}},                          // appId 21
                                        {U64, {0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01}},  // srcId
                                        {U64, {0xDD, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},  // reserved3 0xDD
                                        {U32, {0xEE, 0x00, 0x00, 0x00}},                          // reserved4 0xEE
                                        {U32, {0xFF, 0x00, 0x00, 0x00}},                          // reserved5 0xFF
                                        {U32, {0x2A, 0x00, 0x00, 0x00}},                          // seqNum 42
                                        {U16, {0x03, 0x00}},                                      // appMsgType 3
                                        {U32, {0x02, 0x00, 0x00, 0x00}},                          // data: length 2
                                        text("hi"),                                               // data
                                    },
                                    [](const PAppMsgToClient& r) {
                                        EXPECT_EQ(r.reserved1, 0xAAu);
                                        EXPECT_THAT(r.idList, ElementsAre(0xBBu));
                                        EXPECT_EQ(r.reserved2, 0xCCu);
                                        EXPECT_EQ(r.appId, 21u);
                                        EXPECT_EQ(r.srcId, 0x0102030405060708u);
                                        EXPECT_EQ(r.reserved3, 0xDDu);
                                        EXPECT_EQ(r.reserved4, 0xEEu);
                                        EXPECT_EQ(r.reserved5, 0xFFu);
                                        EXPECT_EQ(r.seqNum, 42u);
                                        EXPECT_EQ(r.appMsgType, 3u);
                                        EXPECT_EQ(r.data, "hi");
                                    }),
        recordCase<PAppMsgToSDK>("PAppMsgToSDK",
                                 {
                                     {U32, {0x01, 0x00, 0x00, 0x00}},                          // sid 1
                                     {U32, {0x02, 0x00, 0x00, 0x00}},                          // uid 2
                                     {U32, {0x03, 0x00, 0x00, 0x00}},                          // appId 3
                                     {U32, {0x04, 0x00, 0x00, 0x00}},                          // seqNum 4
                                     {U64, {0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},  // reserved1 5
                                     {U32, {0x02, 0x00, 0x00, 0x00}},                          // proxyIds: count 2
                                     {U64, {0x0A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},  // proxyIds[0] 10
                                     {U64, {0x1E, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},  // proxyIds[1] 30
                                     {U32, {0x06, 0x00, 0x00, 0x00}},                          // reserved2 6
                                     {U16, {0x01, 0x00}},                                      // extra: length 1
                                     text("x"),                                                // extra
                                     {U32, {0x05, 0x00, 0x00, 0x00}},                          // data: length 5
                                     text("hello"),                                            // data
                                 },
                                 [](const PAppMsgToSDK& r) {
                                     EXPECT_EQ(r.sid, 1u);
                                     EXPECT_EQ(r.uid, 2u);
                                     EXPECT_EQ(r.appId, 3u);
                                     EXPECT_EQ(r.seqNum, 4u);
                                     EXPECT_EQ(r.reserved1, 5u);
                                     EXPECT_THAT(r.proxyIds, ElementsAre(10u, 30u));
                                     EXPECT_EQ(r.reserved2, 6u);
                                     EXPECT_EQ(r.extra, "x");
                                     EXPECT_EQ(r.data, "hello");
                                 }),
        recordCase<VersionItem>("VersionItem", kVersionItem, expectVersionItem),
        recordCase<AppInfoPack>("AppInfoPack", kAppInfoPack,
                                [](const AppInfoPack& r) {
                                    EXPECT_EQ(r.appId, 9u);
                                    EXPECT_EQ(r.proxyId, 0x0807060504030201u);
                                    expectAppInfoTail(r);
                                }),
        recordCase<AppInfoPack3>("AppInfoPack3", kAppInfoPack3,
                                 [](const AppInfoPack3& r) {
                                     EXPECT_EQ(r.appId, 10u);
                                     EXPECT_THAT(r.proxyIds, ElementsAre(30u, 0x010000000000000Au));
                                     expectAppInfoTail(r);
                                 }),
        recordCase<PAppSdkInfo>("PAppSdkInfo",
                                {
                                    {U32, {0x01, 0x00, 0x00, 0x00}},                          // proxyIds: count 1
                                    {U64, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80}},  // proxyIds[0] 2^63
                                },
                                [](const PAppSdkInfo& r) { EXPECT_THAT(r.proxyIds, ElementsAre(uint64_t{1} << 63)); }),
        recordCase<PAppSdkInfo>("PAppSdkInfo empty", {{U32, {0x00, 0x00, 0x00, 0x00}}},  // proxyIds: count 0
                                [](const PAppSdkInfo& r) { EXPECT_TRUE(r.proxyIds.empty()); }),
    });
}

TEST(SessionRecordsTest, RecordsBuiltBySenderLeaveUnsetFieldsZero) {
    PGetAnnounceApps announce;
    announce.sid = 5;
    announce.pid = 6;
    announce.uid = 7;
    EXPECT_EQ(hex(encode(announce)), "05 00 00 00 06 00 00 00 07 00 00 00 00 00");

    PUserMsg3 msg;
    msg.proxyId = 1;
    msg.msgType = 1;
    EXPECT_EQ(hex(encode(msg)),
              "00 00 00 00 00 00 00 00 01 00 00 00 00 00 00 00 00 00 00 00 01 00 00 00 00 00 00 00 00 00 00 00 00 00");
}

template <typename Info>
void expectFlagByteTwoReadsTrue(const Wire& wire) {
    std::string in = bytesOf(wire);
    in.back() = '\x02';  // flag, the last field
    pakt::Unpack up(in.data(), in.size());
    Info r;
    r.unmarshal(up);
    EXPECT_TRUE(r.flag);
    EXPECT_EQ(hex(encode(r)), hex(bytesOf(wire)));  // written back as 01
}

TEST(SessionRecordsTest, AnyNonZeroFlagByteReadsTrueAndIsWrittenAsOne) {
    expectFlagByteTwoReadsTrue<AppInfoPack>(kAppInfoPack);
    expectFlagByteTwoReadsTrue<AppInfoPack3>(kAppInfoPack3);
}

TEST(SessionRecordsTest, DecodingIntoAUsedRecordOverwritesScalarsAndAppendsToContainers) {
    const std::string first = bytesOf({
        {U32, {0x01, 0x00, 0x00, 0x00}},                          // idList1: count 1
        {U32, {0x0B, 0x00, 0x00, 0x00}},                          // idList1[0] 11
        {U32, {0x00, 0x00, 0x00, 0x00}},                          // idList2: count 0
        {U64, {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},  // proxyId 1
        {U32, {0x00, 0x00, 0x00, 0x00}},                          // reserved1 0
        {U16, {0x01, 0x00}},                                      // msgType 1
        {U32, {0x00, 0x00, 0x00, 0x00}},                          // reserved2 0
        {U32, {0x00, 0x00, 0x00, 0x00}},                          // reserved3 0
        {U32, {0x03, 0x00, 0x00, 0x00}},                          // data: length 3
        text("old"),                                              // data
    });
    const std::string second = bytesOf({
        {U32, {0x01, 0x00, 0x00, 0x00}},                          // idList1: count 1
        {U32, {0x16, 0x00, 0x00, 0x00}},                          // idList1[0] 22
        {U32, {0x00, 0x00, 0x00, 0x00}},                          // idList2: count 0
        {U64, {0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},  // proxyId 2
        {U32, {0x00, 0x00, 0x00, 0x00}},                          // reserved1 0
        {U16, {0x07, 0x00}},                                      // msgType 7
        {U32, {0x00, 0x00, 0x00, 0x00}},                          // reserved2 0
        {U32, {0x00, 0x00, 0x00, 0x00}},                          // reserved3 0
        {U32, {0x00, 0x00, 0x00, 0x00}},                          // data: length 0
    });
    PUserMsg3 r;
    for (const std::string* in : {&first, &second}) {
        pakt::Unpack up(in->data(), in->size());
        r.unmarshal(up);
    }
    EXPECT_THAT(r.idList1, ElementsAre(11u, 22u));
    EXPECT_EQ(r.proxyId, 2u);
    EXPECT_EQ(r.msgType, 7u);
    EXPECT_EQ(r.data, "");
}

TEST(SessionRecordsTest, UrisAreMessageNumberAndServiceId) {
    EXPECT_EQ(URI_GET_APPS_REQ, 256466u);
    EXPECT_EQ(URI_ADD_APP_REQ, 256978u);
    EXPECT_EQ(URI_DEL_APP_REQ, 257490u);
    EXPECT_EQ(URI_GET_ANNOUNCE_APPS, 819922u);
    EXPECT_EQ(URI_ADD_ANNOUNCE_APPS, 820178u);
    EXPECT_EQ(URI_SET_CUR_ANNOUNCE_APP, 821202u);
    EXPECT_EQ(URI_USER_MSG3, 2585602u);
    EXPECT_EQ(URI_APP_MSG_TO_CLIENT, 2611202u);
    EXPECT_EQ(URI_APP_MSG_TO_SDK, 2611458u);
}

}  // namespace
}  // namespace protocol::session
