// A hash table from the integer ids a server chooses (app ids, source ids)
// to values: the registry's lookups.
//
// Open addressing with linear probing over a power-of-two array of slots
// that is never more than half full; an erase moves the slots after it back
// instead of leaving a tombstone, so a table that has seen many ids come and
// go probes as if they had never been there.
//
// An id picks its slot by a hash keyed once per process (idKeys): with a
// fixed hash a server could send thousands of ids that all want the same
// slot and make every insertion scan all of them (perf/Shapes.cc,
// "add-colliding"); a server that does not know the keys cannot choose ids
// that collide, so each lookup and insertion costs O(1) expected whatever
// ids it sends. The hash multiplies the id, masked, by a random odd factor
// (multiply-shift, a universal family: two ids share a slot with
// probability at most 2 / slots), then folds the product's high half into
// its low half and multiplies again. Multiply-shift alone spreads pairs of
// ids but not runs: a range of consecutive ids (app ids often are) lands on
// an arithmetic progression of slots, and for some factors on neighbouring
// ones, which linear probing turns into one long run (measured: 100,000
// consecutive sources cost some processes 19 M instructions more to insert
// than others). The second round breaks that regularity. Nothing walks the
// table, and nothing may: its order is the hash's, different in every
// process.
//
// Inserting or erasing may move values: a pointer or reference into the
// table holds until the next insertion or erase.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

#include "support/Platform.h"

// The per-process keys of the hash.
struct IdKeys {
    uint64_t mask;    // xored into the id first
    uint64_t factor;  // odd
};

// Draws the keys from std::random_device (and, should it fail, from the
// clock and the addresses the loader chose).
IdKeys drawIdKeys();

// This process's keys, drawn at the first use.
inline const IdKeys& idKeys() {
    static const IdKeys keys = drawIdKeys();
    return keys;
}

// The id's hash: its top bits pick the slot.
inline uint64_t hashId(uint64_t id, const IdKeys& keys) {
    uint64_t h = (id ^ keys.mask) * keys.factor;
    h ^= h >> 32;
    return h * 0x9E3779B97F4A7C15ull;
}

template <class Key, class Value>
class IdMap {
    static_assert(std::is_unsigned_v<Key> && sizeof(Key) <= sizeof(uint64_t), "ids are unsigned integers");

public:
    IdMap() : m_keys(idKeys()) {}
    // With other keys than the process's (for the tests).
    explicit IdMap(const IdKeys& keys) : m_keys(keys) {}

    std::size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    // Slots held (for the tests): a power of two, at least twice size().
    std::size_t capacity() const { return m_slots.size(); }

    Value* find(Key key) {
        if (m_size == 0) return nullptr;
        if (Slot& recent = m_slots[m_recent]; recent.used && recent.key == key) return &recent.value;
        for (std::size_t i = home(key);; i = next(i)) {
            Slot& slot = m_slots[i];
            if (!slot.used) return nullptr;
            if (slot.key == key) {
                m_recent = i;
                return &slot.value;
            }
        }
    }
    const Value* find(Key key) const { return const_cast<IdMap*>(this)->find(key); }

    // find without the shortcut through the slot found last, for a walk
    // whose ids change at every step (the shortcut would only cost it).
    const Value* lookup(Key key) const {
        if (m_size == 0) return nullptr;
        for (std::size_t i = home(key);; i = next(i)) {
            const Slot& slot = m_slots[i];
            if (!slot.used) return nullptr;
            if (slot.key == key) return &slot.value;
        }
    }

    // The value of `key`, default-constructed first if it was absent (then
    // the flag is true).
    std::pair<Value*, bool> tryEmplace(Key key) { return emplace<true>(key); }
    // tryEmplace without the shortcut through the slot found last, for a
    // walk whose ids change at every step (an app list's acceptance: the
    // shortcut cost it 5 instructions an app).
    std::pair<Value*, bool> tryEmplaceWalking(Key key) { return emplace<false>(key); }
    Value& operator[](Key key) { return *tryEmplace(key).first; }

