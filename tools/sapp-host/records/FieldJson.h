// Records as JSON objects, by walking their field lists.
//
// Fields are named as in the records' field lists, in list (wire) order;
// unsigned integers are JSON integers (u64 exactly), bools true and false,
// byte strings lowercase hex, wide strings UTF-8, vectors and sets arrays,
// maps objects keyed by the decimal key, nested records objects. Reading
// JSON into a record leaves omitted fields as they are (0 or empty in a
// fresh record) and rejects keys the list does not have.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "marshal/Fields.h"
#include "tools/sapp-host/records/JsonSupport.h"

namespace sapphost {

template <typename T> Json toJson(const T& value);
template <typename T> void fromJson(const Json& in, T& value, const std::string& where);

// Adds the fields it is walked over to a JSON object, after those it holds
// (a field list names each field once).
class JsonWriter {
public:
    explicit JsonWriter(Json& out) : m_out(out) {}
    template <typename E, typename T> void operator()(E, const char* name, const T& field) { (*this)(name, field); }
    template <typename T> void operator()(const char* name, const T& field) { appendMember(m_out, name, toJson(field)); }

private:
    Json& m_out;
};

// Counts the fields it is walked over.
struct FieldCounter {
    std::size_t count = 0;
    template <typename E, typename T> void operator()(E, const char*, const T&) { ++count; }
    template <typename T> void operator()(const char*, const T&) { ++count; }
};

// Reads the fields it is walked over from a JSON object, each where it is
// given, and remembers their names.
class JsonReader {
public:
    JsonReader(const Json& in, const std::string& where) : m_in(requireObject(in, where)), m_where(where) {}

    template <typename E, typename T> void operator()(E, const char* name, T& field) { (*this)(name, field); }
    template <typename T> void operator()(const char* name, T& field) {
        m_names.push_back(name);
        if (const auto it = m_in.find(name); it != m_in.end()) fromJson(*it, field, m_where + "." + name);
    }

    const std::vector<std::string_view>& names() const { return m_names; }

