// The registry's two containers against the standard containers they
// replace: the proxy set against std::set, the id table against std::map,
// under long random runs of the operations the app manager makes; and the
// id table's spreading of ids that a fixed hash would pile into one slot.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "appmgr/IdMap.h"
#include "appmgr/ProxySet.h"

namespace {

std::vector<uint64_t> idsOf(const ProxySet& proxies) {
    std::vector<uint64_t> out;
    proxies.forEach([&](uint64_t id) { out.push_back(id); });
    return out;
}

TEST(ProxySetTest, AssignSortsAndDropsRepeats) {
    ProxySet proxies;
    proxies.assign({9, 3, 9, 1, 3});
    EXPECT_EQ(idsOf(proxies), (std::vector<uint64_t>{1, 3, 9}));
    proxies.assign({});
    EXPECT_TRUE(proxies.empty());
    proxies.assign({4, 5, 5});
    std::vector<uint64_t> copy{77};
    proxies.copyTo(copy);
    EXPECT_EQ(copy, (std::vector<uint64_t>{4, 5}));
}

TEST(ProxySetTest, ALargeSetAddedToOutOfOrderBecomesATreeUntilReplaced) {
    // Out of order, a vector takes ids up to kFlatLimit and no more.
    ProxySet edge;
    std::vector<uint64_t> evens;
    for (uint64_t id = 2; evens.size() + 1 < ProxySet::kFlatLimit; id += 2) evens.push_back(id);
    edge.assign(evens);
    edge.insert(3);
    EXPECT_TRUE(edge.flat());
    EXPECT_EQ(edge.size(), ProxySet::kFlatLimit);
    edge.insert(5);
    EXPECT_FALSE(edge.flat());

    ProxySet proxies;
    std::vector<uint64_t> ids;
    for (uint64_t id = 2; id <= 2 * ProxySet::kFlatLimit; id += 2) ids.push_back(id);
    proxies.assign(ids);
    proxies.insert(1000);  // at the end: stays a vector
    EXPECT_TRUE(proxies.flat());
    proxies.insert(3);
    EXPECT_FALSE(proxies.flat());
    ids.push_back(1000);
    ids.push_back(3);
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(idsOf(proxies), ids);
    std::vector<uint64_t> copy;
    proxies.copyTo(copy);
    EXPECT_EQ(copy, ids);
    proxies.assign({7, 6});
    EXPECT_TRUE(proxies.flat());
    EXPECT_EQ(idsOf(proxies), (std::vector<uint64_t>{6, 7}));
}

TEST(ProxySetTest, WalksInAscendingOrderLikeAnOrderedSetWhateverTheOperations) {
    std::mt19937 random(20261207);
    ProxySet proxies;
    std::set<uint64_t> model;
    for (int step = 0; step < 20000; ++step) {
        const unsigned roll = random() % 100;
        if (roll < 2) {
            // Now and then long enough for the radix sort, with ids that
            // differ in a few low bytes, in one byte anywhere, or anywhere.
            const bool longList = random() % 3 == 0;
            std::vector<uint64_t> ids(longList ? 257 + random() % 3000 : random() % (3 * ProxySet::kFlatLimit));
            const unsigned values = random() % 3;
            const unsigned byte = random() % 8;
            for (uint64_t& id : ids) {
                id = values == 0   ? random() % 500
                     : values == 1 ? uint64_t{random() % 3} << (8 * byte)
                                   : uint64_t{random()} << 32 | random();
            }
            proxies.assign(ids);
            model = std::set<uint64_t>(ids.begin(), ids.end());
        } else if (roll < 3) {
            proxies.clear();
            model.clear();
        } else {
            // Mostly ascending, as proxies arrive; now and then anywhere.
            const uint64_t id = roll < 60 && !model.empty() ? *model.rbegin() + 1 + random() % 3 : random() % 500;
            proxies.insert(id);
            model.insert(id);
        }
        ASSERT_EQ(proxies.size(), model.size()) << "step " << step;
        if (step % 97 == 0) {
            ASSERT_EQ(idsOf(proxies), std::vector<uint64_t>(model.begin(), model.end())) << "step " << step;
        }
    }
}

// One instantiation for all tests of the table, so that coverage counts
// what they run together.
using Table = IdMap<uint32_t, uint64_t>;

TEST(IdMapTest, FindsInsertsAndErasesLikeAnOrderedMap) {
    std::mt19937_64 random(7);
    Table table;
    std::map<uint32_t, uint64_t> model;
    // Few distinct ids, so that runs of occupied slots form, wrap around the
    // end of the array and are broken up by erases.
    for (int step = 0; step < 200000; ++step) {
        const auto id = static_cast<uint32_t>(random() % 300);
        switch (random() % 3) {
        case 0: {
            const auto [value, added] = table.tryEmplace(id);
            const auto [expected, modelAdded] = model.try_emplace(id, 0);
            ASSERT_EQ(added, modelAdded);
            ASSERT_EQ(*value, expected->second);
            *value = expected->second = random();
            break;
        }
        case 1:
            table.erase(id);
            model.erase(id);
            break;
        default: {
            // find, and lookup, which goes without the shortcut of the slot
            // found last, find the same.
            const uint64_t* value = random() % 2 ? table.find(id) : std::as_const(table).lookup(id);
            const auto expected = model.find(id);
            ASSERT_EQ(value != nullptr, expected != model.end()) << "id " << id << ", step " << step;
            if (value) {
                ASSERT_EQ(*value, expected->second);
            }
        }
        }
        ASSERT_EQ(table.size(), model.size());
        ASSERT_GE(table.capacity(), 2 * table.size());
    }
    for (const auto& [id, value] : model) {
        ASSERT_NE(table.find(id), nullptr);
        EXPECT_EQ(*table.find(id), value);
    }
}

TEST(IdMapTest, AnErasedValueIsGoneWhenItsIdComesBack) {
    Table table;
    table.erase(5);  // nothing to erase: no slots yet
    EXPECT_EQ(table.find(5), nullptr);
    EXPECT_EQ(table.lookup(5), nullptr);
    EXPECT_EQ(table.distanceFromHome(5), 0u);
    table[5] = 1;
    table[6] = 2;
    table.erase(5);
    EXPECT_EQ(table.find(5), nullptr);
    EXPECT_EQ(table[5], 0u) << "a new value, not the erased one";
    EXPECT_EQ(table[6], 2u);
    table.reserve(1000);
    EXPECT_GE(table.capacity(), 2000u);
    EXPECT_EQ(table[6], 2u);
    const std::size_t capacity = table.capacity();
    table.reserve(10);
    EXPECT_EQ(table.capacity(), capacity) << "reserving never shrinks";
    EXPECT_EQ(table.distanceFromHome(7), table.size()) << "absent";
}

// A run of slots that wraps around the end of the array: erasing its first
// entry moves the ones behind it back across the end, and only those that
// would not be found past the hole.
TEST(IdMapTest, ErasingFromARunThatWrapsAroundFindsEveryOtherEntry) {
    const IdKeys keys{0, 1};  // fixed, to know which slot each id wants
    constexpr unsigned kShift = 60;  // a table of 16 slots
    std::vector<uint32_t> wants14, wantsLast, wantsFirst;
    for (uint32_t id = 0; wants14.empty() || wantsLast.size() < 3 || wantsFirst.size() < 2; ++id) {
        const auto home = hashId(id, keys) >> kShift;
        if (home == 14 && wants14.empty()) wants14.push_back(id);
        if (home == 15 && wantsLast.size() < 3) wantsLast.push_back(id);
        if (home == 0 && wantsFirst.size() < 2) wantsFirst.push_back(id);
    }
    // Slots 15, 0, 1, 2, 3: three ids that want 15, then two that want 0;
    // slots 15, 0 taken by ids that want them; slots 14, 15, 0: one id that
    // wants 14, two that want 15.
    const std::vector<std::vector<uint32_t>> layouts{
        {wantsLast[0], wantsLast[1], wantsFirst[0], wantsLast[2], wantsFirst[1]},
        {wantsLast[0], wantsFirst[0]},
        {wants14[0], wantsLast[0], wantsLast[1]}};
    for (const std::vector<uint32_t>& ids : layouts) {
    for (std::size_t erased = 0; erased < ids.size(); ++erased) {
        Table table(keys);
        for (const uint32_t id : ids) table[id] = id + 1;
        ASSERT_EQ(table.capacity(), 16u);
        std::vector<std::size_t> before;
        for (const uint32_t id : ids) before.push_back(table.distanceFromHome(id));
        table.erase(ids[erased]);
        for (const uint32_t id : ids) {
            const uint64_t* value = table.find(id);
            if (id == ids[erased]) {
                EXPECT_EQ(value, nullptr);
            } else {
                ASSERT_NE(value, nullptr) << "id " << id << " after erasing " << ids[erased];
                EXPECT_EQ(*value, id + 1);
            }
        }
        // The run closes up: no entry ends up further from home (one moved
        // before its home would be a whole lap from it), the last of a run
        // that can move, one slot nearer.
        for (std::size_t k = 0; k < ids.size(); ++k) {
            if (k != erased) {
                EXPECT_LE(table.distanceFromHome(ids[k]), before[k]) << "id " << ids[k];
            }
        }
        if (ids.size() == 5 && erased + 1 < ids.size()) {
            EXPECT_EQ(table.distanceFromHome(ids.back()), before.back() - 1);
        }
    }
    }
}

// Ids that share their low bits (multiples of a power of two, the buckets of
// a table hashing an id by itself) must not share slots.
TEST(IdMapTest, IdsAFixedHashWouldPileIntoOneSlotSpreadOut) {
    const IdKeys keys = idKeys();
    constexpr uint32_t kIds = 20000;
    constexpr unsigned kSlotBits = 16;  // a table of 65,536 slots, as IdMap holds 20,000 ids in
    std::vector<unsigned> perSlot(1u << kSlotBits);
    for (uint64_t i = 1; i <= kIds; ++i) ++perSlot[hashId(i << 16, keys) >> (64 - kSlotBits)];
    // Thrown at random, 20,000 ids put at most about 7 into one of 65,536 slots.
    EXPECT_LE(*std::max_element(perSlot.begin(), perSlot.end()), 12u);

    Table table;
    for (uint32_t i = 1; i <= kIds; ++i) table[i << 16] = i;
    for (uint32_t i = 1; i <= kIds; ++i) ASSERT_EQ(table[i << 16], i);
}

// A range of consecutive ids, as app ids and sources often come, must not
// pile up into long runs of occupied slots, under any keys. One
// multiplication alone spreads such a range evenly, but the re-insertions
// of a growing table turn it, for about one factor in ten, into runs that
// leave lookups dozens to hundreds of slots from home.
TEST(IdMapTest, ConsecutiveIdsLieNearTheirSlotsUnderAnyKeys) {
    constexpr uint32_t kIds = 100000;
    for (int draw = 0; draw < 48; ++draw) {
        Table table(drawIdKeys());
        for (uint32_t id = 5000000; id < 5000000 + kIds; ++id) table[id] = 1;
        std::size_t total = 0;
        for (uint32_t id = 5000000; id < 5000000 + kIds; ++id) total += table.distanceFromHome(id);
        // Hashed at random, 100,000 ids in 262,144 slots sit about a third
        // of a slot from home on average.
        EXPECT_LE(total, kIds) << "draw " << draw;
    }
}

TEST(IdMapTest, EveryDrawOfTheKeysDiffers) {
    const IdKeys a = drawIdKeys();
    const IdKeys b = drawIdKeys();
    EXPECT_NE(a.mask, b.mask);
    EXPECT_NE(a.factor, b.factor);
    EXPECT_EQ(a.factor % 2, 1u);
}

}  // namespace
