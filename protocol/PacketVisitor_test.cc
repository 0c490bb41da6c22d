// The packet table as its readers outside the module see it: rows through
// forEachPacket, payload fields through forEachPayload.
#include "protocol/PacketVisitor.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace protocol::session {
namespace {

consteval std::size_t rowCount() {
    std::size_t n = 0;
    forEachPacket([&n](auto) { ++n; });
    return n;
}
static_assert(rowCount() == count(Packets{}), "forEachPacket visits every row, also at compile time");

// A payload member that its record's field list does not name would show
// under no name, and its flag or length under none either.
TEST(PacketVisitorTest, EveryPayloadFieldIsNamedByItsRecordsFieldList) {
    std::size_t fields = 0;
    forEachPacket([&fields](auto row) {
        using P = decltype(row);
        if constexpr (isDecoded<P>) {
            typename P::Record record;
            forEachPayload(row, record, [&](const PayloadField& field) {
                SCOPED_TRACE(std::string(P::name) + "." + std::string(field.name));
                ++fields;
                EXPECT_FALSE(field.name.empty());
                EXPECT_EQ(field.zipped == nullptr, field.zippedName.empty());
                EXPECT_EQ(field.length == nullptr, field.lengthName.empty());
                EXPECT_EQ(field.choices.empty(), field.selectorName.empty());
            });
        }
    });
    EXPECT_EQ(fields, 5u) << "appPacks and sidApps, sidApps, and the two data fields";
}

TEST(PacketVisitorTest, ZippedPayloadsPointIntoTheRecord) {
    PAddAppReq req;
    std::vector<std::string> seen;
    forEachPayload(AddAppReqPacket{}, req, [&](const PayloadField& field) {
        seen.push_back(std::string(field.name) + " " + std::string(field.zippedName) + " " +
                       std::string(field.lengthName) + " " + std::string(field.record));
        *field.bytes = std::string(field.name);
        *field.zipped = 1;
        *field.length = static_cast<uint32_t>(field.name.size());
        EXPECT_TRUE(field.isZipped());
    });
    EXPECT_EQ(seen, (std::vector<std::string>{"appPacks appPacksZipped appPacksLen PluginAppPackMap",
                                              "sidApps sidAppsZipped sidAppsLen PluginSid2AppsMap"}));
    EXPECT_EQ(req.appPacks, "appPacks");
    EXPECT_EQ(req.sidApps, "sidApps");
    EXPECT_EQ(req.appPacksZipped, 1);
    EXPECT_EQ(req.sidAppsLen, 7u);
}

TEST(PacketVisitorTest, TheSdkV2PayloadIsNeverZipped) {
    PUserMsg3 msg;
    std::size_t fields = 0;
    forEachPayload(UserMsg3Packet{}, msg, [&](const PayloadField& field) {
        ++fields;
        EXPECT_EQ(field.name, "data");
        EXPECT_EQ(field.bytes, &msg.data);
        EXPECT_EQ(field.record, "SdkV2Payload");
        EXPECT_EQ(field.zipped, nullptr);
        EXPECT_FALSE(field.isZipped());
        EXPECT_TRUE(field.choices.empty());
    });
    EXPECT_EQ(fields, 1u);
}

// The record of a body chosen by type follows the type the carrier holds
// when the field is visited.
TEST(PacketVisitorTest, ABodyChosenByTypeNamesTheRecordOfTheCurrentType) {
    PAppMsgToClient msg;
    const auto recordFor = [&msg](uint16_t type) {
        msg.appMsgType = type;
        std::string record = "(not visited)";
        forEachPayload(AppMsgToClientPacket{}, msg, [&](const PayloadField& field) {
            record = field.record;
            EXPECT_EQ(field.selectorName, "appMsgType");
            ASSERT_EQ(field.choices.size(), 2u);
            EXPECT_EQ(field.choices[0].record, "AppInfoPack3");
            EXPECT_EQ(std::vector<uint32_t>(field.choices[0].types.begin(), field.choices[0].types.end()),
                      (std::vector<uint32_t>{kAppMsgDeleteApp, kAppMsgAddApp}));
            EXPECT_EQ(field.choices[1].record, "PAppSdkInfo");
        });
        return record;
    };
    EXPECT_EQ(recordFor(kAppMsgAddApp), "AppInfoPack3");
    EXPECT_EQ(recordFor(kAppMsgDeleteApp), "AppInfoPack3");
    EXPECT_EQ(recordFor(kAppMsgUpdateProxies), "PAppSdkInfo");
    EXPECT_EQ(recordFor(kAppMsgAppData), "");
}

}  // namespace
}  // namespace protocol::session
