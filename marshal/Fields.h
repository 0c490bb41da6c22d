// Field lists: a record's wire grammar, written once.
//
// Every record lists its fields, in wire order, in one static member
// template next to its members:
//
//   template <class R, class V>
//   static void fields(R& r, V& v) {
//       v(pakt::u32, "sid", r.sid);             // a scalar or string: its encoding
//       v(pakt::varstr32, "context", r.context);
//       v("appIds", r.appIds);                  // a container or nested record
//   }
//
// R is the record, or the const record for walks that only read it; V is a
// walker that is called once per field with the field's name and member.
// FieldPacker appends the fields to a Pack and FieldUnpacker reads them from
// an Unpack; sapp-host's JSON conversion walks the same lists. Record<R>
// makes a record's marshal and unmarshal those two walks, so the list is the
// only place that says which fields a record has and in which order. A list
// walks any object with the record's members, also a view whose member is a
// reference to bytes held elsewhere, or a std::string_view where the record
// has a string: that is how the app manager packs a client's message and
// finds app data in a payload without a copy.
//
// Encodings, each a little-endian integer or a byte run:
//   u8 | u16 | u32 | u64      1, 2, 4, 8 bytes
//   boolean                   1 byte: written 1 or 0, read as true when non-zero
//   varstr16 | varstr32       u16 or u32 length n, then n raw bytes
// Scalars and strings name their encoding, since the member's C++ type does
// not always fix it (a std::string is a varstr16 or a varstr32); the encoding
// must fit the member's type exactly, which the compiler checks, so no list
// narrows or widens a member. Containers and nested records name none: a
// container is a u32 element count followed by the elements,
//   vector<E> | set<E>        count, the elements in order (sets ascending)
//   map<u32, E>               count, then per entry the u32 key and the element
// and an element is a u32, a u64 or a record in its own encoding.
//
// Reading a container appends to what it holds; a zero count leaves it as it
// was. Map and set reads insert with the position after the previous insert
// as hint, so a key that is already present keeps its value (the first
// duplicate on the wire wins). Records are read in place, into the
// container's own element. A vector of integers reserves room for the count,
// but never for more elements than the remaining bytes can hold, so a count
// larger than the data costs nothing before it fails at the first element
// that runs short. An element that fails to read is not left behind.
#pragma once

#include <cstdint>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "marshal/Marshallable.h"
#include "marshal/Pack.h"
#include "marshal/Unpack.h"

