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
// an Unpack (a hook can follow that reading walk, see NoHook below);
// sapp-host's JSON conversion walks the same lists. Record<R>
// makes a record's marshal and unmarshal those two walks, so the list is the
// only place that says which fields a record has and in which order. A list
// walks any object with the record's members, also a view whose member is a
// reference to bytes held elsewhere, or a std::string_view where the record
// has a string: that is how the app manager packs a client's message and
// finds app data in a payload without a copy.
//
// The encodings and the grammar's containers are in marshal/Encodings.h;
// checking that bytes read whole without building anything, in
// marshal/ReadCheck.h.
//
// Reading a container appends to what it holds; a zero count leaves it as it
// was. A key that is already present keeps its value (the first duplicate
// on the wire wins; a map's later one is read past without being built).
// Set reads insert with the position after the previous insert as hint; a
// map read places each key without a search when keys come in order, up or
// down (placeOf). Records are read in place, into the container's own element. A
// vector reserves room for the count, but never for more elements than the
// remaining bytes can hold (minWireBytes), so a count larger than the data
// costs nothing before it fails at the first element that runs short. An
// element that fails to read is not left behind.
#pragma once

#include <algorithm>
#include <bit>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "marshal/Encodings.h"
#include "marshal/Hooks.h"
#include "marshal/KeySet.h"
#include "marshal/Marshallable.h"
#include "marshal/Pack.h"
#include "marshal/Unpack.h"

