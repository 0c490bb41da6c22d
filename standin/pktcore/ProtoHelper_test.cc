#include <gtest/gtest.h>

#include <string>

#include <zlib.h>

#include "host/Pktcore.h"

namespace {

std::string zip(const std::string& plain) {
    uLongf size = compressBound(static_cast<uLong>(plain.size()));
    std::string out(size, '\0');
    EXPECT_EQ(compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(plain.data()),
                        static_cast<uLong>(plain.size()), Z_BEST_COMPRESSION),
              Z_OK);
    out.resize(size);
    return out;
}

std::string pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + i / 13) & 0xFF);
    return s;
}

TEST(ProtoHelperTest, GetUid32KeepsTheLow32Bits) {
    EXPECT_EQ(ProtoHelper::getUid32(0x123456789ABCDEF0ull), 0x9ABCDEF0u);
    EXPECT_EQ(ProtoHelper::getUid32(42), 42u);
    EXPECT_EQ(ProtoHelper::getUid32(~0ull), 0xFFFFFFFFu);
}

TEST(ProtoHelperTest, UnZipStringRestoresTheBytes) {
    for (std::size_t n : {std::size_t{1}, std::size_t{300}, std::size_t{70000}}) {
        SCOPED_TRACE(n);
        const std::string plain = pattern(n);
        std::string zipped = zip(plain);
        EXPECT_EQ(ProtoHelper::UnZipString(zipped, static_cast<unsigned>(n)), plain);
    }
}

TEST(ProtoHelperTest, UnZipStringGivesEmptyOnEveryFailure) {
    const std::string plain = pattern(1000);
    const std::string good = zip(plain);
    std::string corrupted = good;
    corrupted[good.size() / 2] = static_cast<char>(corrupted[good.size() / 2] ^ 0x55);
    std::string badChecksum = good;
    badChecksum.back() = static_cast<char>(badChecksum.back() ^ 1);

    struct Case {
        const char* name;
        std::string data;
        unsigned length;
    };
    const Case cases[] = {
        {"empty input", "", 1000},
        {"zero length", good, 0},
        {"not zlib at all", "plain text, not compressed", 1000},
        {"corrupted middle", corrupted, 1000},
        {"bad checksum", badChecksum, 1000},
        {"truncated stream", good.substr(0, good.size() - 5), 1000},
        {"only the header", good.substr(0, 2), 1000},
        {"length too short", good, 999},
        {"length too long", good, 1001},
        {"trailing bytes", good + "xyz", 1000},
        {"over the 64 MiB cap", good, 64u * 1024 * 1024 + 1},
        {"largest length", good, 0xFFFFFFFFu},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string data = c.data;
        EXPECT_EQ(ProtoHelper::UnZipString(data, c.length), "");
    }
}

TEST(ProtoHelperTest, UnZipStringAcceptsExactlyTheCap) {
    const std::string plain(64u * 1024 * 1024, 'z');
    std::string zipped = zip(plain);
    EXPECT_EQ(ProtoHelper::UnZipString(zipped, 64u * 1024 * 1024), plain);
}

}  // namespace
