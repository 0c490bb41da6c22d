// The wire grammar's encodings and containers: what a field list names.
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
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <type_traits>
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
    static constexpr std::size_t minBytes = sizeof(T);
    static void pack(Pack& p, T v) { (p.*Push)(v); }
    static void unpack(Unpack& up, T& v) { v = (up.*Pop)(); }
};

using U8 = Integer<uint8_t, &Pack::push_uint8, &Unpack::pop_uint8>;
using U16 = Integer<uint16_t, &Pack::push_uint16, &Unpack::pop_uint16>;
using U32 = Integer<uint32_t, &Pack::push_uint32, &Unpack::pop_uint32>;
using U64 = Integer<uint64_t, &Pack::push_uint64, &Unpack::pop_uint64>;

struct Bool {
    using Member = bool;
    static constexpr std::size_t minBytes = 1;
    static void pack(Pack& p, bool v) { p.push_uint8(v ? 1 : 0); }
    static void unpack(Unpack& up, bool& v) { v = up.pop_uint8() != 0; }
};

// Replaces `v` with a copy of `bytes`. The string is made anew where the
// old one was: the constructor's one copy beats both assign's general
// replace and a copy into a temporary that is then moved (a member string
// may be replaced so: same type, not const, not a base). Should the
// allocation throw, an empty string takes the place, so that `v` is always
// a string.
//
// Where a string's read goes is left to the compiler, which decides per
// record (GCC 12 at -O3 inlines it into a version item's walk and calls it
// from an app pack's). Forcing it cost more, per app of an app list
// (bench/callgrind.sh): 74 instructions with the copy out of line, 87 with
// the whole read; inline, the functions around it went out of line
// instead, 98 to 175.
inline void copyBytes(std::string& v, std::string_view bytes) {
    std::destroy_at(&v);
    try {
        std::construct_at(&v, bytes.data(), bytes.size());
    } catch (...) {
        std::construct_at(&v);
        throw;
    }
}

// A byte run, read into a std::string (a copy) or into a std::string_view
// that points into the bytes being read and is valid while they are.
template <Pack& (Pack::*Push)(const void*, std::size_t), std::string_view (Unpack::*Pop)(), std::size_t LengthBytes>
struct VarStr {
    using Member = std::string;
    using View = std::string_view;
    static constexpr std::size_t minBytes = LengthBytes;
    static void pack(Pack& p, std::string_view v) { (p.*Push)(v.data(), v.size()); }
    static void unpack(Unpack& up, std::string& v) {
        // Many strings of a list are empty: no copy at all then.
        const std::string_view bytes = (up.*Pop)();
        if (bytes.empty()) {
            v.clear();
        } else {
            copyBytes(v, bytes);
        }
    }
    static void unpack(Unpack& up, std::string_view& v) { v = (up.*Pop)(); }
};

using VarStr16 = VarStr<&Pack::push_varstr, &Unpack::pop_varstr_view, 2>;
using VarStr32 = VarStr<&Pack::push_varstr32, &Unpack::pop_varstr32_view, 4>;

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

// The containers of the grammar, with their element types; a map is keyed.
template <class E, bool Keyed>
struct ContainerOf {
    static constexpr bool isContainer = true;
    static constexpr bool keyed = Keyed;
    using Element = E;
};
template <class T> struct ContainerTraits { static constexpr bool isContainer = false; };
template <class E> struct ContainerTraits<std::vector<E>> : ContainerOf<E, false> {};
template <class E> struct ContainerTraits<std::set<E>> : ContainerOf<E, false> {};
template <class E> struct ContainerTraits<std::map<uint32_t, E>> : ContainerOf<E, true> {};

template <class T>
concept Container = ContainerTraits<std::remove_cvref_t<T>>::isContainer;
template <class T>
concept KeyedContainer = Container<T> && ContainerTraits<std::remove_cvref_t<T>>::keyed;
template <class T>
using ElementOf = typename ContainerTraits<std::remove_cvref_t<T>>::Element;

namespace detail {

// Stands in for any walker where only the shape of a field list matters.
struct AnyWalker {
    template <class... A>
    void operator()(A&&...) {}
};

// The encoding of an integer element; no other integer is one.
template <class T> struct IntegerElement;
template <> struct IntegerElement<uint32_t> { using Encoding = encoding::U32; };
template <> struct IntegerElement<uint64_t> { using Encoding = encoding::U64; };

}  // namespace detail

// A type with a field list.
template <class R>
concept HasFields = requires(R& r, detail::AnyWalker& v) { R::fields(r, v); };

// What a field list gives without an encoding: a container, or a record
// (with a field list, or a Marshallable with its own marshal and unmarshal).
template <class T>
concept Nested = Container<T> || HasFields<std::remove_cvref_t<T>> ||
                 std::is_base_of_v<Marshallable, std::remove_cvref_t<T>>;

template <class T>
std::size_t minWireBytes();

namespace detail {

// Adds up the fewest bytes a record's fields take: a value its encoding's
// least (a string its length), a container its count, a nested record its
// own least.
struct MinBytesWalker {
    std::size_t bytes = 0;

    template <class E, class T>
    void operator()(E, const char*, const T&) {
        bytes += E::minBytes;
    }
    template <class T>
        requires Nested<T>
    void operator()(const char*, const T&) {
        if constexpr (Container<T>) {
            bytes += sizeof(uint32_t);
        } else {
            bytes += minWireBytes<std::remove_cvref_t<T>>();
        }
    }
};

template <class T>
std::size_t countMinBytes() {
    const T record{};
    MinBytesWalker walker;
    T::fields(record, walker);
    return std::max<std::size_t>(walker.bytes, 1);
}

}  // namespace detail

// The fewest bytes an element of type T takes on the wire, at least 1: an
// integer its size, a record the least of its fields (a PluginVerItem of
// empty strings, 20 bytes). A Marshallable that reads itself promises one
// byte.
template <class T>
std::size_t minWireBytes() {
    if constexpr (std::is_integral_v<T>) {
        return sizeof(T);
    } else if constexpr (HasFields<T>) {
        // Walked once, apart: what a read asks for each time is the check
        // that it was, small enough to inline.
        static const std::size_t bytes = detail::countMinBytes<T>();
        return bytes;
    } else {
        return 1;
    }
}

}  // namespace pakt
