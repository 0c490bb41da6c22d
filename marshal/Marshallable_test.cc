#include "marshal/Marshallable.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace pakt {
namespace {

using ::testing::ElementsAre;
using ::testing::Pair;
using ::testing::StrEq;
using ::testing::ThrowsMessage;

// A record with a scalar and a string, enough to see where elements start.
struct Entry : Marshallable {
    uint32_t id = 0;
    std::string name;

    Entry() = default;
    Entry(uint32_t i, std::string n) : id(i), name(std::move(n)) {}
    void marshal(Pack& p) const override { p.push_uint32(id).push_varstr(name); }
    void unmarshal(Unpack& up) override {
        id = up.pop_uint32();
        name = up.pop_varstr();
    }
};

std::string bytes(std::initializer_list<unsigned char> list) { return std::string(list.begin(), list.end()); }

template <typename C>
std::string encode(const C& c) {
    BlockBuffer buffer;
    Pack p(buffer);
    marshal_container(p, c);
    return p.str();
}

template <typename C>
void decodeInto(const std::string& in, C& c) {
    Unpack up(in.data(), in.size());
    unmarshal_container(up, c);
    EXPECT_TRUE(up.empty());
}

std::map<uint32_t, std::string> names(const std::map<uint32_t, Entry>& m) {
    std::map<uint32_t, std::string> out;
    for (const auto& [key, e] : m) out[key] = std::to_string(e.id) + ":" + e.name;
    return out;
}

const std::string kZeroCount = bytes({0x00, 0x00, 0x00, 0x00});

TEST(ContainerTest, EncodesCountThenElementsInIterationOrder) {
    EXPECT_EQ(encode(std::vector<uint32_t>{1, 0x0A0B0C0D}),
              bytes({0x02, 0, 0, 0, 0x01, 0, 0, 0, 0x0D, 0x0C, 0x0B, 0x0A}));
    EXPECT_EQ(encode(std::vector<uint64_t>{0x0102}), bytes({0x01, 0, 0, 0, 0x02, 0x01, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(encode(std::set<uint32_t>{9, 3}), bytes({0x02, 0, 0, 0, 0x03, 0, 0, 0, 0x09, 0, 0, 0}));
    EXPECT_EQ(encode(std::vector<Entry>{Entry(5, "a")}), bytes({0x01, 0, 0, 0, 0x05, 0, 0, 0, 0x01, 0x00, 'a'}));
    EXPECT_EQ(encode(std::map<uint32_t, Entry>{{8, Entry(1, "")}, {2, Entry(3, "z")}}),
              bytes({0x02, 0, 0, 0,                                    // count 2
                     0x02, 0, 0, 0, 0x03, 0, 0, 0, 0x01, 0x00, 'z',    // key 2 first
                     0x08, 0, 0, 0, 0x01, 0, 0, 0, 0x00, 0x00}));      // key 8
    EXPECT_EQ(encode(std::vector<uint32_t>{}), kZeroCount);
    EXPECT_EQ(encode(std::set<uint32_t>{}), kZeroCount);
    EXPECT_EQ(encode(std::map<uint32_t, Entry>{}), kZeroCount);
}

TEST(ContainerTest, ZeroCountLeavesEveryContainerAsItWas) {
    std::vector<uint32_t> v32{7};
    std::vector<uint64_t> v64{8};
    std::vector<Entry> records{Entry(1, "one")};
    std::set<uint32_t> s{9};
    std::map<uint32_t, Entry> m{{4, Entry(4, "four")}};
    decodeInto(kZeroCount, v32);
    decodeInto(kZeroCount, v64);
    decodeInto(kZeroCount, records);
    decodeInto(kZeroCount, s);
    decodeInto(kZeroCount, m);
    EXPECT_THAT(v32, ElementsAre(7u));
    EXPECT_THAT(v64, ElementsAre(8u));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].name, "one");
    EXPECT_THAT(s, ElementsAre(9u));
    EXPECT_THAT(names(m), ElementsAre(Pair(4u, "4:four")));
}

TEST(ContainerTest, ReadingAppendsToWhatIsAlreadyThere) {
    std::vector<uint32_t> v{9};
    decodeInto(bytes({0x02, 0, 0, 0, 0x01, 0, 0, 0, 0x02, 0, 0, 0}), v);
    EXPECT_THAT(v, ElementsAre(9u, 1u, 2u));

    std::vector<Entry> records{Entry(1, "old")};
    decodeInto(bytes({0x01, 0, 0, 0, 0x02, 0, 0, 0, 0x03, 0x00, 'n', 'e', 'w'}), records);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].name, "old");
    EXPECT_EQ(records[1].id, 2u);
    EXPECT_EQ(records[1].name, "new");

