// A set of the 32-bit keys a map read has placed, for finding a repeated
// key without a search of the map (Fields.h, unmarshal_container).
//
// A map whose keys come in order places each in O(1) and never needs one.
// One whose keys repeat out of order would search the map's tree for every
// repeat: a list that deflate packs into a few KB can repeat a few thousand
// keys half a million times, each search some 15 levels deep. The set finds
// them in O(1) expected: open addressing, linear probing, never more than
// half full, hashed with keys drawn once per process (the keys of a map are
// the server's to choose; without secret keys it could choose ones that
// pile into one slot). Eight bytes a slot: a key, or kEmpty.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace pakt::detail {

class KeySet {
public:
    KeySet() : m_slots(kFirstSlots, kEmpty), m_mask(kFirstSlots - 1), m_shift(64 - kFirstBits) {}

    bool contains(uint32_t key) const {
        for (std::size_t i = home(key);; i = (i + 1) & m_mask) {
            if (m_slots[i] == kEmpty) return false;
            if (m_slots[i] == key) return true;
        }
    }

    // Adds a key the set does not hold.
    void insert(uint32_t key) {
        if (2 * (m_size + 1) > m_slots.size()) grow();
        place(key);
        ++m_size;
    }

private:
    static constexpr uint64_t kEmpty = ~uint64_t{0};
    static constexpr unsigned kFirstBits = 6;
    static constexpr std::size_t kFirstSlots = std::size_t{1} << kFirstBits;

    struct Factors {
        uint64_t first;
        uint64_t second;
    };
    // This process's factors, odd, drawn at the first use.
    static const Factors& factors() {
        static const Factors drawn = [] {
            uint64_t bits[4] = {};
            try {
                std::random_device device;
                for (uint64_t& b : bits) b = device();
            } catch (...) {
                // No entropy source: the addresses the loader chose, at least.
            }
            static const int local = 0;
            const auto where = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(&local));
            return Factors{((bits[0] << 32) ^ bits[1] ^ where) | 1, ((bits[2] << 32) ^ bits[3] ^ (where >> 7)) | 1};
        }();
        return drawn;
    }

    std::size_t home(uint32_t key) const {
        uint64_t h = key * m_factors.first;
        h ^= h >> 32;
        return static_cast<std::size_t>((h * m_factors.second) >> m_shift);
    }

    void place(uint32_t key) {
        std::size_t i = home(key);
        while (m_slots[i] != kEmpty) i = (i + 1) & m_mask;
        m_slots[i] = key;
    }

    void grow() {
        std::vector<uint64_t> old(2 * m_slots.size(), kEmpty);
        old.swap(m_slots);
        m_mask = m_slots.size() - 1;
        --m_shift;
        for (const uint64_t key : old) {
            if (key != kEmpty) place(static_cast<uint32_t>(key));
        }
    }

    Factors m_factors = factors();
    std::vector<uint64_t> m_slots;
    std::size_t m_size = 0;
    std::size_t m_mask;
    unsigned m_shift;  // 64 - log2(slots): the hash's top bits pick the slot
};

}  // namespace pakt::detail
