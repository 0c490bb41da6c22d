#include "marshal/RecordWalks.h"

#include <gtest/gtest.h>

#include "marshal/test_bytes.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace pakt {
namespace {

// A record with a scalar and a string, enough to see where elements start.
struct Entry : Record<Entry> {
    uint32_t id = 0;
    std::string name;

    Entry() = default;
    Entry(uint32_t i, std::string n) : id(i), name(std::move(n)) {}
    template <class R, class V>
    static void fields(R& r, V& v) {
        v(u32, "id", r.id);
        v(varstr16, "name", r.name);
    }
    friend bool operator==(const Entry& a, const Entry& b) { return a.id == b.id && a.name == b.name; }
};


// Reads `in` into `c`, which must end up as `expected`, having consumed all of
// `in` or, with `error` given, having thrown it.
template <typename C>
void expectRead(C c, const std::string& in, const C& expected, const std::string& error = "") {
    Unpack up(in.data(), in.size());
    std::string got;
    try {
        unmarshal_container(up, c);
    } catch (const UnpackError& e) {
        got = e.what();
    }
    EXPECT_EQ(got, error);
    EXPECT_EQ(up.empty(), error.empty());
    EXPECT_TRUE(c == expected);
}

const std::string kZeroCount = bytes({0, 0, 0, 0});

// Vectors and sets of integers are pinned by the record tables of protocol/.
TEST(ContainerTest, EncodesAMapAsCountThenKeyAndRecordInKeyOrder) {
    BlockBuffer buffer;
    Pack p(buffer);
    marshal_container(p, std::map<uint32_t, Entry>{{8, Entry(1, "")}, {2, Entry(3, "z")}});
    EXPECT_EQ(p.str(),
              bytes({2, 0, 0, 0,                         // count 2
                     2, 0, 0, 0, 3, 0, 0, 0, 1, 0, 'z',  // key 2 first
                     8, 0, 0, 0, 1, 0, 0, 0, 0, 0}));    // key 8
}

TEST(ContainerTest, ReadingAppendsToWhatIsThereAndAZeroCountChangesNothing) {
    const std::vector<Entry> one{Entry(1, "old")};
    const std::map<uint32_t, Entry> four{{4, Entry(4, "four")}};
    expectRead(std::vector<uint32_t>{9}, kZeroCount, {9});
    expectRead(std::vector<uint32_t>{9}, bytes({2, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0}), {9, 1, 2});
    expectRead(one, kZeroCount, one);
    expectRead(one, bytes({1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 'n', 'e', 'w'}), {Entry(1, "old"), Entry(2, "new")});
    expectRead(std::set<uint32_t>{5}, kZeroCount, {5});
    expectRead(std::set<uint32_t>{5}, bytes({3, 0, 0, 0, 9, 0, 0, 0, 1, 0, 0, 0, 5, 0, 0, 0}), {1, 5, 9});
    expectRead(four, kZeroCount, four);
    expectRead(four, bytes({1, 0, 0, 0, 2, 0, 0, 0, 7, 0, 0, 0, 0, 0}), {{2, Entry(7, "")}, {4, Entry(4, "four")}});
}

TEST(ContainerTest, KeyAlreadyPresentKeepsItsFirstValue) {
    // Keys 7, 3, 7, 5 over a present 5: out of order and duplicated, so the
    // hinted inserts must neither misplace nor overwrite anything.
    expectRead(std::map<uint32_t, Entry>{{5, Entry(50, "kept")}},
               bytes({4, 0, 0, 0, 7, 0, 0, 0, 1, 0, 0, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 0, 0,  // count 4; 7: 1; 3: 2
                      7, 0, 0, 0, 3, 0, 0, 0, 0, 0, 5, 0, 0, 0, 4, 0, 0, 0, 0, 0}),           // 7 again: 3; 5 again: 4
               {{3, Entry(2, "")}, {5, Entry(50, "kept")}, {7, Entry(1, "")}});
}

TEST(ContainerTest, CountBeyondTheDataFailsAtTheFirstElementThatRunsShort) {
    // Reserving room for 2^32 - 1 records would fail long before the data does.
    expectRead(std::vector<Entry>{}, bytes({0xFF, 0xFF, 0xFF, 0xFF, 1, 0, 0, 0, 0, 0, 2, 0, 0}), {Entry(1, "")},
               "pop_uint32: not enough data");
    // The second entry's name runs short: that entry is not inserted.
    expectRead(std::map<uint32_t, Entry>{},
               bytes({2, 0, 0, 0, 1, 0, 0, 0, 10, 0, 0, 0, 0, 0, 2, 0, 0, 0, 11, 0, 0, 0, 5, 0, 'a'}),
               {{1, Entry(10, "")}}, "pop_fetch_ptr: not enough data");
}

// A record holding a container: a map value whose repeat is read past.
struct Group : Record<Group> {
    uint32_t tag = 0;
    std::vector<Entry> entries;
    std::set<uint32_t> ids;

