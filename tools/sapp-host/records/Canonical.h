// The one form the records write. Bytes that decode may still not be in it:
// a set or map out of order or with repeated keys, a bool byte other than
// 0 or 1. Encoding the decoded fields writes the canonical bytes, so such
// input does not come back byte for byte; decode says so.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "tools/sapp-host/records/RecordJson.h"

namespace sapphost {

struct NonCanonical {
    std::string field;      // the first field whose bytes would change, e.g. "idSet[0]"
    std::size_t offset = 0;  // the first byte that would change
    std::string canonical;   // the bytes encode writes for the decoded fields
};

// Nothing when encoding `decoded`, the fields of `bytes` decoded as record
// `name`, gives back the bytes it was decoded from; otherwise where they
// first differ. Throws what encodeRecord throws (a decoding that does not
// encode is a fault of the mapping, not of the input).
std::optional<NonCanonical> checkCanonical(std::string_view name, std::string_view bytes, const Decoded& decoded);

}  // namespace sapphost