    // Rejects a key of the object that is not one of the fields walked.
    void finish() const {
        for (const auto& [key, value] : m_in.items()) {
            if (std::find(m_names.begin(), m_names.end(), key) != m_names.end()) continue;
            std::string list;
            for (const std::string_view n : m_names) list += (list.empty() ? "" : ", ") + std::string(n);
            throw InputError(m_where + ": unknown field \"" + key + "\" (" + didYouMeanName(key, m_names) +
                             "fields: " + list + ")");
        }
    }

private:
    const Json& m_in;
    std::string m_where;
    std::vector<std::string_view> m_names;
};

template <typename T> Json toJson(const T& value) {
    if constexpr (std::is_same_v<T, bool>) {
        return value;
    } else if constexpr (std::is_integral_v<T> && std::is_unsigned_v<T>) {
        return static_cast<uint64_t>(value);
    } else if constexpr (std::is_same_v<T, std::string>) {
        return toHex(value);
    } else if constexpr (std::is_same_v<T, std::wstring>) {
        return wideToUtf8(value);
    } else if constexpr (pakt::KeyedContainer<T>) {
        Json out = Json::object();
        // A map's keys are distinct.
        for (const auto& [key, element] : value) appendMember(out, std::to_string(key), toJson(element));
        return out;
    } else if constexpr (pakt::Container<T>) {
        Json out = Json::array();
        out.get_ref<Json::array_t&>().reserve(value.size());
        for (const auto& element : value) out.push_back(toJson(element));
        return out;
    } else {
        static_assert(pakt::HasFields<T>, "a record without a field list");
        // Sized once: a record of thousands of elements holds as many
        // objects, and one grown by doubling holds room for more members.
        FieldCounter counter;
        T::fields(value, counter);
        Json out = Json::object();
        out.get_ref<Json::object_t&>().reserve(counter.count);
        JsonWriter writer(out);
        T::fields(value, writer);
        return out;
    }
}

template <typename T> void fromJson(const Json& in, T& value, const std::string& where) {
    if constexpr (std::is_same_v<T, bool>) {
        value = toBool(in, where);
    } else if constexpr (std::is_integral_v<T> && std::is_unsigned_v<T>) {
        value = toUnsigned<T>(in, where);
    } else if constexpr (std::is_same_v<T, std::string>) {
        value = toBytes(in, where);
    } else if constexpr (pakt::KeyedContainer<T>) {
        requireObject(in, where);
        for (const auto& [key, element] : in.items()) {
            const uint32_t k = parseDecimalU32(key, where);
            pakt::ElementOf<T> v{};
            fromJson(element, v, where + "." + key);
            value.emplace(k, std::move(v));
        }
    } else if constexpr (pakt::Container<T>) {
        if (!in.is_array()) throw InputError(where + ": expected an array, got " + describeType(in));
        for (std::size_t i = 0; i < in.size(); ++i) {
            pakt::ElementOf<T> element{};
            fromJson(in[i], element, where + "[" + std::to_string(i) + "]");
            value.insert(value.end(), std::move(element));
        }
    } else {
        static_assert(pakt::HasFields<T>, "a record without a field list");
        JsonReader reader(in, where);
        T::fields(value, reader);
        reader.finish();
    }
}

// A check's pattern for a value of type T (the checks of a scenario step):
// read as input is, by T's field lists (only the fields they name, each
// value of its field's type), and given back in the form lines show it, so
// that it compares as a line's value does: byte strings as lowercase hex,
// map keys as decimal numbers without leading zeros. A record's pattern may
// leave fields out, except one inside an array (`whole`), which lines
// compare whole. Bad patterns raise InputError naming the key and what is
// allowed there.
template <typename T> Json patternOf(const Json& in, const std::string& where, bool whole = false);

// Reads the pattern of each field it is walked over that the pattern gives.
class PatternReader {
public:
    PatternReader(const Json& in, const std::string& where) : m_in(requireObject(in, where)), m_where(where) {}

    template <typename E, typename T> void operator()(E, const char* name, const T& field) { (*this)(name, field); }
    template <typename T> void operator()(const char* name, const T&) {
        m_names.push_back(name);
        if (const auto it = m_in.find(name); it != m_in.end()) m_read.emplace_back(name, patternOf<T>(*it, m_where + "." + name, false));
    }

