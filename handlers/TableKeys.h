// Shared by the two dispatch tables (packets by URI, client requests by
// type): handing their keys to the host.
#pragma once

#include <cstdint>

// Writes the keys of `table`, an ordered map, into `out` in ascending order;
// `out` has room for table.size() values.
template <typename Table>
void writeTableKeys(const Table& table, uint32_t* out) {
    for (const auto& entry : table) *out++ = static_cast<uint32_t>(entry.first);
}