namespace pakt {

template <class R>
void packFields(const R& record, Pack& p);
template <class R, class In>
void unpackFields(R& record, In& up);

namespace detail {

// One value of encoding E, read into `v`.
template <class E, class In, class T>
void unpackValue(In& up, T& v) {
    hookOf(up).beforeValue(up, E{});
    E::unpack(up, v);
}

// One element, whatever holds it: a u32 or a u64 in its encoding, a record
// in its own. A record is read in place.
template <class T>
void packElement(Pack& p, const T& v) {
    if constexpr (std::is_integral_v<T>) {
        IntegerElement<T>::Encoding::pack(p, v);
    } else if constexpr (HasFields<T>) {
        packFields(v, p);
    } else {
        static_assert(std::is_base_of_v<Marshallable, T>, "an element is a u32, a u64 or a record");
        v.marshal(p);
    }
}

template <class In, class T>
void unpackElement(In& up, T& v) {
    if constexpr (std::is_integral_v<T>) {
        unpackValue<typename IntegerElement<T>::Encoding>(up, v);
    } else if constexpr (HasFields<T>) {
        unpackFields(v, up);
    } else {
        static_assert(std::is_base_of_v<Marshallable, T>, "an element is a u32, a u64 or a record");
        v.unmarshal(up);
    }
}

}  // namespace detail

template <class C>
    requires(Container<C> && !KeyedContainer<C>)
void marshal_container(Pack& p, const C& c) {
    p.push_uint32(static_cast<uint32_t>(c.size()));
    for (const auto& v : c) detail::packElement(p, v);
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

// Calls read(reader) with a reader of its own over `up`'s bytes when `up`
// is a plain Unpack, then moves `up` past what it read, also when the read
// fails: `up` ends where reading it field by field would have left it (the
// fields before the failing one consumed; the host's reader is a boundary
// type whose every read advances it). A hooked reader is passed as it is.
// A reader nothing else can reach keeps its cursor in registers, where
// `up`'s would be stored back after every read (a store to a record's
// string may, for all the compiler knows, write to `up`); the unwinder
// restores those registers for the handler that moves `up` on an error.
template <class In, class F>
void readOwn(In& up, F&& read) {
    if constexpr (std::is_same_v<In, Unpack>) {
        Unpack own(up.data(), up.size());
        try {
            read(own);
        } catch (...) {
            up.pop_fetch_ptr(up.size() - own.size());
            throw;
        }
        up.pop_fetch_ptr(up.size() - own.size());
    } else {
        read(up);
    }
}

// The integers of type T stored little-endian, unaligned, from a byte
// pointer on, as a random-access range of values: what a vector copies a run
// of wire integers from, in one pass into storage it allocates once, without
// zero-filling it first (resize) or checking its room per element
// (push_back). Only for a little-endian host, where the bytes are the value.
template <class T>
class WireIntegers {
public:
    using iterator_category = std::random_access_iterator_tag;
    using value_type = T;
    using difference_type = std::ptrdiff_t;
    using pointer = const T*;
    using reference = T;

    WireIntegers() = default;
    explicit WireIntegers(const char* bytes) : m_bytes(bytes) {}

    T operator*() const {
        T v;
        std::memcpy(&v, m_bytes, sizeof v);
        return v;
    }
    T operator[](difference_type n) const { return *(*this + n); }
    WireIntegers& operator++() { return *this += 1; }
    WireIntegers operator++(int) { return std::exchange(*this, *this + 1); }
    WireIntegers& operator--() { return *this -= 1; }
    WireIntegers operator--(int) { return std::exchange(*this, *this - 1); }
    WireIntegers& operator+=(difference_type n) {
        m_bytes += n * static_cast<difference_type>(sizeof(T));
        return *this;
    }
    WireIntegers& operator-=(difference_type n) { return *this += -n; }
    friend WireIntegers operator+(WireIntegers it, difference_type n) { return it += n; }
    friend WireIntegers operator+(difference_type n, WireIntegers it) { return it += n; }
    friend WireIntegers operator-(WireIntegers it, difference_type n) { return it -= n; }
    friend difference_type operator-(const WireIntegers& a, const WireIntegers& b) {
        return (a.m_bytes - b.m_bytes) / static_cast<difference_type>(sizeof(T));
    }
    friend bool operator==(const WireIntegers&, const WireIntegers&) = default;
    friend std::strong_ordering operator<=>(const WireIntegers& a, const WireIntegers& b) {
        return a.m_bytes <=> b.m_bytes;
    }

private:
    const char* m_bytes = nullptr;
};

// Appends `count` elements read from `up` to `c`. The vector grows once,
// to hold the count or as many elements as the remaining bytes can hold,
// whichever is less: a true count is met exactly, without the doublings
// (and the copies of every element they make) of growing one element at a
// time, and a count larger than the data costs no more than the data can
// back before it fails at the first element that runs short. (The count
// is compared with the bytes by a multiplication, which cannot overflow: a
// division by the elements' least size costs a true count more.)
template <class In, class T>
void appendElements(In& up, std::vector<T>& c, uint32_t count) {
    const std::size_t least = minWireBytes<T>();
    const std::size_t room = count * least <= up.size() ? count : up.size() / least;
    // Read without a hook, a run of little-endian integers is the elements'
    // own bytes, copied at once below; any other read appends one element
    // at a time into room made first.
    constexpr bool wholeRun =
        std::is_integral_v<T> && std::is_same_v<In, Unpack> && std::endian::native == std::endian::little;
    if constexpr (!wholeRun) c.reserve(c.size() + room);
    if constexpr (std::is_integral_v<T>) {
        uint32_t index = 0;
        if constexpr (wholeRun) {
            // The integers that fit are copied at once, into a vector made
            // for exactly them when there is no storage to append to (the
            // usual case, and half the instructions of an insertion); the
            // next one, if the count asks for more, fails below as reading
            // it alone would.
            if (room > 0) {
                const WireIntegers<T> first(up.pop_fetch_ptr(room * sizeof(T)));
                const WireIntegers<T> last = first + static_cast<std::ptrdiff_t>(room);
                if (c.capacity() == 0) {
                    c = std::vector<T>(first, last);
                } else {
                    c.insert(c.end(), first, last);
                }
                index = static_cast<uint32_t>(room);
            }
        }
        for (; index < count; ++index) {
            hookOf(up).element(up, index);
            T v;
            unpackElement(up, v);
            c.push_back(v);
            hookOf(up).end(up);
        }
    } else {
        readOwn(up, [&c, count](auto& in) {
            for (uint32_t index = 0; index < count; ++index) {
                hookOf(in).element(in, index);
                T& v = c.emplace_back();
                try {
                    unpackElement(in, v);
                } catch (...) {
                    c.pop_back();
                    throw;
                }
                hookOf(in).end(in);
            }
        });
    }
}

// A container's count.
template <class In>
uint32_t unpackCount(In& up) {
    hookOf(up).beforeCount(up);
    return up.pop_uint32();
}

template <class T, class In>
void skipElement(In& up);

// What a value of encoding E is read into when it is not kept: a view for a
// byte run (no copy), the member type otherwise.
template <class E>
auto droppedValue() {
    if constexpr (requires { typename E::View; }) {
        return typename E::View{};
    } else {
        return typename E::Member{};
    }
}

// Walks a record's fields as FieldUnpacker does, with the same reads, the
// same errors and the same hook calls, but keeps nothing: the value of a map
// entry whose key came before is read past this way, so that dropping it
// costs no copy of what it holds.
template <class In>
class FieldSkipper {
public:
    explicit FieldSkipper(In& up) : m_unpack(up) {}

    template <class E, class T>
        requires Fits<E, T>
    void operator()(E, const char* name, const T&) {
        hookOf(m_unpack).field(m_unpack, name);
        auto value = droppedValue<E>();
        unpackValue<E>(m_unpack, value);
        hookOf(m_unpack).end(m_unpack);
    }
    template <class T>
        requires Nested<T>
    void operator()(const char* name, const T&) {
        hookOf(m_unpack).field(m_unpack, name);
        skipElement<std::remove_cvref_t<T>>(m_unpack);
        hookOf(m_unpack).end(m_unpack);
    }

private:
    In& m_unpack;
};

// Reads past one element (or container) of type T.
template <class T, class In>
void skipElement(In& up) {
    if constexpr (Container<T>) {
        const uint32_t count = unpackCount(up);
        uint32_t left = count;
        if constexpr (!KeyedContainer<T> && std::is_integral_v<ElementOf<T>> && std::is_same_v<In, Unpack>) {
            // Without a hook, a run of integers is passed at once, as many
            // as the bytes hold; the next, if the count asks for more,
            // fails below as reading it alone would.
            const std::size_t fits = up.size() / sizeof(ElementOf<T>);
            const std::size_t run = left < fits ? left : fits;
            up.pop_fetch_ptr(run * sizeof(ElementOf<T>));
            left -= static_cast<uint32_t>(run);
        }
        for (; left > 0; --left) {
            hookOf(up).element(up, count - left);
            if constexpr (KeyedContainer<T>) {
                hookOf(up).beforeKey(up);
                const uint32_t key = up.pop_uint32();
                hookOf(up).key(up, key);
            }
            skipElement<ElementOf<T>>(up);
            hookOf(up).end(up);
        }
    } else if constexpr (std::is_integral_v<T>) {
        T v;
        unpackElement(up, v);
    } else if constexpr (HasFields<T>) {
        // The walk needs a record to name the fields of; it reads none of them.
        static const T shape{};
        FieldSkipper<In> skipper(up);
        T::fields(shape, skipper);
    } else {
        T v;
        v.unmarshal(up);
    }
}

}  // namespace detail

// Most lists in a message are empty: the count is read here, small enough to
// inline, and the elements out of line.
template <class In, class T>
void unmarshal_container(In& up, std::vector<T>& c) {
    const uint32_t count = detail::unpackCount(up);
    if (count != 0) detail::appendElements(up, c, count);
}

template <class In, class T>
void unmarshal_container(In& up, std::set<T>& c) {
    auto hint = c.begin();
    const uint32_t count = detail::unpackCount(up);
    for (uint32_t left = count; left > 0; --left) {
        detail::hookOf(up).element(up, count - left);
        T v;
        detail::unpackElement(up, v);
        hint = std::next(c.insert(hint, std::move(v)));
        detail::hookOf(up).end(up);
    }
}

namespace detail {

// The greatest key of a map being read, kept by the read: asking the map
// for it is a step back from its end, a call, at every entry.
struct GreatestKey {
    bool any = false;
    uint32_t key = 0;

