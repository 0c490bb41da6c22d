#include "protocol/PluginRecords.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "protocol/WireTableTest.h"

namespace vessaplugin::appMgr {
namespace {

using namespace wiretest;
using enum wiretest::Prim;
using ::testing::ElementsAre;

const Wire kVerItem = {
    {U32, {0x04, 0x03, 0x02, 0x01}},  // num1 0x01020304
    {U16, {0x02, 0x00}},              // str1: length 2
    text("v1"),                       // str1: "v1"
    {U16, {0x00, 0x00}},              // str2: length 0
    {U16, {0x03, 0x00}},              // str3: length 3
    text("abc"),                      // str3: "abc"
    {U32, {0x02, 0x00, 0x00, 0x00}},  // num2 2
    {U32, {0xFF, 0xFF, 0xFF, 0xFF}},  // num3 0xFFFFFFFF
    {U16, {0x01, 0x00}},              // str4: length 1
    text("z"),                        // str4: "z"
};

void expectVerItem(const PluginVerItem& v) {
    EXPECT_EQ(v.num1, 0x01020304u);
    EXPECT_EQ(v.str1, "v1");
    EXPECT_EQ(v.str2, "");
    EXPECT_EQ(v.str3, "abc");
    EXPECT_EQ(v.num2, 2u);
    EXPECT_EQ(v.num3, 0xFFFFFFFFu);
    EXPECT_EQ(v.str4, "z");
}

// A pack whose appId and str4 vary, so that map entries can be told apart.
Wire appPack(uint8_t appId, const std::string& str4) {
    return cat({
        {
            {U32, {appId, 0x00, 0x00, 0x00}},  // appId
            {U16, {0x04, 0x00}},               // str1: length 4
            text("name"),                      // str1
            {U16, {0x00, 0x00}},               // str2: length 0
            {U16, {0x01, 0x00}},               // str3: length 1
            text("d"),                         // str3
            {U32, {0x44, 0x33, 0x22, 0x11}},   // num1 0x11223344
            {U16, {0x01, 0x00}},               // short1 1
            {U16, {0xEF, 0xBE}},               // short2 0xBEEF
            {U16, {0x03, 0x00}},               // short3 3
            {U32, {0x02, 0x00, 0x00, 0x00}},   // versions: count 2
        },
        kVerItem,  // versions[0]
        kVerItem,  // versions[1]
        {
            {U32, {0x09, 0x00, 0x00, 0x00}},                          // num2 9
            {U8, {0x07}},                                             // byte1 7, raw
            {U32, {0x02, 0x00, 0x00, 0x00}},                          // proxyIds: count 2
            {U64, {0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11}},  // proxyIds[0]
            {U64, {0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},  // proxyIds[1] 2
            {U16, {0x03, 0x00}},                                      // sdkVersion 3
            {U16, {static_cast<uint8_t>(str4.size()), static_cast<uint8_t>(str4.size() >> 8)}},  // str4: length
            text(str4),                                                                          // str4
        },
    });
}

void expectAppPack(const PluginAppPack& a, uint32_t appId, const std::string& str4) {
    EXPECT_EQ(a.appId, appId);
    EXPECT_EQ(a.str1, "name");
    EXPECT_EQ(a.str2, "");
    EXPECT_EQ(a.str3, "d");
    EXPECT_EQ(a.num1, 0x11223344u);
    EXPECT_EQ(a.short1, 1u);
    EXPECT_EQ(a.short2, 0xBEEFu);
    EXPECT_EQ(a.short3, 3u);
    ASSERT_EQ(a.versions.size(), 2u);
    expectVerItem(a.versions[0]);
    expectVerItem(a.versions[1]);
    EXPECT_EQ(a.num2, 9u);
    EXPECT_EQ(a.byte1, 7u);
    EXPECT_THAT(a.proxyIds, ElementsAre(0x1122334455667788u, 2u));
    EXPECT_EQ(a.sdkVersion, 3u);
    EXPECT_EQ(a.str4, str4);
}

const Wire kEmptyAppPack = {
    {U32, {0x00, 0x00, 0x00, 0x00}},  // appId 0
    {U16, {0x00, 0x00}},              // str1: length 0
    {U16, {0x00, 0x00}},              // str2: length 0
    {U16, {0x00, 0x00}},              // str3: length 0
    {U32, {0x00, 0x00, 0x00, 0x00}},  // num1 0
    {U16, {0x00, 0x00}},              // short1 0
    {U16, {0x00, 0x00}},              // short2 0
    {U16, {0x00, 0x00}},              // short3 0
    {U32, {0x00, 0x00, 0x00, 0x00}},  // versions: count 0
    {U32, {0x00, 0x00, 0x00, 0x00}},  // num2 0
    {U8, {0x00}},                     // byte1 0
    {U32, {0x00, 0x00, 0x00, 0x00}},  // proxyIds: count 0
    {U16, {0x00, 0x00}},              // sdkVersion 0
    {U16, {0x00, 0x00}},              // str4: length 0
};

const Wire kSid2AppsMap = {
    {U32, {0x02, 0x00, 0x00, 0x00}},  // sidApps: count 2
    {U32, {0x64, 0x00, 0x00, 0x00}},  //   key sid 100
    {U32, {0x02, 0x00, 0x00, 0x00}},  //   appIds: count 2
    {U32, {0x0A, 0x00, 0x00, 0x00}},  //   appIds[0] 10
    {U32, {0x00, 0x00, 0x01, 0x00}},  //   appIds[1] 0x10000
    {U32, {0xC8, 0x00, 0x00, 0x00}},  //   key sid 200
    {U32, {0x00, 0x00, 0x00, 0x00}},  //   appIds: count 0
    {U32, {0x01, 0x00, 0x00, 0x00}},  // sidAttrs: count 1
    {U32, {0x64, 0x00, 0x00, 0x00}},  //   key sid 100
    {U32, {0x05, 0x00, 0x00, 0x00}},  //   num 5
    {U16, {0x01, 0x00}},              //   str: length 1
    text("x"),                        //   str "x"
};

TEST(PluginRecordsTest, DecodeReencodeAndTruncate) {
    expectWireCases({
        recordCase<PluginSidAttr>("PluginSidAttr",
                                  {
                                      {U32, {0x01, 0x00, 0x00, 0x00}},  // num 1
                                      {U16, {0x02, 0x00}},              // str: length 2
                                      text("ab"),                       // str "ab"
                                  },
                                  [](const PluginSidAttr& r) {
                                      EXPECT_EQ(r.num, 1u);
                                      EXPECT_EQ(r.str, "ab");
                                  }),
        recordCase<PluginSid2Apps>("PluginSid2Apps",
                                   {
                                       {U32, {0x02, 0x00, 0x00, 0x00}},  // appIds: count 2
                                       {U32, {0x07, 0x00, 0x00, 0x00}},  // appIds[0] 7
                                       {U32, {0x05, 0x00, 0x00, 0x00}},  // appIds[1] 5, order kept
                                   },
                                   [](const PluginSid2Apps& r) { EXPECT_THAT(r.appIds, ElementsAre(7u, 5u)); }),
        recordCase<PluginSid2Apps>("PluginSid2Apps empty", {{U32, {0x00, 0x00, 0x00, 0x00}}},  // appIds: count 0
                                   [](const PluginSid2Apps& r) { EXPECT_TRUE(r.appIds.empty()); }),
        recordCase<PluginVerItem>("PluginVerItem", kVerItem, expectVerItem),
        recordCase<PluginAppPack>("PluginAppPack", appPack(0x2A, "end"),
                                  [](const PluginAppPack& r) { expectAppPack(r, 0x2A, "end"); }),
        recordCase<PluginAppPack>("PluginAppPack with the longest str4", appPack(0x2B, std::string(65535, 'L')),
                                  [](const PluginAppPack& r) { expectAppPack(r, 0x2B, std::string(65535, 'L')); }),
        recordCase<PluginAppPack>("PluginAppPack empty", kEmptyAppPack,
                                  [](const PluginAppPack& r) {
                                      EXPECT_EQ(r.appId, 0u);
                                      EXPECT_TRUE(r.versions.empty());
                                      EXPECT_TRUE(r.proxyIds.empty());
                                      EXPECT_TRUE(r.str4.empty());
                                  }),
        recordCase<PluginAppPackMap>("PluginAppPackMap",
                                     cat({
                                         {{U32, {0x02, 0x00, 0x00, 0x00}}},  // apps: count 2
                                         {{U32, {0x03, 0x00, 0x00, 0x00}}},  //   key 3
                                         appPack(0x03, "three"),             //   value
                                         {{U32, {0x0A, 0x00, 0x00, 0x00}}},  //   key 10
                                         appPack(0x0A, "ten"),               //   value
                                     }),
                                     [](const PluginAppPackMap& r) {
                                         ASSERT_EQ(r.apps.size(), 2u);
                                         expectAppPack(r.apps.at(3), 3, "three");
                                         expectAppPack(r.apps.at(10), 10, "ten");
                                     }),
        recordCase<PluginAppPackMap>("PluginAppPackMap empty", {{U32, {0x00, 0x00, 0x00, 0x00}}},  // apps: count 0
                                     [](const PluginAppPackMap& r) { EXPECT_TRUE(r.apps.empty()); }),
        recordCase<PluginSid2AppsMap>("PluginSid2AppsMap", kSid2AppsMap,
                                      [](const PluginSid2AppsMap& r) {
                                          ASSERT_EQ(r.sidApps.size(), 2u);
                                          EXPECT_THAT(r.sidApps.at(100).appIds, ElementsAre(10u, 0x10000u));
                                          EXPECT_TRUE(r.sidApps.at(200).appIds.empty());
                                          ASSERT_EQ(r.sidAttrs.size(), 1u);
                                          EXPECT_EQ(r.sidAttrs.at(100).num, 5u);
                                          EXPECT_EQ(r.sidAttrs.at(100).str, "x");
                                      }),
        recordCase<PluginSid2AppsMap>("PluginSid2AppsMap empty",
                                      {
                                          {U32, {0x00, 0x00, 0x00, 0x00}},  // sidApps: count 0
                                          {U32, {0x00, 0x00, 0x00, 0x00}},  // sidAttrs: count 0
                                      },
                                      [](const PluginSid2AppsMap& r) {
                                          EXPECT_TRUE(r.sidApps.empty());
                                          EXPECT_TRUE(r.sidAttrs.empty());
                                      }),
    });
}

TEST(PluginRecordsTest, EmptyAppPackIs37Bytes) { EXPECT_EQ(bytesOf(kEmptyAppPack).size(), 37u); }

TEST(PluginRecordsTest, DuplicateKeysKeepTheFirstValue) {
    const std::string apps = bytesOf(cat({
        {{U32, {0x02, 0x00, 0x00, 0x00}}},  // apps: count 2
        {{U32, {0x07, 0x00, 0x00, 0x00}}},  //   key 7
        appPack(0x01, "first"),             //   value
        {{U32, {0x07, 0x00, 0x00, 0x00}}},  //   key 7 again
        appPack(0x02, "second"),            //   value, dropped
    }));
    PluginAppPackMap appMap;
    pakt::Unpack upApps(apps.data(), apps.size());
    appMap.unmarshal(upApps);
    ASSERT_EQ(appMap.apps.size(), 1u);
    expectAppPack(appMap.apps.at(7), 1, "first");

    const std::string sids = bytesOf({
        {U32, {0x02, 0x00, 0x00, 0x00}},  // sidApps: count 2
        {U32, {0x05, 0x00, 0x00, 0x00}},  //   key 5
        {U32, {0x01, 0x00, 0x00, 0x00}},  //   appIds: count 1
        {U32, {0x0B, 0x00, 0x00, 0x00}},  //   appIds[0] 11
        {U32, {0x05, 0x00, 0x00, 0x00}},  //   key 5 again
        {U32, {0x00, 0x00, 0x00, 0x00}},  //   appIds: count 0, dropped
        {U32, {0x02, 0x00, 0x00, 0x00}},  // sidAttrs: count 2
        {U32, {0x05, 0x00, 0x00, 0x00}},  //   key 5
        {U32, {0x01, 0x00, 0x00, 0x00}},  //   num 1
        {U16, {0x00, 0x00}},              //   str: length 0
        {U32, {0x05, 0x00, 0x00, 0x00}},  //   key 5 again
        {U32, {0x02, 0x00, 0x00, 0x00}},  //   num 2, dropped
        {U16, {0x00, 0x00}},              //   str: length 0
    });
    PluginSid2AppsMap sidMap;
    pakt::Unpack upSids(sids.data(), sids.size());
    sidMap.unmarshal(upSids);
    ASSERT_EQ(sidMap.sidApps.size(), 1u);
    EXPECT_THAT(sidMap.sidApps.at(5).appIds, ElementsAre(11u));
    ASSERT_EQ(sidMap.sidAttrs.size(), 1u);
    EXPECT_EQ(sidMap.sidAttrs.at(5).num, 1u);
}

}  // namespace
}  // namespace vessaplugin::appMgr
