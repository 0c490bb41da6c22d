#include "marshal/RecordWalks.h"

#include <gtest/gtest.h>

#include <map>
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

std::string bytes(std::initializer_list<unsigned char> list) { return std::string(list.begin(), list.end()); }

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

TEST(MarshallableTest, BaseTraceTextAndErrorHierarchy) {
    EXPECT_EQ(Entry().toString(), "trace Marshallable [ not immplement ]");
    static_assert(std::is_base_of_v<PacketError, PackError> && std::is_base_of_v<PacketError, UnpackError> &&
                  std::is_base_of_v<std::runtime_error, PacketError>);
}

}  // namespace
}  // namespace pakt
