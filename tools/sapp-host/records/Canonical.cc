#include "tools/sapp-host/records/Canonical.h"

#include <algorithm>

#include "tools/sapp-host/records/FieldSpans.h"

namespace sapphost {

std::optional<NonCanonical> checkCanonical(std::string_view name, std::string_view bytes, const Decoded& decoded) {
    const std::string_view original = bytes.substr(0, decoded.consumed);
    std::string canonical = encodeRecord(name, decoded.fields, "the decoded fields");
    if (canonical == original) return std::nullopt;

    const auto [at, unused] = std::mismatch(original.begin(), original.end(), canonical.begin(), canonical.end());
    // The bytes before `offset` agree, so the fields up to there lie alike in
    // both; the innermost field of the original that holds it is the first
    // to change.
    std::size_t offset = static_cast<std::size_t>(at - original.begin());
    const std::size_t probe = std::min(offset, original.empty() ? 0 : original.size() - 1);
    NonCanonical result{"the record", offset, std::move(canonical)};
    std::size_t narrowest = original.size() + 1;
    for (const FieldSpan& span : fieldSpans(name, original)) {
        const std::size_t width = span.end - span.begin;
        if (span.begin <= probe && probe < span.end && width < narrowest) {
            narrowest = width;
            result.field = span.path;
        }
    }
    return result;
}

}  // namespace sapphost