    template <class R, class V>
    static void fields(R& r, V& v) {
        v(u32, "tag", r.tag);
        v("entries", r.entries);
        v("ids", r.ids);
    }
};

std::string entryBytes(const Entry& e) {
    BlockBuffer buffer;
    Pack p(buffer);
    e.marshal(p);
    return p.str();
}

TEST(ContainerTest, AVectorGrowsOnceToWhatTheCountAndTheBytesAllow) {
    // 1,000 entries of 6 bytes and more: a true count is met exactly, with no
    // room over from doubling and no copy of the entries read so far.
    std::string in = bytes({0xE8, 0x03, 0, 0});
    for (uint32_t i = 0; i < 1000; ++i) in += entryBytes(Entry(i, i % 2 ? "x" : ""));
    std::vector<Entry> entries;
    Unpack up(in.data(), in.size());
    unmarshal_container(up, entries);
    EXPECT_EQ(entries.size(), 1000u);
    EXPECT_EQ(entries.capacity(), 1000u);
    EXPECT_EQ(entries[999], Entry(999, "x"));
    // A count far beyond the bytes reserves no more than they can hold (20
    // bytes, an entry 6 at least: 3), and grows once more for the entry that
    // runs short.
    const std::string shortIn = bytes({0xFF, 0xFF, 0xFF, 0x7F}) + std::string(20, '\0');
    std::vector<Entry> few;
    Unpack shortUp(shortIn.data(), shortIn.size());
    EXPECT_THROW(unmarshal_container(shortUp, few), UnpackError);
    EXPECT_EQ(few.size(), 3u);
    EXPECT_LE(few.capacity(), 6u);
    EXPECT_EQ(minWireBytes<Entry>(), 6u);
    EXPECT_EQ(minWireBytes<Group>(), 12u);
    // A run of integers, unaligned after its count, is copied into a vector
    // made for exactly it, each value from its own eight bytes.
    std::string ids = bytes({3, 0, 0, 0});
    for (const uint64_t id : {0x0102030405060708ull, 0x1112131415161718ull, 0xF1F2F3F4F5F6F7F8ull}) {
        for (int shift = 0; shift < 64; shift += 8) ids += static_cast<char>(id >> shift);
    }
    std::vector<uint64_t> wide;
    Unpack idsUp(ids.data(), ids.size());
    unmarshal_container(idsUp, wide);
    EXPECT_EQ(wide, (std::vector<uint64_t>{0x0102030405060708ull, 0x1112131415161718ull, 0xF1F2F3F4F5F6F7F8ull}));
    EXPECT_EQ(wide.capacity(), 3u);
    EXPECT_TRUE(idsUp.empty());
}

// The range a run of wire integers is copied from steps like a pointer to
// the values, either way: a standard library may walk it by any of its
// random-access operations.
TEST(ContainerTest, WireIntegersWalkTheValuesAsARandomAccessRange) {
    const std::string in = bytes({1, 0, 0, 0, 2, 0, 0, 0, 0, 1, 0, 0});
    const detail::WireIntegers<uint32_t> first(in.data());
    const auto last = first + 3;
    EXPECT_EQ(last - first, 3);
    EXPECT_EQ(std::vector<uint32_t>(first, last), (std::vector<uint32_t>{1, 2, 256}));
    EXPECT_EQ(std::vector<uint32_t>(std::make_reverse_iterator(last), std::make_reverse_iterator(first)),
              (std::vector<uint32_t>{256, 2, 1}));
    auto at = last;
    at -= 2;
    EXPECT_EQ(*at, 2u);
    EXPECT_EQ(at[1], 256u);
    EXPECT_EQ(*(1 + first), 2u);
    EXPECT_EQ(*(last - 3), 1u);
    EXPECT_EQ(*at--, 2u);
    EXPECT_EQ(at, first);
    EXPECT_EQ(*++at, 2u);
    EXPECT_EQ(*at++, 2u);
    EXPECT_EQ(*--at, 2u);
    EXPECT_TRUE(first < at && at < last && first <= last - 3);
}

TEST(ContainerTest, AVectorOfIntegersRunningShortKeepsWhatFitAndLeavesTheRest) {
    // Count 4, two u32 and three bytes: two read, the third fails without
    // taking the bytes that remain.
    std::vector<uint32_t> ids{7};
    const std::string in = bytes({4, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 3, 3});
    Unpack up(in.data(), in.size());
    try {
        unmarshal_container(up, ids);
        ADD_FAILURE() << "no error";
    } catch (const UnpackError& e) {
        EXPECT_STREQ(e.what(), "pop_uint32: not enough data");
    }
    EXPECT_EQ(ids, (std::vector<uint32_t>{7, 1, 2}));
    EXPECT_EQ(up.size(), 3u);
    std::vector<uint64_t> wide;
    const std::string in64 = bytes({2, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 9});
    Unpack up64(in64.data(), in64.size());
    EXPECT_THROW(unmarshal_container(up64, wide), UnpackError);
    EXPECT_EQ(wide, std::vector<uint64_t>{1});
    EXPECT_EQ(up64.size(), 1u);
}

// Keys in every order a server may send them, many of them repeated, give
// the map inserting each pair in turn gives (the first value of a key wins).
TEST(ContainerTest, AMapReadAgreesWithInsertingEachEntryInTurnWhateverTheOrder) {
    std::mt19937 random(5);
    for (int trial = 0; trial < 300; ++trial) {
        const uint32_t distinct = 1 + random() % (trial < 150 ? 8 : 400);
        std::vector<uint32_t> keys(random() % 2000);
        const unsigned order = random() % 4;
        for (std::size_t i = 0; i < keys.size(); ++i) {
            const auto n = static_cast<uint32_t>(i);
            keys[i] = order == 0 ? n % distinct : order == 1 ? distinct - n % distinct : random() % distinct;
        }
        std::map<uint32_t, Entry> expected{{3, Entry(333, "before")}};
        std::string in = bytes({0, 0, 0, 0});
        const auto count = static_cast<uint32_t>(keys.size());
        std::memcpy(in.data(), &count, 4);
        for (std::size_t i = 0; i < keys.size(); ++i) {
            const Entry value(static_cast<uint32_t>(i), std::string(i % 3, 'v'));
            expected.try_emplace(keys[i], value);
            in += std::string(reinterpret_cast<const char*>(&keys[i]), 4) + entryBytes(value);
        }
        expectRead(std::map<uint32_t, Entry>{{3, Entry(333, "before")}}, in, expected);
        if (HasFailure()) return;
    }
}

// Records what a reading walk tells its hook, offsets from the start.
struct Recorder {
    const char* start = nullptr;
    std::vector<std::string> events;

