#include "marshal/BlockBuffer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace pakt {
namespace {

using ::testing::StrEq;
using ::testing::ThrowsMessage;

// 16-byte blocks whose allocations are counted and can be made to fail.
struct CountingAllocator {
    static constexpr std::size_t BlockSize = 16;
    static inline int allocations = 0;
    static inline int releases = 0;
    static inline bool failNext = false;

    static char* allocate(std::size_t bytes) {
        if (failNext) return nullptr;
        ++allocations;
        return static_cast<char*>(std::malloc(bytes));
    }
    static void deallocate(char* p) {
        ++releases;
        std::free(p);
    }
};

// At most 4 blocks, so that the cap is reachable in a test.
using SmallBuffer = BasicBlockBuffer<CountingAllocator, 4>;

void resetCounts() {
    CountingAllocator::allocations = CountingAllocator::releases = 0;
    CountingAllocator::failNext = false;
}

std::string contents(const auto& buffer) { return buffer.size() ? std::string(buffer.data(), buffer.size()) : ""; }

// Each growth allocates exactly the whole blocks needed, in one allocation,
// and every block allocated is released.
TEST(BlockBufferTest, GrowsToExactlyTheWholeBlocksNeeded) {
    struct Case {
        std::size_t before, appended, blocks;
        int allocations;
    };
    for (const Case& c : {Case{0, 0, 0, 0}, Case{0, 1, 1, 1}, Case{0, 16, 1, 1}, Case{0, 17, 2, 1}, Case{1, 15, 1, 1},
                          Case{1, 16, 2, 2}, Case{16, 17, 3, 2}, Case{32, 1, 3, 2}, Case{5, 40, 3, 2}}) {
        SCOPED_TRACE(std::to_string(c.before) + " + " + std::to_string(c.appended));
        resetCounts();
        {
            SmallBuffer b;
            const std::string first(c.before, 'a'), second(c.appended, 'b');
            b.append(first.data(), first.size());
            b.append(second.data(), second.size());
            EXPECT_EQ(b.blocks(), c.blocks);
            EXPECT_EQ(b.data() == nullptr, c.blocks == 0);
            EXPECT_EQ(contents(b), first + second);
            EXPECT_EQ(CountingAllocator::allocations, c.allocations);
        }
        EXPECT_EQ(CountingAllocator::releases, c.allocations);
    }
}

TEST(BlockBufferTest, FailedGrowthThrowsAllocatesNothingAndKeepsContent) {
    for (const bool atCap : {false, true}) {  // ends with allocation working again
        SCOPED_TRACE(atCap ? "growth beyond the cap" : "allocation fails");
        resetCounts();
        SmallBuffer b;
        const std::string kept = atCap ? std::string(64, 'k') : "0123456789";
        b.append(kept.data(), kept.size());
        const char* storage = b.data();
        const int allocations = CountingAllocator::allocations;
        CountingAllocator::failNext = !atCap;

        EXPECT_THAT([&] { b.append("0123456789", atCap ? 1 : 10); },
                    ThrowsMessage<PackError>(StrEq("append buffer overflow")));
        EXPECT_THAT([&] { b.resize(atCap ? 65 : 40); }, ThrowsMessage<PackError>(StrEq("resize buffer overflow")));
        EXPECT_EQ(b.data(), storage);
        EXPECT_EQ(b.blocks(), atCap ? 4u : 1u);
        EXPECT_EQ(contents(b), kept);
        EXPECT_EQ(CountingAllocator::allocations, allocations);
        EXPECT_EQ(CountingAllocator::releases, 0);
    }
}

TEST(BlockBufferTest, TheWireBufferHas16KiBBlocksAndStopsAtOneGibibyte) {
    BlockBuffer b;
    EXPECT_TRUE(b.increase_capacity(0)) << "room for nothing is always there";
    EXPECT_EQ(b.data(), nullptr);
    b.append("x", 1);
    EXPECT_EQ(b.capacity(), 16384u);
    EXPECT_FALSE(b.increase_capacity(std::size_t{65536} * 16384));  // one byte more than 1 GiB
}

TEST(BlockBufferTest, ResizeZeroFillsGrowthAndShrinkKeepsStorage) {
    SmallBuffer b;
    b.append("abcdefgh", 8);
    const char* storage = b.data();
    b.resize(2);
    EXPECT_EQ(b.data(), storage);
    EXPECT_EQ(contents(b), "ab");
    b.resize(20);  // over the stale "cdefgh" and into a second block
    EXPECT_EQ(b.blocks(), 2u);
    EXPECT_EQ(contents(b), std::string("ab") + std::string(18, '\0'));
}

TEST(BlockBufferTest, AppendFromItsOwnBytesSurvivesGrowth) {
    SmallBuffer b;
    b.append("0123456789abcdef", 16);
    b.append(b.data() + 4, 12);  // storage moves while copying from it
    EXPECT_EQ(contents(b), "0123456789abcdef456789abcdef");
}

}  // namespace
}  // namespace pakt
