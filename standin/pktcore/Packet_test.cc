// Inbound packets and the packet pool.

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "host/Pktcore.h"
#include "marshal/Errors.h"
#include "protocol/PluginRecords.h"
#include "standin/pktcore/StandinSession.h"

namespace {

TEST(PacketTest, PoolBuildsPacketsWhoseUnmarshalReadsTheBodyFromItsStart) {
    vessaplugin::appMgr::PluginSidAttr attr;
    attr.num = 0x11223344;
    attr.str = "ab";
    const std::string bytes("\x44\x33\x22\x11\x02\x00" "ab", 8);
    const std::string frame = std::string("\xD2\xEA\x03\x00", 4) + bytes + "rest";  // uri 256722
    ProtoPacketPool pool;
    IProtoPacket* fromRecord = pool.newPacket(256978, attr);
    IProtoPacket* fromBody = pool.newPacket(7, bytes.data(), bytes.size(), 500);
    IProtoPacket* fromFrame = pool.newPacket(frame.data(), frame.size(), 201);
    IProtoPacket* bareUri = pool.newPacket(frame.data(), 4, 200);
    IProtoPacket* noBody = pool.newPacket(1, nullptr, 0, 200);
    const auto view = [](IProtoPacket* p) {
        if (!p) return std::make_tuple(0u, 0u, std::string("no packet"));
        return std::make_tuple(p->getUri(), p->getResCode(), std::string(p->getBody(), p->getBodyLen()));
    };
    EXPECT_EQ(view(fromRecord), std::make_tuple(256978u, 200u, bytes));
    EXPECT_EQ(view(fromBody), std::make_tuple(7u, 500u, bytes));
    EXPECT_EQ(view(fromFrame), std::make_tuple(256722u, 201u, bytes + "rest"));
    EXPECT_EQ(view(bareUri), std::make_tuple(256722u, 200u, std::string()));
    EXPECT_EQ(view(noBody), std::make_tuple(1u, 200u, std::string()));

    vessaplugin::appMgr::PluginSidAttr back;
    fromFrame->unmarshal(back);
    fromFrame->unmarshal(back);  // each call starts again at the first byte; the rest is ignored
    EXPECT_EQ(std::tie(back.num, back.str), std::tie(attr.num, attr.str));
    EXPECT_THROW(bareUri->unmarshal(back), pakt::UnpackError);
    for (IProtoPacket* packet : {fromRecord, fromBody, fromFrame, bareUri, noBody}) pool.freePacket(packet);
    EXPECT_EQ(pool.newPacket(frame.data(), 3, 200), nullptr);
    EXPECT_EQ(pool.newPacket(nullptr, 8, 200), nullptr);
    EXPECT_EQ(pool.newPacket(1, nullptr, 8, 200), nullptr);
}

}  // namespace