    std::set<uint32_t> s{5};
    decodeInto(bytes({0x02, 0, 0, 0, 0x09, 0, 0, 0, 0x01, 0, 0, 0}), s);
    EXPECT_THAT(s, ElementsAre(1u, 5u, 9u));
}

TEST(ContainerTest, KeyAlreadyPresentKeepsItsFirstValue) {
    // Keys 7, 3, 7, 5 and a pre-existing 5: out of order and duplicated, so
    // the hinted inserts must neither misplace nor overwrite anything.
    std::map<uint32_t, Entry> m{{5, Entry(50, "kept")}};
    decodeInto(bytes({0x04, 0, 0, 0,                              // count 4
                      0x07, 0, 0, 0, 0x01, 0, 0, 0, 0x00, 0x00,   // 7 -> first
                      0x03, 0, 0, 0, 0x02, 0, 0, 0, 0x00, 0x00,   // 3
                      0x07, 0, 0, 0, 0x03, 0, 0, 0, 0x00, 0x00,   // 7 again
                      0x05, 0, 0, 0, 0x04, 0, 0, 0, 0x00, 0x00}), // 5 again
               m);
    EXPECT_THAT(names(m), ElementsAre(Pair(3u, "2:"), Pair(5u, "50:kept"), Pair(7u, "1:")));

    std::set<uint32_t> s;
    decodeInto(bytes({0x05, 0, 0, 0, 0x09, 0, 0, 0, 0x03, 0, 0, 0, 0x09, 0, 0, 0, 0x01, 0, 0, 0, 0x04, 0, 0, 0}), s);
    EXPECT_THAT(s, ElementsAre(1u, 3u, 4u, 9u));
}

TEST(ContainerTest, CountBeyondTheDataFailsAfterReadingWhatIsThere) {
    const std::string huge = bytes({0xFF, 0xFF, 0xFF, 0xFF});
    {
        std::vector<uint32_t> v;
        const std::string in = huge + bytes({0x01, 0, 0, 0, 0x02, 0, 0, 0, 0x03});
        Unpack up(in.data(), in.size());
        EXPECT_THAT([&] { unmarshal_container(up, v); },
                    ThrowsMessage<UnpackError>(StrEq("pop_uint32: not enough data")));
        EXPECT_THAT(v, ElementsAre(1u, 2u));
    }
    {
        std::vector<uint64_t> v;
        const std::string in = huge + bytes({0x01, 0, 0, 0, 0, 0, 0, 0, 0x02, 0, 0, 0, 0, 0, 0, 0});
        Unpack up(in.data(), in.size());
        EXPECT_THAT([&] { unmarshal_container(up, v); },
                    ThrowsMessage<UnpackError>(StrEq("pop_uint64: not enough data")));
        EXPECT_THAT(v, ElementsAre(1u, 2u));
    }
    {
        std::set<uint32_t> s;
        const std::string in = huge + bytes({0x02, 0, 0, 0, 0x01, 0, 0, 0});
        Unpack up(in.data(), in.size());
        EXPECT_THAT([&] { unmarshal_container(up, s); },
                    ThrowsMessage<UnpackError>(StrEq("pop_uint32: not enough data")));
        EXPECT_THAT(s, ElementsAre(1u, 2u));
    }
    {
        // The second entry's name runs short: the entry is not inserted.
        std::map<uint32_t, Entry> m;
        const std::string in = bytes({0x02, 0, 0, 0, 0x01, 0, 0, 0, 0x0A, 0, 0, 0, 0x00, 0x00,
                                      0x02, 0, 0, 0, 0x0B, 0, 0, 0, 0x05, 0x00, 'a', 'b'});
        Unpack up(in.data(), in.size());
        EXPECT_THAT([&] { unmarshal_container(up, m); },
                    ThrowsMessage<UnpackError>(StrEq("pop_fetch_ptr: not enough data")));
        EXPECT_THAT(names(m), ElementsAre(Pair(1u, "10:")));
    }
}

TEST(MarshallableTest, BaseTraceTextAndErrorHierarchy) {
    const Entry e;
    std::ostringstream os;
    e.trace(os);
    EXPECT_EQ(os.str(), "trace Marshallable [ not immplement ]");
    EXPECT_EQ(e.toString(), "trace Marshallable [ not immplement ]");

    EXPECT_THROW(throw PackError("p"), PacketError);
    EXPECT_THROW(throw UnpackError("u"), PacketError);
    EXPECT_THROW(throw PacketError("x"), std::runtime_error);
}

}  // namespace
}  // namespace pakt