namespace pakt {

// The encodings of single values; Member is the one type each fits.
namespace encoding {

template <class T, Pack& (Pack::*Push)(T), T (Unpack::*Pop)()>
struct Integer {
    using Member = T;
    static void pack(Pack& p, T v) { (p.*Push)(v); }
    static void unpack(Unpack& up, T& v) { v = (up.*Pop)(); }
};

using U8 = Integer<uint8_t, &Pack::push_uint8, &Unpack::pop_uint8>;
using U16 = Integer<uint16_t, &Pack::push_uint16, &Unpack::pop_uint16>;
using U32 = Integer<uint32_t, &Pack::push_uint32, &Unpack::pop_uint32>;
using U64 = Integer<uint64_t, &Pack::push_uint64, &Unpack::pop_uint64>;

struct Bool {
    using Member = bool;
    static void pack(Pack& p, bool v) { p.push_uint8(v ? 1 : 0); }
    static void unpack(Unpack& up, bool& v) { v = up.pop_uint8() != 0; }
};

// A byte run, read into a std::string (a copy) or into a std::string_view
// that points into the bytes being read and is valid while they are.
template <Pack& (Pack::*Push)(const void*, std::size_t), std::string_view (Unpack::*Pop)()>
struct VarStr {
    using Member = std::string;
    using View = std::string_view;
    static void pack(Pack& p, std::string_view v) { (p.*Push)(v.data(), v.size()); }
    static void unpack(Unpack& up, std::string& v) { v = std::string((up.*Pop)()); }
    static void unpack(Unpack& up, std::string_view& v) { v = (up.*Pop)(); }
};

using VarStr16 = VarStr<&Pack::push_varstr, &Unpack::pop_varstr_view>;
using VarStr32 = VarStr<&Pack::push_varstr32, &Unpack::pop_varstr32_view>;

}  // namespace encoding

inline constexpr encoding::U8 u8{};
inline constexpr encoding::U16 u16{};
inline constexpr encoding::U32 u32{};
inline constexpr encoding::U64 u64{};
inline constexpr encoding::Bool boolean{};
inline constexpr encoding::VarStr16 varstr16{};
inline constexpr encoding::VarStr32 varstr32{};

// A member of type T can carry encoding E: its Member type, or its View type
// where it has one.
template <class E, class T>
concept Fits = std::is_same_v<std::remove_cvref_t<T>, typename E::Member> ||
               std::is_same_v<std::remove_cvref_t<T>, typename E::View>;

namespace detail {

// Stands in for any walker where only the shape of a field list matters.
struct AnyWalker {
    template <class... A>
    void operator()(A&&...) {}
};

template <class T> struct IsContainer : std::false_type {};
template <class E> struct IsContainer<std::vector<E>> : std::true_type {};
template <class E> struct IsContainer<std::set<E>> : std::true_type {};
template <class E> struct IsContainer<std::map<uint32_t, E>> : std::true_type {};

}  // namespace detail

// A type with a field list.
template <class R>
concept HasFields = requires(R& r, detail::AnyWalker& v) { R::fields(r, v); };

// What a field list gives without an encoding: a container, or a record
// (with a field list, or a Marshallable with its own marshal and unmarshal).
template <class T>
concept Nested = detail::IsContainer<std::remove_cvref_t<T>>::value || HasFields<std::remove_cvref_t<T>> ||
                 std::is_base_of_v<Marshallable, std::remove_cvref_t<T>>;

template <class R>
void packFields(const R& record, Pack& p);
template <class R>
void unpackFields(R& record, Unpack& up);

namespace detail {

template <class T>
void packElement(Pack& p, const T& v) {
    if constexpr (std::is_same_v<T, uint32_t>) {
        p.push_uint32(v);
    } else if constexpr (std::is_same_v<T, uint64_t>) {
        p.push_uint64(v);
    } else if constexpr (HasFields<T>) {
        packFields(v, p);
    } else {
        static_assert(std::is_base_of_v<Marshallable, T>, "an element is a u32, a u64 or a record");
        v.marshal(p);
    }
}

// Reads a record element into `v`.
template <class T>
void unpackRecord(Unpack& up, T& v) {
    if constexpr (HasFields<T>) {
        unpackFields(v, up);
    } else {
        static_assert(std::is_base_of_v<Marshallable, T>, "an element is a u32, a u64 or a record");
        v.unmarshal(up);
    }
}

template <class T>
T unpackElement(Unpack& up) {
    if constexpr (std::is_same_v<T, uint32_t>) {
        return up.pop_uint32();
    } else if constexpr (std::is_same_v<T, uint64_t>) {
        return up.pop_uint64();
    } else {
        T v;
        if constexpr (HasFields<T>) {
            unpackFields(v, up);
        } else {
            static_assert(std::is_base_of_v<Marshallable, T>, "an element is a u32, a u64 or a record");
            v.unmarshal(up);
        }
        return v;
    }
}

}  // namespace detail

template <class T>
void marshal_container(Pack& p, const std::vector<T>& c) {
    p.push_uint32(static_cast<uint32_t>(c.size()));
    for (const T& v : c) detail::packElement(p, v);
}

template <class T>
void marshal_container(Pack& p, const std::set<T>& c) {
    p.push_uint32(static_cast<uint32_t>(c.size()));
    for (const T& v : c) detail::packElement(p, v);
}

template <class V>
void marshal_container(Pack& p, const std::map<uint32_t, V>& c) {
    p.push_uint32(static_cast<uint32_t>(c.size()));
    for (const auto& [key, value] : c) {
        p.push_uint32(key);
        detail::packElement(p, value);
    }
}

namespace detail {

// Appends `count` elements read from `up` to `c`.
template <class T>
void appendElements(Unpack& up, std::vector<T>& c, uint32_t count) {
    if constexpr (std::is_integral_v<T>) {
        const std::size_t fits = up.size() / sizeof(T);
        c.reserve(c.size() + (count < fits ? count : fits));
        for (; count > 0; --count) c.push_back(unpackElement<T>(up));
    } else {
        for (; count > 0; --count) {
            T& v = c.emplace_back();
            try {
                unpackRecord(up, v);
            } catch (...) {
                c.pop_back();
                throw;
            }
        }
    }
}

}  // namespace detail

// Most lists in a message are empty: the count is read here, small enough to
// inline, and the elements out of line.
template <class T>
void unmarshal_container(Unpack& up, std::vector<T>& c) {
    const uint32_t count = up.pop_uint32();
    if (count != 0) detail::appendElements(up, c, count);
}

template <class T>
void unmarshal_container(Unpack& up, std::set<T>& c) {
    auto hint = c.begin();
    for (uint32_t count = up.pop_uint32(); count > 0; --count) {
        hint = std::next(c.insert(hint, detail::unpackElement<T>(up)));
    }
}

template <class V>
void unmarshal_container(Unpack& up, std::map<uint32_t, V>& c) {
    auto hint = c.begin();
    for (uint32_t count = up.pop_uint32(); count > 0; --count) {
        const uint32_t key = up.pop_uint32();
        if constexpr (std::is_integral_v<V>) {
            const V value = detail::unpackElement<V>(up);
            hint = std::next(c.insert(hint, {key, value}));
        } else {
            const std::size_t before = c.size();
            const auto at = c.emplace_hint(hint, std::piecewise_construct, std::forward_as_tuple(key), std::tuple<>());
            if (c.size() == before) {
                // A duplicate key: the first value stays, this one is read and dropped.
                V ignored;
                detail::unpackRecord(up, ignored);
            } else {
                try {
                    detail::unpackRecord(up, at->second);
                } catch (...) {
                    c.erase(at);
                    throw;
                }
            }
            hint = std::next(at);
        }
    }
}

// Appends the fields it is walked over to a Pack.
class FieldPacker {
public:
    explicit FieldPacker(Pack& p) : m_pack(p) {}

