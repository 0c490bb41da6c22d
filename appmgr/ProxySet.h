// An app's proxies: each id once, walked in ascending order (the SDK V2
// uplink sends one message per proxy in that order, the V3 uplink lists
// them in it).
//
// Apps have a handful of proxies, so the set is a sorted vector: a walk
// reads one array, a replacement (a session-service pack, a V3 add or proxy
// update) sorts the new ids once, in place and in time linear in their
// number (ProxySet.cc), and adding one id (a V2 add) moves at most the ids
// after it. So that a long run of single additions to a large set
// cannot cost each of them the size of the set, a set of more than
// kFlatLimit ids that is added to anywhere but at its end moves into an
// ordered tree, where an addition costs O(log n); the next replacement makes
// it a vector again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <vector>

class ProxySet {
public:
    // The most ids a vector holds when one is added out of order.
    static constexpr std::size_t kFlatLimit = 64;

    // Replaces the set with `ids`, in any order, repeats dropped.
    void assign(const std::vector<uint64_t>& ids);
    // The same, taking the vector's storage; `ids` is left with the set's
    // old ids.
    void assign(std::vector<uint64_t>&& ids);
    void insert(uint64_t id);
    void clear();

    std::size_t size() const { return m_tree ? m_tree->size() : m_sorted.size(); }
    bool empty() const { return size() == 0; }
    // True while the ids are a vector (for the tests).
    bool flat() const { return !m_tree; }

    // Calls f(id) for each id, ascending.
    template <class F>
    void forEach(F&& f) const {
        if (m_tree) {
            for (const uint64_t id : *m_tree) f(id);
        } else {
            for (const uint64_t id : m_sorted) f(id);
        }
    }
    // The ids, ascending, as a vector.
    void copyTo(std::vector<uint64_t>& out) const;

private:
    // Sorts m_sorted, which is not ascending, drops its repeats and its
    // spare room.
    void normalise();

    std::vector<uint64_t> m_sorted;          // the ids while flat; empty otherwise
    std::unique_ptr<std::set<uint64_t>> m_tree;  // the ids once a large set was added to out of order
};
