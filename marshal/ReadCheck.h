// Checking that bytes read as a record, a container or an integer, without
// building it: the reads' bounds checks alone, at a fraction of the read's
// cost. A list can so be checked to read whole before any of it is built.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <type_traits>
#include <utility>

#include "marshal/Encodings.h"
#include "marshal/Errors.h"
#include "marshal/Fields.h"
#include "marshal/Unpack.h"

namespace pakt {

namespace detail {

// Where a read of a T from [at, end) would end, or null where it would
// fail: the reads' bounds checks alone, building nothing and throwing
// nothing, on a cursor the compiler keeps in a register (an Unpack's lives
// in memory, since a read that throws must leave it as it was). A run of
// integers is passed at once.
template <class T>
const char* readEnd(const char* at, const char* end);

inline const char* passBytes(const char* at, const char* end, std::size_t n) {
    return static_cast<std::size_t>(end - at) < n ? nullptr : at + n;
}

// A little-endian count or length into `v`; null where it does not fit.
template <class U>
const char* passFixed(const char* at, const char* end, U& v) {
    if (static_cast<std::size_t>(end - at) < sizeof(U)) return nullptr;
    v = 0;
    for (std::size_t i = 0; i < sizeof(U); ++i) {
        v = static_cast<U>(v | static_cast<U>(static_cast<unsigned char>(at[i])) << (8 * i));
    }
    return at + sizeof(U);
}

// Walks a field list for readEnd; `at` is null from the first field that
// would fail on. Fixed-size fields are added up and checked together with
// whatever comes next (the compiler folds the sums): the answer is the same
// as checking each, for fewer checks.
struct ReadEndWalker {
    const char* at;
    const char* end;
    std::size_t pending = 0;  // bytes of fixed-size fields not yet checked

    template <class E, class T>
        requires Fits<E, T>
    void operator()(E, const char*, const T&) {
        if constexpr (requires { typename E::View; }) {
            // A byte run: its length in E::minBytes bytes, then the bytes.
            using Length = std::conditional_t<E::minBytes == sizeof(uint16_t), uint16_t, uint32_t>;
            Length n = 0;
            if (at) at = passBytes(at, end, flush());
            if (at) at = passFixed(at, end, n);
            if (at) at = passBytes(at, end, n);
        } else {
            pending += E::minBytes;
        }
    }
    template <class T>
        requires Nested<T>
    void operator()(const char*, const T&) {
        if (at) at = passBytes(at, end, flush());
        if (at) at = readEnd<std::remove_cvref_t<T>>(at, end);
    }
    // The record's end: what is still pending.
    const char* finish() {
        if (at) at = passBytes(at, end, flush());
        return at;
    }

private:
    std::size_t flush() { return std::exchange(pending, 0); }
};

// A record for a walk to name the fields of; the walk reads none of them.
template <class T>
const T& shapeOf() {
    static const T shape{};
    return shape;
}

template <class T>
const char* readRecordEnd(const T& shape, const char* at, const char* end) {
    ReadEndWalker walker{at, end};
    T::fields(shape, walker);
    return walker.finish();
}

template <class T>
const char* readEnd(const char* at, const char* end) {
    if constexpr (Container<T>) {
        using E = ElementOf<T>;
        uint32_t count = 0;
        at = passFixed(at, end, count);
        if (!at) return nullptr;
        if constexpr (std::is_integral_v<E> && !KeyedContainer<T>) {
            return passBytes(at, end, std::size_t{count} * sizeof(E));
        } else if constexpr (HasFields<E>) {
            // The records' shape is fetched once for the whole list.
            const E& shape = shapeOf<E>();
            for (; count > 0 && at; --count) {
                if constexpr (KeyedContainer<T>) {
                    at = passBytes(at, end, sizeof(uint32_t));
                    if (!at) return nullptr;
                }
                at = readRecordEnd(shape, at, end);
            }
            return at;
        } else {
            for (; count > 0 && at; --count) {
                if constexpr (KeyedContainer<T>) {
                    at = passBytes(at, end, sizeof(uint32_t));
                    if (!at) return nullptr;
                }
                at = readEnd<E>(at, end);
            }
            return at;
        }
    } else if constexpr (std::is_integral_v<T>) {
        return passBytes(at, end, sizeof(T));
    } else if constexpr (HasFields<T>) {
        return readRecordEnd(shapeOf<T>(), at, end);
    } else {
        // A Marshallable reads itself: only its own read can tell.
        Unpack up(at, static_cast<std::size_t>(end - at));
        try {
            T value;
            value.unmarshal(up);
            return up.data();
        } catch (const UnpackError&) {
            return nullptr;
        }
    }
}

}  // namespace detail

// Whether an R (a record, a container or an integer) reads from `bytes` as
// unpackFields would read it, without building it: the same bounds, checked
// at a fraction of the read's cost. Bytes after it do not matter, as they do
// not to the read.
template <class R>
bool readable(std::string_view bytes) {
    return detail::readEnd<R>(bytes.data(), bytes.data() + bytes.size()) != nullptr;
}

// Throws what reading an R from `bytes` would throw, building nothing: a
// list can be checked to read whole before any of it is built. Where it
// fails, the reads of the real walk (detail::skipElement) find the read that
// runs short and throw its message.
template <class R>
void checkReadable(std::string_view bytes) {
    if (readable<R>(bytes)) return;
    Unpack up(bytes.data(), bytes.size());
    detail::skipElement<R>(up);
}

}  // namespace pakt
