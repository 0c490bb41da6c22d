// Hooks that follow a reading walk.
#pragma once

#include <cstdint>

#include "marshal/Unpack.h"

namespace pakt {

// A reading walk can be followed by a hook, which is told, with the reader
// at that point, where each field and element begins and ends and what is
// read next: sapp-host finds that way where a record's fields lie in its
// bytes and names the one that runs short (tools/sapp-host/records/FieldSpans.h),
// by the grammar the module reads with. A walk reading from a
// HookedUnpack<Hook> calls its hook; one reading from a plain Unpack, as
// all of the module's do, calls NoHook, whose calls are empty and compile
// to nothing. A Marshallable's own unmarshal is not followed.
struct NoHook {
    void field(const Unpack&, const char* /*name*/) {}  // a field of a record begins
    void element(const Unpack&, uint32_t /*index*/) {}  // an element (a map entry: its key first) begins
    void key(const Unpack&, uint32_t /*key*/) {}        // the map entry begun last has this key
    void end(const Unpack&) {}                          // the field or element begun last ends
    template <class E>
    void beforeValue(const Unpack&, E) {}  // a value of encoding E is read next
    void beforeCount(const Unpack&) {}     // a container's u32 count is read next
    void beforeKey(const Unpack&) {}       // a map entry's u32 key is read next
};

// An Unpack whose reading walks call `hook`.
template <class Hook>
class HookedUnpack : public Unpack {
public:
    HookedUnpack(const void* data, std::size_t size, Hook& hook) : Unpack(data, size), m_hook(hook) {}
    Hook& hook() const { return m_hook; }

private:
    Hook& m_hook;
};

namespace detail {

// The hook of a walk reading from `up`.
inline NoHook hookOf(const Unpack&) { return {}; }
template <class Hook>
Hook& hookOf(const HookedUnpack<Hook>& up) {
    return up.hook();
}

}  // namespace detail

}  // namespace pakt
