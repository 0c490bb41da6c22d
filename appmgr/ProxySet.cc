#include "appmgr/ProxySet.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <functional>
#include <utility>
#include <vector>

namespace {

// Lists this short are sorted by comparison: at most 8 levels.
constexpr std::ptrdiff_t kComparisonSortLimit = 256;

// Sorts [first, last) ascending, in place, in O(n) whatever the values and
// their order: a radix sort from the most significant byte in which the ids
// differ (an American flag sort), each level moving every id once into its
// byte's bucket and then sorting each bucket on the bytes below. A level
// takes a byte off, so no id is moved more than eight times (proxy ids that
// fit 32 bits, four); a bucket whose ids are all equal is done. A comparison
// sort would cost each id the log of the list's length (half a million
// proxies of two values in turn, 8 KB zipped, took 81 M instructions), and a
// radix sort from the least significant byte a second list as large.
void sortIds(uint64_t* first, uint64_t* last) {
    if (last - first <= kComparisonSortLimit) {
        std::sort(first, last);
        return;
    }
    uint64_t differ = 0;  // the bits in which some id differs from the first
    for (const uint64_t* p = first; p != last; ++p) differ |= *p ^ *first;
    if (differ == 0) return;
    const unsigned shift = static_cast<unsigned>(63 - std::countl_zero(differ)) & ~7u;
    const auto digit = [shift](uint64_t id) { return static_cast<std::size_t>((id >> shift) & 0xFF); };

    std::array<std::ptrdiff_t, 257> start{};  // bucket b holds [start[b], start[b + 1])
    for (const uint64_t* p = first; p != last; ++p) ++start[digit(*p) + 1];
    for (std::size_t b = 1; b < start.size(); ++b) start[b] += start[b - 1];
    std::array<std::ptrdiff_t, 256> next{};  // where bucket b's next id goes
    std::copy(start.begin(), start.end() - 1, next.begin());
    // Each id is carried along a cycle of displaced ids until it lands in
    // its own bucket: every move puts one id where it belongs.
    for (std::size_t b = 0; b < next.size(); ++b) {
        while (next[b] < start[b + 1]) {
            uint64_t id = first[next[b]];
            for (std::size_t d = digit(id); d != b; d = digit(id)) std::swap(id, first[next[d]++]);
            first[next[b]++] = id;
        }
    }
    for (std::size_t b = 0; b + 1 < start.size(); ++b) {
        if (start[b + 1] - start[b] > 1) sortIds(first + start[b], first + start[b + 1]);
    }
}

// Servers list proxies ascending: the assigns check that first, and only
// other lists are normalised (a call that saves and restores what the sort
// needs, more than the check of a short list costs).
bool ascending(const std::vector<uint64_t>& ids) {
    return std::adjacent_find(ids.begin(), ids.end(), std::greater_equal<>()) == ids.end();
}

}  // namespace

void ProxySet::assign(const std::vector<uint64_t>& ids) {
    m_tree.reset();
    m_sorted.assign(ids.begin(), ids.end());
    if (!ascending(m_sorted)) normalise();
}

// Swapped, not move-assigned: `ids` takes the storage the set had, which its
// owner frees with it (an app list's pack), and the set frees nothing here.
void ProxySet::assign(std::vector<uint64_t>&& ids) {
    m_tree.reset();
    m_sorted.swap(ids);
    if (!ascending(m_sorted)) normalise();
}

void ProxySet::normalise() {
    // Runs of one id go first, in one pass: a list repeating one proxy is
    // then one id, not a sort.
    m_sorted.erase(std::unique(m_sorted.begin(), m_sorted.end()), m_sorted.end());
    if (!ascending(m_sorted)) {
        if (std::adjacent_find(m_sorted.begin(), m_sorted.end(), std::less_equal<>()) == m_sorted.end()) {
            // Descending: the order a sorted insertion likes least, and no sort is needed.
            std::reverse(m_sorted.begin(), m_sorted.end());
        } else {
            sortIds(m_sorted.data(), m_sorted.data() + m_sorted.size());
            m_sorted.erase(std::unique(m_sorted.begin(), m_sorted.end()), m_sorted.end());
        }
    }
    // The registry keeps the set: not the room the repeats took.
    if (m_sorted.capacity() > 2 * m_sorted.size() + 16) m_sorted.shrink_to_fit();
}

void ProxySet::insert(uint64_t id) {
    if (m_tree) {
        m_tree->insert(id);
        return;
    }
    if (m_sorted.empty() || m_sorted.back() < id) {
        m_sorted.push_back(id);
        return;
    }
    const auto at = std::lower_bound(m_sorted.begin(), m_sorted.end(), id);
    if (*at == id) return;
    if (m_sorted.size() < kFlatLimit) {
        m_sorted.insert(at, id);
        return;
    }
    auto tree = std::make_unique<std::set<uint64_t>>(m_sorted.begin(), m_sorted.end());
    tree->insert(id);
    m_tree = std::move(tree);
    m_sorted.clear();
    m_sorted.shrink_to_fit();
}

void ProxySet::clear() {
    m_tree.reset();
    m_sorted.clear();
}

void ProxySet::copyTo(std::vector<uint64_t>& out) const {
    if (m_tree) {
        out.assign(m_tree->begin(), m_tree->end());
    } else {
        out.assign(m_sorted.begin(), m_sorted.end());
    }
}
