#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <string>

#include <zlib.h>

#include "host/Pktcore.h"
#include "standin/pktcore/StandinSession.h"

// The largest single allocation while `t_watching` is set. Replacing the
// global operator new reaches into pktcore only where the executable's
// definition interposes the library's (ELF); elsewhere the check is skipped.
#if !defined(_WIN32)
#define SAPP_WATCH_ALLOCATIONS 1
namespace {
thread_local bool t_watching = false;
thread_local std::size_t t_largest = 0;
}  // namespace
void* operator new(std::size_t size) {
    if (t_watching && size > t_largest) t_largest = size;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#endif

namespace {

std::string zip(const std::string& plain) {
    uLongf size = compressBound(static_cast<uLong>(plain.size()));
    std::string out(size, '\0');
    compress(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(plain.data()),
             static_cast<uLong>(plain.size()));
    out.resize(size);
    return out;
}

class ProtoHelperTest : public ::testing::Test {
protected:
    void TearDown() override { standin::setUnzipLimit(standin::kDefaultUnzipLimit); }
};

TEST_F(ProtoHelperTest, UnZipStringGivesOneWholeStreamOfExactlyTheLengthOrNothing) {
    constexpr unsigned kCap = 100000;
    standin::setUnzipLimit(kCap);
    std::string plain(70000, '\0');
    for (std::size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<char>((i * 7 + i / 13) & 0xFF);
    const std::string good = zip(plain);
    const std::string overCap(kCap + 1, 'z');
    const std::string atCap = overCap.substr(1);
    const struct {
        const char* name;
        std::string data;
        unsigned length;
        std::string expected;
    } cases[] = {
        {"round trip", good, 70000, plain},
        {"one byte", zip("x"), 1, "x"},
        {"exactly the cap", zip(atCap), kCap, atCap},
        {"empty input", "", 70000, ""},
        {"zero length", good, 0, ""},
        {"not zlib", "plain text, not compressed", 70000, ""},
        {"truncated stream", good.substr(0, good.size() - 5), 70000, ""},
        {"length too short", good, 69999, ""},
        {"length too long", good, 70001, ""},
        {"trailing bytes", good + "xyz", 70000, ""},
        {"a whole stream over the cap", zip(overCap), kCap + 1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string data = c.data;
        const std::string result = ProtoHelper::UnZipString(data, c.length);
        ASSERT_EQ(result.size(), c.expected.size());
        EXPECT_TRUE(result == c.expected);
    }
}

TEST_F(ProtoHelperTest, TheDefaultLimitIsFourMiB) {
    const std::string plain(standin::kDefaultUnzipLimit + 1, 'a');
    std::string atLimit = zip(plain.substr(1));
    std::string overLimit = zip(plain);
    EXPECT_EQ(ProtoHelper::UnZipString(atLimit, standin::kDefaultUnzipLimit).size(), standin::kDefaultUnzipLimit);
    EXPECT_EQ(ProtoHelper::UnZipString(overLimit, standin::kDefaultUnzipLimit + 1), "");
}

// The claimed length allocates nothing by itself: memory follows what the
// stream inflates to, and never exceeds the claim.
TEST_F(ProtoHelperTest, UnZipStringAllocatesForWhatInflatesNotForTheClaim) {
#ifndef SAPP_WATCH_ALLOCATIONS
    GTEST_SKIP() << "allocations inside pktcore cannot be watched on this platform";
#else
    standin::setUnzipLimit(0xFFFFFFFFu);
    const auto largestAllocation = [](std::string data, unsigned length, std::size_t& resultSize) {
        t_largest = 0;
        t_watching = true;
        resultSize = ProtoHelper::UnZipString(data, length).size();
        t_watching = false;
        return t_largest;
    };
    std::size_t size = 0;
    // A few bytes claiming 64 MiB, and a 1 MiB stream claiming 3 GiB.
    EXPECT_LT(largestAllocation(zip("tiny"), 64u << 20, size), std::size_t{128} << 10);
    EXPECT_EQ(size, 0u);
    EXPECT_LT(largestAllocation(zip(std::string(1u << 20, 'q')), 3u << 30, size), std::size_t{3} << 20);
    EXPECT_EQ(size, 0u);
    // A stream of exactly its claim grows to the claim and no further.
    constexpr unsigned kLength = 1000003;
    EXPECT_LE(largestAllocation(zip(std::string(kLength, 'q')), kLength, size), std::size_t{kLength} + 1);
    EXPECT_EQ(size, kLength);
#endif
}

}  // namespace
