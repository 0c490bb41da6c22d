// Where each field of a record lies in its bytes: the same field list walked
// once more over the bytes, noting every field's path and byte range. Paths
// name nested fields by their record's field names, container elements by
// index ("idSet[2]") and map entries by key ("apps.7"); an entry's range
// holds its key.
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
#include <vector>

#include "tools/sapp-host/FieldJson.h"

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

class SpanRecorder {
public:
    SpanRecorder(pakt::Unpack& up, std::size_t total, std::string prefix, std::vector<FieldSpan>& out)
        : m_up(up), m_total(total), m_prefix(std::move(prefix)), m_out(out) {}

    template <typename E, typename T> void operator()(E, const char* name, T& value) {
        const std::string path = m_prefix + name;
        const std::size_t begin = offset();
        if constexpr (std::is_same_v<typename E::Member, std::string>) {
            // A length, then that many bytes.
            constexpr std::size_t width = std::is_same_v<E, pakt::encoding::VarStr16> ? 2 : 4;
            need(path, width, width == 2 ? "its length (a u16)" : "its length (a u32)");
            pakt::Unpack peek(m_up.data(), width);
            const std::size_t length = width == 2 ? peek.pop_uint16() : peek.pop_uint32();
            if (m_up.size() - width < length) {
                const std::size_t left = m_up.size() - width;
                throw DecodeError(path + ": " + byteCount(length) + ", as its length at byte " +
                                  std::to_string(begin) + " says; " + std::to_string(left) + " left, " +
                                  std::to_string(length - left) + " missing");
            }
        } else {
            need(path, sizeof(typename E::Member), encodingName<E>());
        }
        E::unpack(m_up, value);
        m_out.push_back({path, begin, offset()});
    }
    template <typename T> void operator()(const char* name, T& value) { field(m_prefix + name, value); }

private:
    std::size_t offset() const { return m_total - m_up.size(); }

    // Throws DecodeError unless `n` bytes are left for `what` of `path`.
    void need(const std::string& path, std::size_t n, const char* what) const {
        if (m_up.size() >= n) return;
        throw DecodeError(path + ": " + what + " at byte " + std::to_string(offset()) + " needs " + byteCount(n) +
                          "; " + std::to_string(m_up.size()) + " left, " + std::to_string(n - m_up.size()) +
                          " missing");
    }

    template <typename T> void field(const std::string& path, T& value) {
        const std::size_t begin = offset();
        if constexpr (std::is_same_v<T, uint32_t>) {
            need(path, 4, "a u32");
            value = m_up.pop_uint32();
        } else if constexpr (std::is_same_v<T, uint64_t>) {
            need(path, 8, "a u64");
            value = m_up.pop_uint64();
        } else if constexpr (IsVector<T>::value || IsSet<T>::value) {
            need(path, 4, "its count (a u32)");
            const uint32_t count = m_up.pop_uint32();
            for (uint32_t i = 0; i < count; ++i) {
                typename T::value_type element{};
                field(path + "[" + std::to_string(i) + "]", element);
            }
        } else if constexpr (IsMap<T>::value) {
            need(path, 4, "its count (a u32)");
            const uint32_t count = m_up.pop_uint32();
            for (uint32_t i = 0; i < count; ++i) {
                const std::size_t entry = offset();
                need(path + "[" + std::to_string(i) + "]", 4, "the key (a u32)");
                const std::string at = path + "." + std::to_string(m_up.pop_uint32());
                typename T::mapped_type element{};
                field(at, element);
                m_out.back().begin = entry;
            }
        } else {
            SpanRecorder inner(m_up, m_total, path + ".", m_out);
            T::fields(value, inner);
        }
        m_out.push_back({path, begin, offset()});
    }

    pakt::Unpack& m_up;
    std::size_t m_total;
    std::string m_prefix;
    std::vector<FieldSpan>& m_out;
};

}  // namespace detail

// The spans of record R's fields in `bytes`, innermost first within each
// field. Bytes that run short raise DecodeError.
template <typename R> std::vector<FieldSpan> fieldSpansOf(std::string_view bytes) {
    std::vector<FieldSpan> spans;
    pakt::Unpack up(bytes.data(), bytes.size());
    detail::SpanRecorder recorder(up, bytes.size(), "", spans);
    R record;
    R::fields(record, recorder);
    return spans;
}

}  // namespace sapphost
