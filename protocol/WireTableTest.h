// Test support: wire encodings written by hand as tables of primitive reads.
//
// A Wire lists, in order, every primitive a reader makes when it decodes a
// value (a u32 count, a u16 string length, the string's bytes, ...) with the
// bytes of that read. A table therefore gives both the exact encoding and,
// for any truncated prefix, the read that runs short: the first segment that
// does not fit entirely in the prefix.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "marshal/Marshallable.h"

namespace wiretest {

enum class Prim { U8, U16, U32, U64, Bytes };

struct Seg {
    Prim prim;
    std::vector<uint8_t> bytes;
};

using Wire = std::vector<Seg>;

inline Wire cat(std::initializer_list<Wire> parts) {
    Wire out;
    for (const Wire& w : parts) out.insert(out.end(), w.begin(), w.end());
    return out;
}

// Raw bytes of a string's text.
inline Seg text(std::string_view s) { return {Prim::Bytes, std::vector<uint8_t>(s.begin(), s.end())}; }

inline std::string bytesOf(const Wire& w) {
    std::string out;
    for (const Seg& s : w) out.append(s.bytes.begin(), s.bytes.end());
    return out;
}

// Width of an integer primitive; 0 for a byte run.
inline std::size_t widthOf(Prim p) {
    switch (p) {
        case Prim::U8: return 1;
        case Prim::U16: return 2;
        case Prim::U32: return 4;
        case Prim::U64: return 8;
        case Prim::Bytes: return 0;
    }
    return 0;
}

inline const char* shortReadMessage(Prim p) {
    switch (p) {
        case Prim::U8: return "pop_uint8: not enough data";
        case Prim::U16: return "pop_uint16: not enough data";
        case Prim::U32: return "pop_uint32: not enough data";
        case Prim::U64: return "pop_uint64: not enough data";
        case Prim::Bytes: return "pop_fetch_ptr: not enough data";
    }
    return "";
}

// Message expected when only the first `prefix` bytes of `w` are available.
inline std::string expectedShortRead(const Wire& w, std::size_t prefix) {
    std::size_t end = 0;
    for (const Seg& s : w) {
        end += s.bytes.size();
        if (end > prefix) return shortReadMessage(s.prim);
    }
    return "(nothing runs short)";
}

// Prefixes that end deep inside a long byte run all fail the same way; the
// first and last 16 of the run stand for the rest.
inline bool representativePrefix(const Wire& w, std::size_t prefix) {
    std::size_t start = 0;
    for (const Seg& s : w) {
        const std::size_t end = start + s.bytes.size();
        if (prefix < end) return s.bytes.size() <= 64 || prefix < start + 16 || prefix + 16 >= end;
        start = end;
    }
    return true;
}

struct WireCase {
    std::string name;
    Wire wire;
    // Decodes a fresh value from the reader. With `verify` set it also checks
    // the decoded fields and returns the value's re-encoding, or nullopt for
    // a format that is only ever read.
    std::function<std::optional<std::string>(pakt::Unpack&, bool verify)> decode;
};

inline std::string encode(const pakt::Marshallable& m) {
    pakt::BlockBuffer buffer;
    pakt::Pack p(buffer);
    m.marshal(p);
    return p.str();
}

template <typename R>
WireCase recordCase(std::string name, Wire wire, std::function<void(const R&)> check) {
    return {std::move(name), std::move(wire),
            [check](pakt::Unpack& up, bool verify) -> std::optional<std::string> {
                R r;
                r.unmarshal(up);
                if (!verify) return std::nullopt;
                check(r);
                return encode(r);
            }};
}

inline std::string hex(const std::string& s) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : s) {
        if (!out.empty()) out += ' ';
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

// For every case: decodes the exact bytes (all consumed, fields checked,
// re-encoded to the same bytes), decodes them followed by junk (the junk is
// left unread), and decodes every truncated prefix (see representativePrefix),
// which must fail with the message of the primitive that runs short.
inline void expectWireCases(const std::vector<WireCase>& cases) {
    for (const WireCase& c : cases) {
        SCOPED_TRACE(c.name);
        for (const Seg& s : c.wire) {
            if (s.prim != Prim::Bytes) {
                ASSERT_EQ(s.bytes.size(), widthOf(s.prim)) << "malformed table";
            }
        }
        const std::string bytes = bytesOf(c.wire);

        for (const std::string& junk : {std::string(), std::string("\x5a\x00\xa5", 3)}) {
            SCOPED_TRACE(junk.empty() ? "exact bytes" : "with trailing bytes");
            const std::string in = bytes + junk;
            pakt::Unpack up(in.data(), in.size());
            const std::optional<std::string> reencoded = c.decode(up, true);
            EXPECT_EQ(up.size(), junk.size());
            if (reencoded) {
                EXPECT_EQ(hex(*reencoded), hex(bytes));
            }
        }

        int failures = 0;
        for (std::size_t n = 0; n < bytes.size() && failures < 3; ++n) {
            if (!representativePrefix(c.wire, n)) continue;
            // An exact-size copy lets the sanitizers see any read past the end.
            const std::vector<char> prefix(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
            pakt::Unpack up(prefix.data(), prefix.size());
            std::string got = "(no error)";
            try {
                c.decode(up, false);
            } catch (const pakt::UnpackError& e) {
                got = e.what();
            }
            const std::string expected = expectedShortRead(c.wire, n);
            if (got != expected) {
                ++failures;
                ADD_FAILURE() << "prefix of " << n << " bytes: got \"" << got << "\", expected \"" << expected << "\"";
            }
        }
    }
}

}  // namespace wiretest