    std::string at(const Unpack& up) const { return std::to_string(up.data() - start); }
    void field(const Unpack& up, const char* name) { events.push_back("field " + std::string(name) + " " + at(up)); }
    void element(const Unpack& up, uint32_t index) { events.push_back("element " + std::to_string(index) + " " + at(up)); }
    void key(const Unpack& up, uint32_t key) { events.push_back("key " + std::to_string(key) + " " + at(up)); }
    void end(const Unpack& up) { events.push_back("end " + at(up)); }
    template <class E>
    void beforeValue(const Unpack& up, E) {
        events.push_back("value " + at(up));
    }
    void beforeCount(const Unpack& up) { events.push_back("count " + at(up)); }
    void beforeKey(const Unpack& up) { events.push_back("beforeKey " + at(up)); }
};

// A repeated key's value is read past, not built, yet the hook sees the
// same walk as for a value that is kept: sapp-host finds the fields of a
// repeat by it.
TEST(ContainerTest, ARepeatIsWalkedForTheHookAsAKeptValueIs) {
    Group group;
    group.tag = 4;
    group.entries = {Entry(1, "a"), Entry(2, "")};
    group.ids = {5, 6};
    BlockBuffer buffer;
    Pack p(buffer);
    group.marshal(p);
    const std::string value = p.str();
    const std::string in = bytes({2, 0, 0, 0, 9, 0, 0, 0}) + value + bytes({9, 0, 0, 0}) + value;

    Recorder twice;
    twice.start = in.data();
    HookedUnpack<Recorder> up(in.data(), in.size(), twice);
    std::map<uint32_t, Group> map;
    unmarshal_container(up, map);
    ASSERT_EQ(map.size(), 1u);
    EXPECT_EQ(map[9].entries.size(), 2u);

    // The second entry's events are the first's, shifted by one entry.
    const auto second = std::find(twice.events.begin(), twice.events.end(), "element 1 " + std::to_string(8 + value.size()));
    ASSERT_NE(second, twice.events.end());
    const std::vector<std::string> firstHalf(twice.events.begin() + 1, second);
    std::vector<std::string> secondHalf(second, twice.events.end());
    ASSERT_EQ(firstHalf.size(), secondHalf.size());
    const std::size_t shift = 4 + value.size();
    for (std::size_t i = 0; i < firstHalf.size(); ++i) {
        const std::size_t space = firstHalf[i].rfind(' ');
        std::string moved = firstHalf[i].substr(0, space + 1) +
                            std::to_string(std::stoul(firstHalf[i].substr(space + 1)) + shift);
        if (i == 0) moved.replace(0, 9, "element 1");
        EXPECT_EQ(secondHalf[i], moved) << "event " << i;
    }
}

// A record's read that fails leaves the reader where reading it field by
// field leaves it: after the fields read, a varstr's length consumed; the
// record keeps those fields. The host's reader is the one a record reads
// from (IProtoPacket::unmarshal), however the walk keeps its cursor.
TEST(MarshallableTest, AFailedReadLeavesTheReaderAfterWhatItRead) {
    // tag 7, one entry: id 1, a name of 5 bytes of which one is there.
    const std::string in = bytes({7, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 5, 0, 'a'});
    Group group;
    Unpack up(in.data(), in.size());
    EXPECT_THROW(group.unmarshal(up), UnpackError);
    EXPECT_EQ(up.size(), 1u);
    EXPECT_EQ(group.tag, 7u);
    EXPECT_TRUE(group.entries.empty()) << "the entry that ran short is not kept";
}

TEST(MarshallableTest, BaseTraceTextAndErrorHierarchy) {
    EXPECT_EQ(Entry().toString(), "trace Marshallable [ not immplement ]");
    static_assert(std::is_base_of_v<PacketError, PackError> && std::is_base_of_v<PacketError, UnpackError> &&
                  std::is_base_of_v<std::runtime_error, PacketError>);
}

}  // namespace
}  // namespace pakt
