#include "protocol/PluginRecords.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "protocol/test_wire_table.h"

namespace vessaplugin::appMgr {
namespace {

using namespace sapp::testing;
using enum sapp::testing::Prim;

const Wire kVerItem = {
    {U32, {0x04, 0x03, 0x02, 0x01}}, {U16, {0x02, 0}}, text("v1"),  // num1 0x01020304, str1 "v1"
    {U16, {0, 0}}, {U16, {0x03, 0}}, text("abc"),                    // str2 "", str3 "abc"
    {U32, {0x02, 0, 0, 0}}, {U32, {0xFF, 0xFF, 0xFF, 0xFF}},         // num2 2, num3 0xFFFFFFFF
    {U16, {0x01, 0}}, text("z"),                                     // str4 "z"
};

void fillVerItem(PluginVerItem& v) {
    v.num1 = 0x01020304; v.str1 = "v1"; v.str3 = "abc"; v.num2 = 2; v.num3 = 0xFFFFFFFF; v.str4 = "z";
}

// A pack whose appId and str4 vary, so that map entries can be told apart.
Wire appPack(uint8_t appId, const std::string& str4) {
    const auto lo = static_cast<uint8_t>(str4.size()), hi = static_cast<uint8_t>(str4.size() >> 8);
    return cat({
        {{U32, {appId, 0, 0, 0}}, {U16, {0x04, 0}}, text("name"),         // appId, str1 "name"
         {U16, {0, 0}}, {U16, {0x01, 0}}, text("d"),                      // str2 "", str3 "d"
         {U32, {0x44, 0x33, 0x22, 0x11}}, {U16, {0x01, 0}},               // num1 0x11223344, short1 1
         {U16, {0xEF, 0xBE}}, {U16, {0x03, 0}}, {U32, {0x02, 0, 0, 0}}},  // short2 0xBEEF, short3 3, versions: count 2
        kVerItem, kVerItem,                                                //   versions[0], versions[1]
        {{U32, {0x09, 0, 0, 0}}, {U8, {0x07}}, {U32, {0x02, 0, 0, 0}},    // num2 9, byte1 7 (raw), proxyIds: count 2
         {U64, {0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11}},          //   0x1122334455667788
         {U64, {0x02, 0, 0, 0, 0, 0, 0, 0}},                              //   2
         {U16, {0x03, 0}}, {U16, {lo, hi}}, text(str4)},                   // sdkVersion 3, str4
    });
}

void fillAppPack(PluginAppPack& a, uint32_t appId, const std::string& str4) {
    a.appId = appId; a.str1 = "name"; a.str3 = "d"; a.num1 = 0x11223344; a.short1 = 1; a.short2 = 0xBEEF; a.short3 = 3;
    fillVerItem(a.versions.emplace_back());
    fillVerItem(a.versions.emplace_back());
    a.num2 = 9; a.byte1 = 7; a.proxyIds = {0x1122334455667788, 2}; a.sdkVersion = 3; a.str4 = str4;
}

TEST(PluginRecordsTest, DecodeReencodeAndTruncate) {
    const std::string longest(65535, 'L');
    expectWireCases({
        recordCase<PluginSidAttr>("PluginSidAttr",
            {{U32, {0x01, 0, 0, 0}}, {U16, {0x02, 0}}, text("ab")},  // num 1, str "ab"
            [](PluginSidAttr& r) { r.num = 1; r.str = "ab"; }),
        recordCase<PluginSid2Apps>("PluginSid2Apps",
            {{U32, {0x02, 0, 0, 0}}, {U32, {0x07, 0, 0, 0}}, {U32, {0x05, 0, 0, 0}}},  // appIds: count 2, 7, 5
            [](PluginSid2Apps& r) { r.appIds = {7, 5}; }),
        recordCase<PluginVerItem>("PluginVerItem", kVerItem, fillVerItem),
        recordCase<PluginAppPack>("PluginAppPack", appPack(0x2A, "end"),
            [](PluginAppPack& r) { fillAppPack(r, 0x2A, "end"); }),
        recordCase<PluginAppPack>("PluginAppPack with the longest str4", appPack(0x2B, longest),
            [&](PluginAppPack& r) { fillAppPack(r, 0x2B, longest); }),
        recordCase<PluginAppPackMap>("PluginAppPackMap",
            cat({{{U32, {0x02, 0, 0, 0}}, {U32, {0x03, 0, 0, 0}}}, appPack(0x03, "three"),  // apps: count 2, key 3
                 {{U32, {0x0A, 0, 0, 0}}}, appPack(0x0A, "ten")}),                          //   key 10
            [](PluginAppPackMap& r) { fillAppPack(r.apps[3], 3, "three"); fillAppPack(r.apps[10], 10, "ten"); }),
        recordCase<PluginAppPackMap>("PluginAppPackMap empty", {{U32, {0, 0, 0, 0}}}, [](PluginAppPackMap&) {}),
        recordCase<PluginSid2AppsMap>("PluginSid2AppsMap",
            {{U32, {0x02, 0, 0, 0}},                                                        // sidApps: count 2
             {U32, {0x64, 0, 0, 0}}, {U32, {0x02, 0, 0, 0}},                                //   sid 100, appIds: 2
             {U32, {0x0A, 0, 0, 0}}, {U32, {0, 0, 0x01, 0}},                                //     10, 0x10000
             {U32, {0xC8, 0, 0, 0}}, {U32, {0, 0, 0, 0}},                                   //   sid 200, appIds: 0
             {U32, {0x01, 0, 0, 0}},                                                        // sidAttrs: count 1
             {U32, {0x64, 0, 0, 0}}, {U32, {0x05, 0, 0, 0}}, {U16, {0x01, 0}}, text("x")},  //   sid 100: 5, "x"
            [](PluginSid2AppsMap& r) {
                r.sidApps[100].appIds = {10, 0x10000};
                r.sidApps.try_emplace(200);
                r.sidAttrs[100].num = 5;
                r.sidAttrs[100].str = "x";
            }),
    });
}

// The mechanism is the container read's; this pins that the plug-in maps use it.
TEST(PluginRecordsTest, DuplicateKeysKeepTheFirstValue) {
    PluginAppPackMap apps, expected;
    decodeInto(bytesOf(cat({{{U32, {0x02, 0, 0, 0}}, {U32, {0x07, 0, 0, 0}}}, appPack(0x01, "first"),  // count 2, key 7
                            {{U32, {0x07, 0, 0, 0}}}, appPack(0x02, "second")})),                      // key 7 again
               apps);
    fillAppPack(expected.apps[7], 1, "first");
    EXPECT_EQ(hex(encode(apps)), hex(encode(expected)));
}

}  // namespace
}  // namespace vessaplugin::appMgr
