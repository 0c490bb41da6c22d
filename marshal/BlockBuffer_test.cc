#include "marshal/BlockBuffer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace pakt {
namespace {

using ::testing::StrEq;
using ::testing::ThrowsMessage;

// 16-byte blocks, at most 4 of them: the cap is reachable in a test.
using SmallBuffer = BasicBlockBuffer<default_block_allocator_malloc_free<16>, 4>;

// Counts allocations and can be told to fail them.
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
using CountedBuffer = BasicBlockBuffer<CountingAllocator, 4>;

template <typename Buffer>
std::string contents(const Buffer& b) {
    return b.size() ? std::string(b.data(), b.size()) : std::string();
}

template <typename Buffer>
void appendString(Buffer& b, const std::string& s) {
    b.append(s.data(), s.size());
}

class CountedBufferTest : public ::testing::Test {
protected:
    void SetUp() override {
        CountingAllocator::allocations = 0;
        CountingAllocator::releases = 0;
        CountingAllocator::failNext = false;
    }
};

TEST(BlockBufferTest, NewBufferHasNoStorageAndZeroBytesAllocateNothing) {
    BlockBuffer b;
    b.append("x", 0);
    EXPECT_TRUE(b.increase_capacity(0));
    EXPECT_EQ(b.data(), nullptr);
    EXPECT_EQ(b.size(), 0u);
    EXPECT_EQ(b.blocks(), 0u);
}

TEST(BlockBufferTest, GrowsToExactlyTheWholeBlocksNeeded) {
    struct Case {
        std::size_t before;
        std::size_t appended;
        std::size_t blocks;
    };
    for (const Case& c : {Case{0, 1, 1}, Case{0, 16384, 1}, Case{0, 16385, 2}, Case{1, 16383, 1},
                          Case{1, 16384, 2}, Case{16384, 16385, 3}, Case{100, 40000, 3}}) {
        SCOPED_TRACE(std::to_string(c.before) + " + " + std::to_string(c.appended));
        BlockBuffer b;
        const std::string first(c.before, 'a');
        std::string second(c.appended, 'b');
        second.back() = 'z';
        appendString(b, first);
        appendString(b, second);
        EXPECT_EQ(b.blocks(), c.blocks);
        EXPECT_EQ(b.capacity(), c.blocks * 16384);
        EXPECT_EQ(contents(b), first + second);
    }
}

TEST(BlockBufferTest, RefusesToGrowPastOneGibibyteWithoutAllocating) {
    BlockBuffer b;
    appendString(b, "kept");
    const char* storage = b.data();
    EXPECT_FALSE(b.increase_capacity(std::size_t{65536} * 16384 - 4 + 1));
    EXPECT_THAT([&] { b.resize(std::size_t{65536} * 16384 + 1); },
                ThrowsMessage<PackError>(StrEq("resize buffer overflow")));
    EXPECT_EQ(b.data(), storage);
    EXPECT_EQ(b.blocks(), 1u);
    EXPECT_EQ(contents(b), "kept");
}

TEST(BlockBufferTest, FullBufferRejectsOneMoreByteAndKeepsContent) {
    SmallBuffer b;
    std::string full;
    for (int i = 0; i < 64; ++i) full += static_cast<char>('A' + i % 26);
    appendString(b, full);
    ASSERT_EQ(b.blocks(), 4u);
    const char* storage = b.data();

    EXPECT_THAT([&] { b.append("!", 1); }, ThrowsMessage<PackError>(StrEq("append buffer overflow")));
    EXPECT_THAT([&] { b.resize(65); }, ThrowsMessage<PackError>(StrEq("resize buffer overflow")));
    EXPECT_EQ(b.data(), storage);
    EXPECT_EQ(b.blocks(), 4u);
    EXPECT_EQ(contents(b), full);
}

TEST_F(CountedBufferTest, SmallAppendsReallocateOncePerBlockAndReleaseEverything) {
    {
        CountedBuffer b;
        std::string expected;
        for (int i = 0; i < 64; ++i) {
            const char c = static_cast<char>(i);
            b.append(&c, 1);
            expected += c;
        }
        EXPECT_EQ(CountingAllocator::allocations, 4);
        EXPECT_EQ(CountingAllocator::releases, 3);
        EXPECT_EQ(contents(b), expected);
    }
    EXPECT_EQ(CountingAllocator::releases, 4);
}

TEST_F(CountedBufferTest, FailedAllocationThrowsAndKeepsContent) {
    CountedBuffer b;
    appendString(b, "0123456789");
    const char* storage = b.data();
    CountingAllocator::failNext = true;

    EXPECT_THAT([&] { appendString(b, "0123456789"); },
                ThrowsMessage<PackError>(StrEq("append buffer overflow")));
    EXPECT_THAT([&] { b.resize(40); }, ThrowsMessage<PackError>(StrEq("resize buffer overflow")));
    EXPECT_EQ(b.data(), storage);
    EXPECT_EQ(b.blocks(), 1u);
    EXPECT_EQ(contents(b), "0123456789");
    EXPECT_EQ(CountingAllocator::releases, 0);
}

TEST(BlockBufferTest, ResizeZeroFillsGrowthAndShrinkKeepsStorage) {
    SmallBuffer b;
    appendString(b, "abcdefgh");
    const char* storage = b.data();

    b.resize(2);
    EXPECT_EQ(b.data(), storage);
    EXPECT_EQ(b.blocks(), 1u);
    EXPECT_EQ(contents(b), "ab");

    b.resize(20);  // over the stale "cdefgh" and into a second block
    EXPECT_EQ(b.blocks(), 2u);
    EXPECT_EQ(contents(b), std::string("ab") + std::string(18, '\0'));
}

TEST(BlockBufferTest, AppendFromItsOwnBytesSurvivesGrowth) {
    SmallBuffer b;
    appendString(b, "0123456789abcdef");
    ASSERT_EQ(b.blocks(), 1u);
    b.append(b.data() + 4, 12);  // storage moves while copying from it
    EXPECT_EQ(contents(b), "0123456789abcdef456789abcdef");
}

}  // namespace
}  // namespace pakt