    // The pattern read, its keys in the order given; an unknown key, or for
    // a whole record a missing one, raises InputError.
    Json finish(bool whole) {
        std::string list;
        for (const std::string_view n : m_names) list += (list.empty() ? "" : ", ") + std::string(n);
        for (const auto& [key, value] : m_in.items()) {
            if (std::find(m_names.begin(), m_names.end(), key) == m_names.end()) {
                throw InputError(m_where + ": unknown field \"" + key + "\" (" + didYouMeanName(key, m_names) +
                                 "fields: " + list + ")");
            }
        }
        if (whole && m_read.size() != m_names.size()) {
            for (const std::string_view name : m_names) {
                if (!m_in.contains(name)) {
                    throw InputError(m_where + ": lines compare an object inside an array whole: give all of " +
                                     list + " (\"" + std::string(name) + "\" is missing)");
                }
            }
        }
        Json out = Json::object();
        for (const auto& [key, value] : m_in.items()) {
            for (auto& [name, read] : m_read) {
                if (name == key) appendMember(out, key, std::move(read));
            }
        }
        return out;
    }

private:
    const Json& m_in;
    std::string m_where;
    std::vector<std::string_view> m_names;
    std::vector<std::pair<std::string_view, Json>> m_read;
};

template <typename T> Json patternOf(const Json& in, const std::string& where, bool whole) {
    if constexpr (std::is_same_v<T, bool>) {
        return toBool(in, where);
    } else if constexpr (std::is_integral_v<T> && std::is_unsigned_v<T>) {
        return static_cast<uint64_t>(toUnsigned<T>(in, where));
    } else if constexpr (std::is_same_v<T, std::string>) {
        return toHex(toBytes(in, where));
    } else if constexpr (std::is_same_v<T, std::wstring>) {
        return toString(in, where);
    } else if constexpr (pakt::KeyedContainer<T>) {
        requireObject(in, where);
        Json out = Json::object();
        std::unordered_map<uint32_t, std::string> given;
        for (const auto& [key, element] : in.items()) {
            const uint32_t k = parseDecimalU32(key, where);
            if (const auto [it, added] = given.emplace(k, key); !added) {
                throw InputError(where + ": keys \"" + it->second + "\" and \"" + key + "\" are the same number");
            }
            appendMember(out, std::to_string(k), patternOf<pakt::ElementOf<T>>(element, where + "." + key));
        }
        return out;
    } else if constexpr (pakt::Container<T>) {
        if (!in.is_array()) throw InputError(where + ": expected an array, got " + describeType(in));
        Json out = Json::array();
        for (std::size_t i = 0; i < in.size(); ++i) {
            out.push_back(patternOf<pakt::ElementOf<T>>(in[i], where + "[" + std::to_string(i) + "]", true));
        }
        return out;
    } else {
        static_assert(pakt::HasFields<T>, "a record without a field list");
        PatternReader reader(in, where);
        const T unused{};
        T::fields(unused, reader);
        return reader.finish(whole);
    }
}

// The display tree (JsonSupport.h) of toJson's output for a T: byte strings
// and wide strings told apart by T's field lists. A byte string shown as an
// object (a nested payload) holds byte strings only.
template <typename T> Json displayOf(const Json& value);

// Adds the display of each field it is walked over that `in` has to `out`.
class DisplayWriter {
public:
    DisplayWriter(const Json& in, Json& out) : m_in(in), m_out(out) {}
    template <typename E, typename T> void operator()(E, const char* name, const T& field) { (*this)(name, field); }
    template <typename T> void operator()(const char* name, const T&) {
        if (const auto it = m_in.find(name); it != m_in.end()) m_out[name] = displayOf<T>(*it);
    }

private:
    const Json& m_in;
    Json& m_out;
};

template <typename T> Json displayOf(const Json& value) {
    if constexpr (std::is_same_v<T, std::string>) {
        return displayHexStrings(value);
    } else if constexpr (std::is_same_v<T, std::wstring>) {
        return dumpCompact(value);
    } else if constexpr (pakt::Container<T>) {
        if (!value.is_structured()) return value;
        Json out = value;
        for (Json& element : out) element = displayOf<pakt::ElementOf<T>>(element);
        return out;
    } else if constexpr (pakt::HasFields<T>) {
        if (!value.is_object()) return value;
        Json out = Json::object();
        DisplayWriter writer(value, out);
        const T unused{};
        T::fields(unused, writer);
        return out;
    } else {
        return value;
    }
}

// Writes the text writeDisplay(displayOf<T>(value)) gives, without making
// the display tree: the display of a record of many elements would be a
// copy of it as large as the record's JSON.
template <typename T> void writeDisplayOf(std::string& out, const Json& value);

// Writes the display of each field it is walked over that `in` has.
class DisplayTextWriter {
public:
    DisplayTextWriter(const Json& in, std::string& out) : m_in(in), m_out(out) {}
    template <typename E, typename T> void operator()(E, const char* name, const T& field) { (*this)(name, field); }
    template <typename T> void operator()(const char* name, const T&) {
        const auto it = m_in.find(name);
        if (it == m_in.end()) return;
        m_out += m_first ? "" : ",";
        m_first = false;
        m_out += dumpCompact(Json(name));
        m_out += ':';
        writeDisplayOf<T>(m_out, *it);
    }

private:
    const Json& m_in;
    std::string& m_out;
    bool m_first = true;
};

template <typename T> void writeDisplayOf(std::string& out, const Json& value) {
    if constexpr (std::is_same_v<T, std::string>) {
        writeHexDisplay(out, value);
    } else if constexpr (std::is_same_v<T, std::wstring>) {
        out += dumpCompact(value);
    } else if constexpr (pakt::KeyedContainer<T> || pakt::Container<T>) {
        if (!value.is_structured()) {
            out += writeDisplay(value);
            return;
        }
        writeMembers(out, value,
                     [](std::string& o, const Json& member) { writeDisplayOf<pakt::ElementOf<T>>(o, member); });
    } else if constexpr (pakt::HasFields<T>) {
        if (!value.is_object()) {
            out += writeDisplay(value);
            return;
        }
        out += '{';
        DisplayTextWriter writer(value, out);
        const T unused{};
        T::fields(unused, writer);
        out += '}';
    } else {
        out += writeDisplay(value);
    }
}

// The names of R's fields, in list order.
template <typename R> std::vector<std::string_view> fieldNames() {
    const Json none = Json::object();
    JsonReader reader(none, "");
    R unused;
    R::fields(unused, reader);
    return reader.names();
}

// The bytes of a record or payload part.
template <typename R> std::string packToString(const R& record) {
    pakt::BlockBuffer buffer;
    pakt::Pack pack(buffer);
    pakt::packFields(record, pack);
    return pack.str();
}

struct Decoded {
    Json fields;
    std::size_t consumed = 0;  // bytes read; any after that are ignored
};

// `bytes` decoded into `record` and shown as JSON. A truncated record raises
// pakt::UnpackError.
template <typename R> Decoded decodeWhole(std::string_view bytes, R& record) {
    pakt::Unpack up(bytes.data(), bytes.size());
    pakt::unpackFields(record, up);
    return {toJson(record), bytes.size() - up.size()};
}

// The JSON of `bytes` as record R if they decode with nothing left over and
// re-encode to the same bytes.
template <typename R> std::optional<Json> decodeClean(std::string_view bytes) {
    R record;
    pakt::Unpack up(bytes.data(), bytes.size());
    try {
        pakt::unpackFields(record, up);
    } catch (const pakt::UnpackError&) {
        return std::nullopt;
    }
    if (!up.empty() || packToString(record) != bytes) return std::nullopt;
    return toJson(record);
}

// The bytes of record R given as JSON fields.
template <typename R> std::string encodeFromJson(const Json& in, const std::string& where) {
    R record;
    fromJson(in, record, where);
    return packToString(record);
}

// The names of T's fields, in list order, for a table in the docs: `a`,
// `b`: {...} for a map (keyed by id), `c`: [{`x`, `y`}] for a list of
// records, `d`: {`x`, `y`} for a nested record. As JSON shows them (toJson).
template <typename T> std::string outlineOf();

// Adds each field it is walked over to an outline.
class OutlineWriter {
public:
    explicit OutlineWriter(std::string& out) : m_out(out) {}
    template <typename E, typename T> void operator()(E, const char* name, const T& field) { (*this)(name, field); }
    template <typename T> void operator()(const char* name, const T&) {
        m_out += m_first ? "`" : ", `";
        m_first = false;
        m_out += name;
        m_out += '`';
        if constexpr (pakt::KeyedContainer<T>) {
            m_out += ": {...}";
        } else if constexpr (pakt::Container<T>) {
            if constexpr (pakt::HasFields<pakt::ElementOf<T>>) m_out += ": [{" + outlineOf<pakt::ElementOf<T>>() + "}]";
        } else if constexpr (pakt::HasFields<T>) {
            m_out += ": {" + outlineOf<T>() + "}";
        }
    }

private:
    std::string& m_out;
    bool m_first = true;
};

template <typename T> std::string outlineOf() {
    std::string out;
    OutlineWriter writer(out);
    const T unused{};
    T::fields(unused, writer);
    return out;
}

}  // namespace sapphost