    void note(uint32_t k) {
        if (!any || key < k) key = k;
        any = true;
    }
};

// Where `key` belongs in `c`, given `last`, the entry the previous key went
// to (end() for none), and `greatest`, c's greatest key: after the last
// entry when the keys come ascending (the usual order), at `last` when the
// key repeats it, before it when they come descending, each without a
// search; else the first entry not before the key, by a search, O(log n). A
// key already present is found at the returned position.
template <class V>
typename std::map<uint32_t, V>::iterator placeOf(std::map<uint32_t, V>& c,
                                                 typename std::map<uint32_t, V>::iterator last,
                                                 const GreatestKey& greatest, uint32_t key) {
    if (!greatest.any || greatest.key < key) return c.end();
    if (last != c.end() && key <= last->first) {
        if (key == last->first || last == c.begin() || std::prev(last)->first < key) return last;
    }
    return c.lower_bound(key);
}

}  // namespace detail

// A map is read entry by entry, each placed where it belongs (detail::placeOf):
// a new key is inserted there without a further search, and the value of a
// key already present is read past (detail::skipElement) without building a
// node for it. From the first repeated key on, the keys placed are also
// kept in a hash set (KeySet.h), so that every later repeat is known as one
// in O(1) rather than by a search of the map.
template <class In, class V>
void unmarshal_container(In& up, std::map<uint32_t, V>& c) {
    auto last = c.end();
    detail::GreatestKey greatest;
    if (!c.empty()) greatest.note(std::prev(c.end())->first);
    std::optional<detail::KeySet> placed;
    const uint32_t count = detail::unpackCount(up);
    for (uint32_t left = count; left > 0; --left) {
        detail::hookOf(up).element(up, count - left);
        detail::hookOf(up).beforeKey(up);
        const uint32_t key = up.pop_uint32();
        detail::hookOf(up).key(up, key);
        const bool known = placed && placed->contains(key);
        auto at = known ? c.end() : detail::placeOf(c, last, greatest, key);
        if (known || (at != c.end() && at->first == key)) {
            // A duplicate key: the first value stays, this one is read past.
            if (!placed) {
                placed.emplace();
                for (const auto& entry : c) placed->insert(entry.first);
            }
            detail::skipElement<V>(up);
        } else {
            if constexpr (std::is_integral_v<V>) {
                V value;
                detail::unpackElement(up, value);
                at = c.emplace_hint(at, key, value);
            } else {
                at = c.emplace_hint(at, std::piecewise_construct, std::forward_as_tuple(key), std::tuple<>());
                try {
                    detail::unpackElement(up, at->second);
                } catch (...) {
                    c.erase(at);
                    throw;
                }
            }
            if (placed) placed->insert(key);
            greatest.note(key);
            last = at;
        }
        detail::hookOf(up).end(up);
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
        if constexpr (Container<T>) {
            marshal_container(m_pack, value);
        } else {
            detail::packElement(m_pack, value);
        }
    }

private:
    Pack& m_pack;
};

// Reads the fields it is walked over from `up` (an Unpack, or a
// HookedUnpack whose hook follows the walk), in the same order.
template <class In>
class FieldUnpacker {
public:
    explicit FieldUnpacker(In& up) : m_unpack(up) {}

