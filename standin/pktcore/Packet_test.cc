// Inbound packets and the packet pool.

#include <gtest/gtest.h>

#include <memory>

#include "host/Pktcore.h"
#include "marshal/Errors.h"
#include "protocol/PluginRecords.h"
#include "standin/pktcore/StandinSession.h"

namespace {

using vessaplugin::appMgr::PluginSidAttr;

struct PoolDeleter {
    ProtoPacketPool* pool;
    void operator()(IProtoPacket* p) const { pool->freePacket(p); }
};
using PacketPtr = std::unique_ptr<IProtoPacket, PoolDeleter>;

TEST(PacketTest, PoolBuildsPacketsFromBodyFrameAndRecord) {
    ProtoPacketPool pool;
    PluginSidAttr attr;
    attr.num = 0x11223344;
    attr.str = "ab";

    PacketPtr fromRecord(pool.newPacket(256978, attr), {&pool});
    EXPECT_EQ(fromRecord->getUri(), 256978u);
    EXPECT_EQ(fromRecord->getResCode(), 200u);
    const std::string bytes("\x44\x33\x22\x11\x02\x00" "ab", 8);
    ASSERT_EQ(fromRecord->getBodyLen(), 8);
    EXPECT_EQ(std::string(fromRecord->getBody(), 8), bytes);
    PluginSidAttr back;
    fromRecord->unmarshal(back);
    EXPECT_EQ(back.num, attr.num);
    EXPECT_EQ(back.str, "ab");

    PacketPtr fromBody(pool.newPacket(7, bytes.data(), bytes.size(), 500), {&pool});
    EXPECT_EQ(fromBody->getUri(), 7u);
    EXPECT_EQ(fromBody->getResCode(), 500u);
    EXPECT_EQ(std::string(fromBody->getBody(), fromBody->getBodyLen()), bytes);

    const std::string frame = std::string("\xD2\xEA\x03\x00", 4) + bytes;  // uri 256722
    PacketPtr fromFrame(pool.newPacket(frame.data(), frame.size(), 200), {&pool});
    EXPECT_EQ(fromFrame->getUri(), 256722u);
    EXPECT_EQ(std::string(fromFrame->getBody(), fromFrame->getBodyLen()), bytes);

    PacketPtr emptyFrame(pool.newPacket(frame.data(), 4, 200), {&pool});
    EXPECT_EQ(emptyFrame->getBodyLen(), 0);
    EXPECT_EQ(pool.newPacket(frame.data(), 3, 200), nullptr);
    EXPECT_EQ(pool.newPacket(nullptr, 8, 200), nullptr);
    EXPECT_EQ(pool.newPacket(1, nullptr, 8, 200), nullptr);
    PacketPtr noBody(pool.newPacket(1, nullptr, 0, 200), {&pool});
    EXPECT_EQ(noBody->getBodyLen(), 0);
    pool.freePacket(nullptr);
}

TEST(PacketTest, UnmarshalReadsFromTheStartAndReportsShortBodies) {
    const std::string bytes("\x44\x33\x22\x11\x02\x00" "ab" "rest", 12);
    PluginSidAttr record;
    EXPECT_THROW(standin::Packet(1, 200, bytes.substr(0, 7)).unmarshal(record), pakt::UnpackError);
    standin::Packet packet(1, 200, bytes);
    packet.unmarshal(record);
    record = PluginSidAttr();
    packet.unmarshal(record);  // each call starts again at the first byte
    EXPECT_EQ(record.num, 0x11223344u);
    EXPECT_EQ(record.str, "ab");
}

}  // namespace
