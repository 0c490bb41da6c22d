// Where each field of a record lies in its bytes: the same field list walked
// once more over the bytes, noting every field's path and byte range. Paths
// name nested fields by their record's field names, container elements by
// index ("idSet[2]") and map entries by key ("apps.7"); an entry's range
// holds its key.
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

namespace detail {

class SpanRecorder {
public:
    SpanRecorder(pakt::Unpack& up, std::size_t total, std::string prefix, std::vector<FieldSpan>& out)
        : m_up(up), m_total(total), m_prefix(std::move(prefix)), m_out(out) {}

    template <typename E, typename T> void operator()(E, const char* name, T& value) {
        const std::size_t begin = offset();
        E::unpack(m_up, value);
        m_out.push_back({m_prefix + name, begin, offset()});
    }
    template <typename T> void operator()(const char* name, T& value) { field(m_prefix + name, value); }

private:
    std::size_t offset() const { return m_total - m_up.size(); }

    template <typename T> void field(const std::string& path, T& value) {
        const std::size_t begin = offset();
        if constexpr (std::is_same_v<T, uint32_t>) {
            value = m_up.pop_uint32();
        } else if constexpr (std::is_same_v<T, uint64_t>) {
            value = m_up.pop_uint64();
        } else if constexpr (IsVector<T>::value || IsSet<T>::value) {
            const uint32_t count = m_up.pop_uint32();
            for (uint32_t i = 0; i < count; ++i) {
                typename T::value_type element{};
                field(path + "[" + std::to_string(i) + "]", element);
            }
        } else if constexpr (IsMap<T>::value) {
            const uint32_t count = m_up.pop_uint32();
            for (uint32_t i = 0; i < count; ++i) {
                const std::size_t entry = offset();
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
// field. Bytes that do not decode raise pakt::UnpackError.
template <typename R> std::vector<FieldSpan> fieldSpansOf(std::string_view bytes) {
    std::vector<FieldSpan> spans;
    pakt::Unpack up(bytes.data(), bytes.size());
    detail::SpanRecorder recorder(up, bytes.size(), "", spans);
    R record;
    R::fields(record, recorder);
    return spans;
}

}  // namespace sapphost