    template <class E, class T>
        requires Fits<E, T>
    void operator()(E, const char*, const T& value) {
        E::pack(m_pack, value);
    }
    template <class T>
        requires Nested<T>
    void operator()(const char*, const T& value) {
        if constexpr (detail::IsContainer<T>::value) {
            marshal_container(m_pack, value);
        } else {
            detail::packElement(m_pack, value);
        }
    }

private:
    Pack& m_pack;
};

// Reads the fields it is walked over from an Unpack, in the same order.
class FieldUnpacker {
public:
    explicit FieldUnpacker(Unpack& up) : m_unpack(up) {}

    template <class E, class T>
        requires Fits<E, T>
    void operator()(E, const char*, T& value) {
        E::unpack(m_unpack, value);
    }
    template <class T>
        requires Nested<T>
    void operator()(const char*, T& value) {
        if constexpr (detail::IsContainer<T>::value) {
            unmarshal_container(m_unpack, value);
        } else if constexpr (HasFields<T>) {
            unpackFields(value, m_unpack);
        } else {
            value.unmarshal(m_unpack);
        }
    }

private:
    Unpack& m_unpack;
};

template <class R>
void packFields(const R& record, Pack& p) {
    FieldPacker v(p);
    R::fields(record, v);
}

template <class R>
void unpackFields(R& record, Unpack& up) {
    FieldUnpacker v(up);
    R::fields(record, v);
}

// Base of the wire records: marshal and unmarshal walk the record's field
// list (R::fields). They are defined in RecordWalks.h, which a record family
// includes where it instantiates Record<R> for each of its records, so that
// every record's walks are compiled once, in one place.
template <class R>
class Record : public Marshallable {
public:
    void marshal(Pack& p) const final;
    void unmarshal(Unpack& up) final;
};

}  // namespace pakt
