// Base of every wire record, and the container encodings.
//
// A record's encoding is its fields in a fixed order with no tags, names or
// lengths of its own; marshal and unmarshal walk the same order. Containers
// are a u32 element count followed by the elements:
//   vector<u32> | vector<u64> | vector<Record>   count, elements in order
//   set<u32>                                      count, ascending elements
//   map<u32, Record>                              count, (u32 key, record) ascending
// Reading a container appends to what it holds; a zero count leaves it as it
// was. Map and set reads insert with the position after the previous insert
// as hint, so a key that is already present keeps its value (the first
// duplicate on the wire wins). Nothing is reserved from the count: a count
// larger than the data fails at the first element that runs short.
#pragma once

#include <cstdint>
#include <iterator>
#include <map>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "marshal/Pack.h"
#include "marshal/Unpack.h"

namespace pakt {

class Marshallable {
public:
    virtual void marshal(Pack& p) const = 0;
    virtual void unmarshal(Unpack& up) = 0;
    virtual ~Marshallable() = default;
    virtual std::ostream& trace(std::ostream& os) const { return os << "trace Marshallable [ not immplement ]"; }
    virtual std::string toString() const {
        std::ostringstream os;
        trace(os);
        return os.str();
    }
};

namespace detail {

template <typename T>
void pushElement(Pack& p, const T& v) {
    if constexpr (std::is_same_v<T, uint32_t>) {
        p.push_uint32(v);
    } else if constexpr (std::is_same_v<T, uint64_t>) {
        p.push_uint64(v);
    } else {
        static_assert(std::is_base_of_v<Marshallable, T>, "container element must be u32, u64 or a record");
        v.marshal(p);
    }
}

template <typename T>
T popElement(Unpack& up) {
    if constexpr (std::is_same_v<T, uint32_t>) {
        return up.pop_uint32();
    } else if constexpr (std::is_same_v<T, uint64_t>) {
        return up.pop_uint64();
    } else {
        static_assert(std::is_base_of_v<Marshallable, T>, "container element must be u32, u64 or a record");
        T v;
        v.unmarshal(up);
        return v;
    }
}

}  // namespace detail

template <typename T>
void marshal_container(Pack& p, const std::vector<T>& c) {
    p.push_uint32(static_cast<uint32_t>(c.size()));
    for (const T& v : c) detail::pushElement(p, v);
}

template <typename T>
void marshal_container(Pack& p, const std::set<T>& c) {
    p.push_uint32(static_cast<uint32_t>(c.size()));
    for (const T& v : c) detail::pushElement(p, v);
}

template <typename V>
void marshal_container(Pack& p, const std::map<uint32_t, V>& c) {
    p.push_uint32(static_cast<uint32_t>(c.size()));
    for (const auto& [key, value] : c) {
        p.push_uint32(key);
        detail::pushElement(p, value);
    }
}

template <typename T>
void unmarshal_container(Unpack& up, std::vector<T>& c) {
    for (uint32_t count = up.pop_uint32(); count > 0; --count) c.push_back(detail::popElement<T>(up));
}

template <typename T>
void unmarshal_container(Unpack& up, std::set<T>& c) {
    auto hint = c.begin();
    for (uint32_t count = up.pop_uint32(); count > 0; --count) {
        hint = std::next(c.insert(hint, detail::popElement<T>(up)));
    }
}

template <typename V>
void unmarshal_container(Unpack& up, std::map<uint32_t, V>& c) {
    auto hint = c.begin();
    for (uint32_t count = up.pop_uint32(); count > 0; --count) {
        const uint32_t key = up.pop_uint32();
        V value = detail::popElement<V>(up);
        hint = std::next(c.insert(hint, {key, std::move(value)}));
    }
}

}  // namespace pakt
