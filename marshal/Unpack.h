// Reader of the wire encoding (see Pack.h for the byte layout).
//
// An Unpack is a cursor and a remaining length over a byte range it does not
// own; the range must outlive the reader and every pointer pop_fetch_ptr
// returned. Every read goes through one bounds check: when fewer bytes remain
// than the read needs, it throws UnpackError with the message of that read
// ("pop_uint32: not enough data", ...) and leaves cursor and remainder as
// they were. A varstr whose bytes are missing has already consumed its
// length. Only the std::string reads copy; pop_fetch_ptr and the _view
// reads point into the range.
//
// A boundary type: the host's pktcore compiles this same header and hands
// the module's records its own reader to unmarshal from
// (IProtoPacket::unmarshal; docs/abi.md, "What crosses the boundary"), so
// the members, their order and the virtual destructor are part of the
// binary interface. Tidying them breaks every host built before.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "marshal/Errors.h"

namespace pakt {

class Unpack {
public:
    Unpack(const void* data, std::size_t size) : m_pCursor(static_cast<const char*>(data)), m_remaining(size) {}
    Unpack(const Unpack&) = delete;
    Unpack& operator=(const Unpack&) = delete;
    // Virtual, with no other virtual operation, as the host's reader is: the
    // table pointer comes first in the layout both sides share, and a host
    // may derive its own reader and destroy it through this base.
    virtual ~Unpack() = default;

    const char* data() const { return m_pCursor; }
    std::size_t size() const { return m_remaining; }
    bool empty() const { return m_remaining == 0; }

    uint8_t pop_uint8() { return popLittleEndian<uint8_t>("pop_uint8: not enough data"); }
    uint16_t pop_uint16() { return popLittleEndian<uint16_t>("pop_uint16: not enough data"); }
    uint32_t pop_uint32() { return popLittleEndian<uint32_t>("pop_uint32: not enough data"); }
    uint64_t pop_uint64() { return popLittleEndian<uint64_t>("pop_uint64: not enough data"); }

    const char* pop_fetch_ptr(std::size_t n) { return take(n, "pop_fetch_ptr: not enough data"); }

    std::string_view pop_varstr_view() {
        const std::size_t n = pop_uint16();
        return {pop_fetch_ptr(n), n};
    }
    std::string_view pop_varstr32_view() {
        const std::size_t n = pop_uint32();
        return {pop_fetch_ptr(n), n};
    }
    std::string pop_varstr() { return std::string(pop_varstr_view()); }
    std::string pop_varstr32() { return std::string(pop_varstr32_view()); }

private:
    // The one bounds check: returns the start of the next n bytes and skips
    // them, or throws without moving.
    const char* take(std::size_t n, const char* error) {
        if (m_remaining < n) fail(error);
        const char* p = m_pCursor;
        m_pCursor += n;
        m_remaining -= n;
        return p;
    }

    // Kept apart from take, so that the check inlined into every read stays
    // a compare and a branch.
    [[noreturn]] static void fail(const char* error) { throw UnpackError(error); }

    template <typename T>
    T popLittleEndian(const char* error) {
        const char* bytes = take(sizeof(T), error);
        T v = 0;
        // On a little-endian host the wire bytes are the value's own bytes.
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(&v, bytes, sizeof v);
        } else {
            for (std::size_t i = 0; i < sizeof(T); ++i) {
                v = static_cast<T>(v | static_cast<T>(T(static_cast<unsigned char>(bytes[i])) << (8 * i)));
            }
        }
        return v;
    }

    const char* m_pCursor;
    std::size_t m_remaining;
};

}  // namespace pakt