    template <class E, class T>
        requires Fits<E, T>
    void operator()(E, const char* name, T& value) {
        detail::hookOf(m_unpack).field(m_unpack, name);
        detail::unpackValue<E>(m_unpack, value);
        detail::hookOf(m_unpack).end(m_unpack);
    }
    template <class T>
        requires Nested<T>
    void operator()(const char* name, T& value) {
        detail::hookOf(m_unpack).field(m_unpack, name);
        if constexpr (Container<T>) {
            readContainer(value);
        } else {
            detail::unpackElement(m_unpack, value);
        }
        detail::hookOf(m_unpack).end(m_unpack);
    }

private:
    // The elements through a reader of their own: their read is out of
    // line, and this walk's reader, whose address it would otherwise take,
    // then stays in registers (readFields). A vector's count is read here:
    // most lists in a message are empty, and an empty one costs no call.
    // Its elements are read through this walk's reader: a run of integers is
    // one bounds check and a copy, and a vector of records reads them
    // through a reader of its own already (appendElements), so that one
    // more here only cost its copies (14 instructions per app of an app
    // list, bench/callgrind.sh).
    template <class T>
    void readContainer(T& value) {
        if constexpr (std::is_same_v<In, Unpack> && !KeyedContainer<T> &&
                      std::is_same_v<std::remove_cvref_t<T>, std::vector<ElementOf<T>>>) {
            const uint32_t count = detail::unpackCount(m_unpack);
            if (count != 0) detail::appendElements(m_unpack, value, count);
        } else {
            detail::readOwn(m_unpack, [&value](auto& in) { unmarshal_container(in, value); });
        }
    }

    In& m_unpack;
};

template <class R>
void packFields(const R& record, Pack& p) {
    FieldPacker v(p);
    R::fields(record, v);
}

template <class R, class In>
void unpackFields(R& record, In& up) {
    FieldUnpacker<In> v(up);
    R::fields(record, v);
}

// unpackFields through a reader of the walk's own (detail::readOwn), whose
// cursor stays in registers: a record of ten fixed-size fields reads in
// half the instructions of a walk whose every read stores `up`'s cursor
// back. For a walk that starts from a reader others hold (a record's
// unmarshal, a payload read in parts); `up` ends where unpackFields would
// leave it, after an error too.
template <class R, class In>
void readFields(R& record, In& up) {
    detail::readOwn(up, [&record](auto& in) { unpackFields(record, in); });
}

// Base of the wire records: marshal and unmarshal walk the record's field
// list (R::fields). They are defined in RecordWalks.h, which every header
// that defines records includes: the walks are compiled wherever a record's
// virtual table is needed, unless the record's header declares them
// compiled elsewhere (this project's own builds compile them once, in
// protocol/Records.cc; RecordWalks.h says how).
template <class R>
class Record : public Marshallable {
public:
    void marshal(Pack& p) const final;
    void unmarshal(Unpack& up) final;
};

}  // namespace pakt
