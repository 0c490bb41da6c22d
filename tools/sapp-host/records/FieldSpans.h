// Where each field of a record lies in its bytes: the record read once more,
// by the module's own reading walk (marshal/Fields.h), with a hook that
// notes every field's path and byte range. Paths name nested fields by their
// record's field names, container elements by index ("idSet[2]") and map
// entries by key ("apps.7"); an entry's range holds its key.
//
// Bytes that run short are reported in the record's words: the field, what
// of it was being read, at which byte, and how many bytes were missing
// ("appIds[3]: a u32 at byte 42 needs 4 bytes; 2 left, 2 missing"), where
// the reader itself only names its operation ("pop_uint32: not enough data").
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "marshal/Fields.h"

namespace sapphost {

struct FieldSpan {
    std::string path;
    std::size_t begin = 0;  // offset of the first byte
    std::size_t end = 0;    // offset after the last byte
};

// Bytes of a record that run short, described by field (see above). An
// UnpackError, so that whoever catches the reader's errors catches it too.
class DecodeError : public pakt::UnpackError {
public:
    using pakt::UnpackError::UnpackError;
};

namespace detail {

inline std::string byteCount(std::size_t n) { return std::to_string(n) + (n == 1 ? " byte" : " bytes"); }

// "a u32", "a bool", ...: what an encoding reads, for messages.
template <typename E> const char* encodingName() {
    using M = typename E::Member;
    if constexpr (std::is_same_v<M, bool>) return "a bool";
    if constexpr (std::is_same_v<M, uint8_t>) return "a u8";
    if constexpr (std::is_same_v<M, uint16_t>) return "a u16";
    if constexpr (std::is_same_v<M, uint32_t>) return "a u32";
    if constexpr (std::is_same_v<M, uint64_t>) return "a u64";
    return "a byte string";
}

// The hook (marshal/Fields.h) that follows a reading walk over a record's
// bytes and notes the span of every field and element it sees end.
class SpanHook {
public:
    explicit SpanHook(const char* start) : m_start(start) {}

    void field(const pakt::Unpack& at, const char* name) {
        begin(at, m_open.empty() ? std::string(name) : m_open.back().path + "." + name);
    }
    void element(const pakt::Unpack& at, uint32_t index) {
        begin(at, m_open.back().path + "[" + std::to_string(index) + "]");
    }
    // A map entry, begun as an element, is named by its key: "apps.7".
    void key(const pakt::Unpack&, uint32_t key) {
        m_open.back().path = m_open[m_open.size() - 2].path + "." + std::to_string(key);
    }
    void end(const pakt::Unpack& at) {
        m_spans.push_back({std::move(m_open.back().path), m_open.back().begin, offset(at)});
        m_open.pop_back();
    }

    template <typename E> void beforeValue(const pakt::Unpack& at, E) const {
        if constexpr (std::is_same_v<typename E::Member, std::string>) {
            // A length, then that many bytes.
            constexpr std::size_t width = std::is_same_v<E, pakt::encoding::VarStr16> ? 2 : 4;
            need(at, width, width == 2 ? "its length (a u16)" : "its length (a u32)");
            pakt::Unpack peek(at.data(), width);
            const std::size_t length = width == 2 ? peek.pop_uint16() : peek.pop_uint32();
            const std::size_t left = at.size() - width;
            if (left >= length) return;
            throw DecodeError(m_open.back().path + ": " + byteCount(length) + ", as its length at byte " +
                              std::to_string(offset(at)) + " says; " + std::to_string(left) + " left, " +
                              std::to_string(length - left) + " missing");
        } else {
            need(at, sizeof(typename E::Member), encodingName<E>());
        }
    }
    void beforeCount(const pakt::Unpack& at) const { need(at, 4, "its count (a u32)"); }
    void beforeKey(const pakt::Unpack& at) const { need(at, 4, "the key (a u32)"); }

    std::vector<FieldSpan> take() { return std::move(m_spans); }

private:
    struct Open {
        std::string path;
        std::size_t begin;
    };

    std::size_t offset(const pakt::Unpack& at) const { return static_cast<std::size_t>(at.data() - m_start); }
    void begin(const pakt::Unpack& at, std::string path) { m_open.push_back({std::move(path), offset(at)}); }

    // Throws DecodeError unless `n` bytes are left for `what` of the field or
    // element begun last.
    void need(const pakt::Unpack& at, std::size_t n, const char* what) const {
        if (at.size() >= n) return;
        throw DecodeError(m_open.back().path + ": " + what + " at byte " + std::to_string(offset(at)) + " needs " +
                          byteCount(n) + "; " + std::to_string(at.size()) + " left, " +
                          std::to_string(n - at.size()) + " missing");
    }

    const char* m_start;
    std::vector<Open> m_open;
    std::vector<FieldSpan> m_spans;
};

}  // namespace detail

// The spans of record R's fields in `bytes`, innermost first within each
// field. Bytes that run short raise DecodeError.
template <typename R> std::vector<FieldSpan> fieldSpansOf(std::string_view bytes) {
    detail::SpanHook hook(bytes.data());
    pakt::HookedUnpack up(bytes.data(), bytes.size(), hook);
    R record;
    pakt::unpackFields(record, up);
    return hook.take();
}

}  // namespace sapphost
