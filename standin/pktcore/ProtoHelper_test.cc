#include <gtest/gtest.h>

#include <string>

#include <zlib.h>

#include "host/Pktcore.h"

namespace {

std::string zip(const std::string& plain) {
    uLongf size = compressBound(static_cast<uLong>(plain.size()));
    std::string out(size, '\0');
    compress(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(plain.data()),
             static_cast<uLong>(plain.size()));
    out.resize(size);
    return out;
}

TEST(ProtoHelperTest, UnZipStringGivesOneWholeStreamOfExactlyTheLengthOrNothing) {
    constexpr unsigned kCap = 64u * 1024 * 1024;
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
        {"exactly the 64 MiB cap", zip(atCap), kCap, atCap},
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

}  // namespace
