#include "tools/sapp-host/Matcher.h"

#include <optional>

#include "tools/sapp-host/RecordJson.h"
#include "tools/sapp-host/Scenario.h"

namespace sapphost {

namespace {

// The partial match of values as the line shows them.
bool partialMatchAsShown(const Json& pattern, const Json& line) {
    if (pattern.is_object() && line.is_object()) {
        for (const auto& [key, value] : pattern.items()) {
            const auto it = line.find(key);
            if (it == line.end() || !partialMatchAsShown(value, *it)) return false;
        }
        return true;
    }
    return jsonEqual(pattern, line);
}

// The string member `key` of `object`, or null.
const std::string* stringAt(const Json& object, const char* key) {
    const auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->get_ptr<const std::string*>() : nullptr;
}

// `line` with each nested payload that it shows as an object replaced by its
// hex where `pattern` gives that field as a string (by the pattern's own
// text when it gives the same bytes); none when there is no such field.
// Lines show records as {kind: {"record", "hex", "fields"}}; a line's hex is
// always well formed.
std::optional<Json> withPayloadsAsHex(const Json& pattern, const Json& line) {
    if (!pattern.is_object() || pattern.size() != 1 || !line.is_object() || line.size() != 1) return std::nullopt;
    const std::string& kind = pattern.begin().key();
    const Json& wanted = pattern.begin().value();
    const auto body = line.find(kind);
    if (body == line.end() || !body->is_object() || !wanted.is_object()) return std::nullopt;
    const auto wantedFields = wanted.find("fields");
    const auto shownFields = body->find("fields");
    const std::string* record = stringAt(*body, "record");
    const std::string* hex = stringAt(*body, "hex");
    if (wantedFields == wanted.end() || !wantedFields->is_object() || shownFields == body->end() || !record || !hex) {
        return std::nullopt;
    }
    std::optional<Json> adjusted;
    for (const auto& [field, value] : wantedFields->items()) {
        const auto shown = shownFields->find(field);
        if (!value.is_string() || shown == shownFields->end() || !shown->is_object()) continue;
        const std::optional<std::string> payload = payloadHex(*record, fromHex(*hex), field);
        if (!payload) continue;
        if (!adjusted) adjusted = line;
        // The pattern's hex is input: compared as bytes, in any case and spacing.
        std::optional<std::string> given;
        try {
            given = toHex(fromHex(value.get<std::string>()));
        } catch (const InputError&) {
        }
        (*adjusted)[kind]["fields"][field] = given == payload ? value : Json(*payload);
    }
    return adjusted;
}

}  // namespace

bool jsonEqual(const Json& a, const Json& b) {
    if (a.is_object() && b.is_object()) {
        if (a.size() != b.size()) return false;
        for (const auto& [key, value] : a.items()) {
            const auto it = b.find(key);
            if (it == b.end() || !jsonEqual(value, *it)) return false;
        }
        return true;
    }
    if (a.is_array() && b.is_array()) {
        if (a.size() != b.size()) return false;
        for (std::size_t i = 0; i < a.size(); ++i) {
            if (!jsonEqual(a[i], b[i])) return false;
        }
        return true;
    }
    return a == b;
}

bool partialMatch(const Json& pattern, const Json& line) {
    if (const std::optional<Json> adjusted = withPayloadsAsHex(pattern, line)) {
        return partialMatchAsShown(pattern, *adjusted);
    }
    return partialMatchAsShown(pattern, line);
}

namespace {

std::string label(const char* check, std::size_t i, const Json& pattern) {
    return std::string(check) + "[" + std::to_string(i) + "] " + dumpCompact(pattern);
}

void checkExpect(const std::vector<Json>& expect, std::span<const Json> lines, std::vector<std::string>& failures) {
    std::size_t next = 0;  // first line the next pattern may match
    for (std::size_t i = 0; i < expect.size(); ++i) {
        std::size_t at = next;
        while (at < lines.size() && !partialMatch(expect[i], lines[at])) ++at;
        if (at < lines.size()) {
            next = at + 1;
            continue;
        }
        bool earlier = false;
        for (std::size_t j = 0; j < next && !earlier; ++j) earlier = partialMatch(expect[i], lines[j]);
        failures.push_back(label("expect", i, expect[i]) +
                           (earlier
                                ? ": matches only lines before the one matched by expect[" + std::to_string(i - 1) + "]"
                                : ": matches no line"));
    }
}

void checkExact(const std::vector<Json>& expect, std::span<const Json> lines, std::vector<std::string>& failures) {
    for (std::size_t i = 0; i < expect.size() && i < lines.size(); ++i) {
        if (!partialMatch(expect[i], lines[i])) {
            failures.push_back("exact: line " + std::to_string(i) + " does not match " + label("expect", i, expect[i]));
            return;
        }
    }
    if (expect.size() != lines.size()) {
        failures.push_back("exact: " + std::to_string(expect.size()) + " lines expected, " +
                           std::to_string(lines.size()) + " produced");
    }
}

void checkAbsent(const std::vector<Json>& absent, std::span<const Json> lines, std::vector<std::string>& failures) {
    for (std::size_t i = 0; i < absent.size(); ++i) {
        for (std::size_t j = 0; j < lines.size(); ++j) {
            if (partialMatch(absent[i], lines[j])) {
                failures.push_back(label("absent", i, absent[i]) + ": matches line " + std::to_string(j));
                break;
            }
        }
    }
}

}  // namespace

std::vector<std::string> checkStep(const Step& step, std::span<const Json> lines) {
    std::vector<std::string> failures;
    if (step.exact) {
        checkExact(step.expect, lines, failures);
    } else {
        checkExpect(step.expect, lines, failures);
    }
    checkAbsent(step.absent, lines, failures);
    return failures;
}

}  // namespace sapphost
