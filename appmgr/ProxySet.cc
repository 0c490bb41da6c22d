#include "appmgr/ProxySet.h"

#include <algorithm>
#include <functional>

void ProxySet::assign(const std::vector<uint64_t>& ids) {
    m_tree.reset();
    m_sorted.assign(ids.begin(), ids.end());
    // Servers list proxies ascending; only other lists are sorted.
    const auto notAscending = [this] {
        return std::adjacent_find(m_sorted.begin(), m_sorted.end(), std::greater_equal<>()) != m_sorted.end();
    };
    if (!notAscending()) return;
    // Runs of one id go first, in one pass: a list repeating one proxy is
    // then one id, not a sort.
    m_sorted.erase(std::unique(m_sorted.begin(), m_sorted.end()), m_sorted.end());
    if (notAscending()) {
        std::sort(m_sorted.begin(), m_sorted.end());
        m_sorted.erase(std::unique(m_sorted.begin(), m_sorted.end()), m_sorted.end());
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
