// Writer of the wire encoding.
//
// All integers are little-endian, back to back, with no alignment or padding.
//   u8 | u16 | u32 | u64     1, 2, 4, 8 bytes
//   varstr16                  u16 length n, then n raw bytes
//   varstr32                  u32 length n, then n raw bytes
//   raw                       the bytes alone
// A Pack appends to a BlockBuffer it does not own; its bytes are those from
// the offset where it started to the buffer's end. Every push either appends
// all of its bytes or throws PackError (a varstr whose bytes do not fit keeps
// its already appended length prefix).
//
// A boundary type: the host's pktcore compiles this same header and hands
// the module's records its own writer to marshal into (docs/abi.md, "What
// crosses the boundary"), so the members, their order and the absence of
// virtual functions are part of the binary interface. Tidying them breaks
// every host built before.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

#include "marshal/BlockBuffer.h"

namespace pakt {

class Pack {
public:
    explicit Pack(BlockBuffer& buffer) : m_buffer(buffer), m_offset(buffer.size()) {}
    Pack(const Pack&) = delete;
    Pack& operator=(const Pack&) = delete;
    virtual ~Pack() = default;

    const char* data() const { return m_buffer.data() + m_offset; }
    uint32_t size() const { return static_cast<uint32_t>(m_buffer.size() - m_offset); }
    std::string str() const { return size() ? std::string(data(), size()) : std::string(); }

    Pack& push(const void* bytes, std::size_t n) {
        m_buffer.append(bytes, n);
        return *this;
    }
    Pack& push_uint8(uint8_t v) { return pushLittleEndian(v); }
    Pack& push_uint16(uint16_t v) { return pushLittleEndian(v); }
    Pack& push_uint32(uint32_t v) { return pushLittleEndian(v); }
    Pack& push_uint64(uint64_t v) { return pushLittleEndian(v); }

    Pack& push_varstr(const void* bytes, std::size_t n) {
        if (n > (std::numeric_limits<uint16_t>::max)()) throw PackError("push_varstr: varstr too big");
        push_uint16(static_cast<uint16_t>(n));
        return push(bytes, n);
    }
    Pack& push_varstr(const std::string& s) { return push_varstr(s.data(), s.size()); }

    Pack& push_varstr32(const void* bytes, std::size_t n) {
        if (n > (std::numeric_limits<uint32_t>::max)()) throw PackError("push_varstr32: varstr too big");
        push_uint32(static_cast<uint32_t>(n));
        return push(bytes, n);
    }
    Pack& push_varstr32(const std::string& s) { return push_varstr32(s.data(), s.size()); }

private:
    template <typename T>
    Pack& pushLittleEndian(T v) {
        // On a little-endian host the value's own bytes are its wire bytes.
        if constexpr (std::endian::native == std::endian::little) {
            return push(&v, sizeof v);
        } else {
            unsigned char bytes[sizeof(T)];
            for (std::size_t i = 0; i < sizeof(T); ++i) bytes[i] = static_cast<unsigned char>(v >> (8 * i));
            return push(bytes, sizeof(T));
        }
    }

    BlockBuffer& m_buffer;
    std::size_t m_offset;
};

}  // namespace pakt