    // Removes `key` and its value, if present.
    void erase(Key key) {
        if (m_size == 0) return;
        std::size_t hole = home(key);
        for (; m_slots[hole].used; hole = next(hole)) {
            if (m_slots[hole].key == key) break;
        }
        if (!m_slots[hole].used) return;
        // Every slot of the run after the hole whose home does not lie
        // between the hole and itself would no longer be found past the
        // hole: it moves into the hole, which moves to where it was.
        for (std::size_t i = next(hole); m_slots[i].used; i = next(i)) {
            const std::size_t want = home(m_slots[i].key);
            const bool staysPut = hole < i ? (hole < want && want <= i) : (hole < want || want <= i);
            if (staysPut) continue;
            m_slots[hole].key = m_slots[i].key;
            m_slots[hole].value = std::move(m_slots[i].value);
            hole = i;
        }
        m_slots[hole].clear();
        --m_size;
    }

    // How many slots past the one it hashes to `key` sits, or size() if it
    // is absent (for the tests: the probes a lookup of it makes, less one).
    std::size_t distanceFromHome(Key key) const {
        for (std::size_t i = m_size == 0 ? 0 : home(key), distance = 0; m_size != 0 && m_slots[i].used;
             i = next(i), ++distance) {
            if (m_slots[i].key == key) return distance;
        }
        return m_size;
    }

    // Room for `count` entries without growing.
    void reserve(std::size_t count) {
        if (2 * count > m_slots.size()) rehash(2 * count);
    }

private:
    // tryEmplace, through the slot found last first when ViaRecent.
    template <bool ViaRecent>
    std::pair<Value*, bool> emplace(Key key) {
        if (!m_slots.empty()) {
            if constexpr (ViaRecent) {
                if (Slot& recent = m_slots[m_recent]; recent.used && recent.key == key) return {&recent.value, false};
            }
            std::size_t i = home(key);
            for (; m_slots[i].used; i = next(i)) {
                if (m_slots[i].key == key) {
                    m_recent = i;
                    return {&m_slots[i].value, false};
                }
            }
            if (2 * (m_size + 1) <= m_slots.size()) return {&take(i, key), true};
        }
        rehash(2 * (m_size + 1));
        std::size_t i = home(key);
        while (m_slots[i].used) i = next(i);
        return {&take(i, key), true};
    }

    // A slot's value exists only while the slot is used: a fresh table is
    // not written through (of a table of apps, that cost more than a tenth
    // of reading a list of them), only its flags are.
    struct Slot {
        Slot() {}
        ~Slot() { clear(); }
        Slot(const Slot&) = delete;
        Slot& operator=(const Slot&) = delete;

        template <class... Args>
        Value& fill(Key k, Args&&... args) {
            // Checked here, where a value nested in the class that holds the
            // table is complete.
            static_assert(std::is_nothrow_constructible_v<Value, Args...>, "a slot is filled without a way to fail");
            std::construct_at(&value, std::forward<Args>(args)...);
            key = k;
            used = true;
            return value;
        }
        void clear() {
            if (used) std::destroy_at(&value);
            used = false;
        }

        union {
            Value value;  // while used
        };
        Key key;  // while used
        bool used = false;
    };

    std::size_t home(Key key) const { return static_cast<std::size_t>(hashId(key, m_keys) >> m_shift); }
    std::size_t next(std::size_t i) const { return (i + 1) & m_mask; }

    Value& take(std::size_t i, Key key) {
        ++m_size;
        return m_slots[i].fill(key);
    }

    // Makes the table at least `slots` slots (and at least 16), a power of
    // two, and puts every entry back.
    SAPP_COLD void rehash(std::size_t slots) {
        std::size_t count = 16;
        unsigned shift = 60;
        while (count < slots) {
            count *= 2;
            --shift;
        }
        std::vector<Slot> old(count);
        old.swap(m_slots);
        m_shift = shift;
        m_mask = count - 1;
        for (Slot& slot : old) {
            if (!slot.used) continue;
            std::size_t i = home(slot.key);
            while (m_slots[i].used) i = next(i);
            m_slots[i].fill(slot.key, std::move(slot.value));
        }
    }

    IdKeys m_keys;  // the process's, kept here to save looking them up
    std::vector<Slot> m_slots;  // empty until the first insertion
    // The slot where an id was last found: a run of messages for one app,
    // or from one source, finds it there without hashing. Checked before
    // use, since any insertion or erase may have moved what it held.
    std::size_t m_recent = 0;
    std::size_t m_size = 0;
    std::size_t m_mask = 0;  // slots - 1
    unsigned m_shift = 60;   // 64 - log2(slots): the hash's top bits pick the slot
};
