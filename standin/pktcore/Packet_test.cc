// Inbound packets, the packet pool and the user info.

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
    for (std::size_t cut = 0; cut < 8; ++cut) {
        SCOPED_TRACE(cut);
        standin::Packet packet(1, 200, bytes.substr(0, cut));
        PluginSidAttr record;
        EXPECT_THROW(packet.unmarshal(record), pakt::UnpackError);
    }
    standin::Packet packet(1, 200, bytes);
    PluginSidAttr first;
    PluginSidAttr second;
    packet.unmarshal(first);
    packet.unmarshal(second);  // each call starts again at the first byte
    EXPECT_EQ(second.num, 0x11223344u);
    EXPECT_EQ(second.str, "ab");
}

TEST(ProtoUInfoTest, CopiesAndMovesEveryMember) {
    ProtoUInfo info;
    EXPECT_EQ(info.getSid(), 0u);
    EXPECT_EQ(info.getUid(), 0u);
    EXPECT_EQ(info.getCookie(), "");
    info.setSid(1);
    info.setAsid(2);
    info.setPid(3);
    info.setUid(0x100000004ull);
    info.setUdb("udb");
    info.setCookie("cookie");

    const auto same = [](const ProtoUInfo& u) {
        return u.getSid() == 1 && u.getAsid() == 2 && u.getPid() == 3 && u.getUid() == 0x100000004ull &&
               u.getUdb() == "udb" && u.getCookie() == "cookie";
    };
    ProtoUInfo copy(info);
    EXPECT_TRUE(same(copy));
    ProtoUInfo assigned;
    assigned = copy;
    EXPECT_TRUE(same(assigned));
    ProtoUInfo moved(std::move(copy));
    EXPECT_TRUE(same(moved));
    ProtoUInfo moveAssigned;
    moveAssigned = std::move(moved);
    EXPECT_TRUE(same(moveAssigned));
}

}  // namespace
