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
#include <cstring>
#include <functional>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <typeinfo>
#include <utility>
#include <vector>

#include "marshal/Fields.h"
#include "marshal/Marshallable.h"
#include "marshal/ReadCheck.h"

namespace sapp::testing {

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

inline Seg text(std::string_view s) { return {Prim::Bytes, std::vector<uint8_t>(s.begin(), s.end())}; }

inline std::string bytesOf(const Wire& w) {
    std::string out;
    for (const Seg& s : w) out.append(s.bytes.begin(), s.bytes.end());
    return out;
}

inline std::string hex(const std::string& s) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : s) {
        if (!out.empty()) out += ' ';
        out += {digits[c >> 4], digits[c & 15]};
    }
    return out;
}

inline std::string encode(const pakt::Marshallable& m) {
    pakt::BlockBuffer buffer;
    pakt::Pack p(buffer);
    m.marshal(p);
    return p.str();
}

inline void decodeInto(const std::string& in, pakt::Marshallable& m) {
    pakt::Unpack up(in.data(), in.size());
    m.unmarshal(up);
}

// Every scalar of every listed record type starts at zero, every container
// and string empty: a record default-constructed over 0xAB-filled storage
// encodes as zero bytes only.
template <typename... R>
void expectFreshRecordsEncodeAsZeros() {
    ([] {
        SCOPED_TRACE(typeid(R).name());
        alignas(R) unsigned char storage[sizeof(R)];
        std::memset(storage, 0xAB, sizeof storage);
        const R* r = new (storage) R;
        const std::string e = encode(*r);
        r->~R();
        EXPECT_EQ(hex(e), hex(std::string(e.size(), '\0')));
    }(), ...);
}

struct WireCase {
    std::string name;
    Wire wire;
    // Decodes from the reader; with `verify` set also checks what it decoded
    // and returns its re-encoding (nullopt for a format that is only read).
    std::function<std::optional<std::string>(pakt::Unpack&, bool verify)> decode;
    // For a record with a field list: what checking the bytes without
    // building anything says (pakt::readable and pakt::checkReadable), as
    // the message of the read that runs short or "(no error)"; the two
    // must agree.
    std::function<std::string(std::string_view)> check;
};

template <typename R>
std::string checkReadable(std::string_view bytes) {
    const bool readable = pakt::readable<R>(bytes);
    try {
        pakt::checkReadable<R>(bytes);
    } catch (const pakt::UnpackError& e) {
        return readable ? std::string("readable, yet checkReadable threw ") + e.what() : e.what();
    }
    return readable ? "(no error)" : "not readable, yet checkReadable threw nothing";
}

// A record case: `fill` sets the fields the table annotates. The decoded
// record must equal the filled one; as records have no operator==, they are
// compared through their encodings, which the driver pins to the table.
template <typename R>
WireCase recordCase(std::string name, Wire wire, std::function<void(R&)> fill) {
    return {std::move(name), std::move(wire), [fill](pakt::Unpack& up, bool verify) -> std::optional<std::string> {
                R r, expected;
                r.unmarshal(up);
                if (!verify) return std::nullopt;
                fill(expected);
                EXPECT_EQ(hex(encode(r)), hex(encode(expected))) << "decoded fields differ from the annotated ones";
                return encode(r);
            },
            checkReadable<R>};
}

// For every case: decodes the exact bytes (all consumed, fields checked,
// re-encoded to the same bytes), decodes them followed by junk (the junk is
// left unread), and decodes every truncated prefix, which must fail with the
// message of the segment the prefix ends in; a record's check without
// building must pass the bytes and fail each prefix with that message too. Prefixes deep inside a byte run
// longer than 64 all fail alike; its first and last 16 stand for it.
inline void expectWireCases(const std::vector<WireCase>& cases) {
    static const char* const kShortRead[] = {"pop_uint8: not enough data", "pop_uint16: not enough data",
                                             "pop_uint32: not enough data", "pop_uint64: not enough data",
                                             "pop_fetch_ptr: not enough data"};  // indexed by Prim
    for (const WireCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string bytes = bytesOf(c.wire);
        for (const std::string& junk : {std::string(), std::string("\x5a\x00\xa5", 3)}) {
            SCOPED_TRACE(junk.empty() ? "exact bytes" : "with trailing bytes");
            const std::string in = bytes + junk;
            pakt::Unpack up(in.data(), in.size());
            EXPECT_EQ(hex(c.decode(up, true).value_or(bytes)), hex(bytes));
            EXPECT_EQ(up.size(), junk.size());
            if (c.check) {
                EXPECT_EQ(c.check(in), "(no error)");
            }
        }

        int failures = 0;
        std::size_t start = 0;
        for (const Seg& s : c.wire) {
            const std::size_t end = start + s.bytes.size();
            for (std::size_t n = start; n < end && failures < 3; ++n) {
                if (s.bytes.size() > 64 && n >= start + 16 && n + 16 < end) continue;
                // An exact-size copy lets the sanitizers see any read past the end.
                const std::vector<char> prefix(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
                pakt::Unpack up(prefix.data(), prefix.size());
                std::string got = "(no error)";
                try {
                    c.decode(up, false);
                } catch (const pakt::UnpackError& e) {
                    got = e.what();
                }
                const std::string expected = kShortRead[static_cast<int>(s.prim)];
                const std::string checked = c.check ? c.check(std::string_view(prefix.data(), prefix.size())) : expected;
                if (got == expected && checked == expected) continue;
                ++failures;
                ADD_FAILURE() << "prefix of " << n << " bytes: got \"" << got << "\", checked \"" << checked
                              << "\", expected \"" << expected << "\"";
            }
            start = end;
        }
    }
}

}  // namespace sapp::testing
