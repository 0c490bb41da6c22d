#include "tools/sapp-host/scenario/Matcher.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <unordered_map>

#include "tools/sapp-host/records/RecordJson.h"
#include "tools/sapp-host/scenario/Scenario.h"

namespace sapphost {

namespace {

// Finds the members of one object by key for a walk over the keys of
// another, which mostly come in the same order (a pattern recorded from a
// line, a line against its own record): each lookup first tries the member
// after the one found last, and a large object gets an index of its keys
// when that guess fails. An ordered object's own find reads every member,
// which made comparing two maps of n entries cost n * n.
class Members {
public:
    explicit Members(const Json& object) : m_object(object.get_ref<const Json::object_t&>()) {}

    const Json* find(const std::string& key) {
        if (m_next < m_object.size() && memberAt(m_next).first == key) return &memberAt(m_next++).second;
        constexpr std::size_t kSmall = 16;
        if (m_object.size() <= kSmall) {
            for (std::size_t i = 0; i < m_object.size(); ++i) {
                if (memberAt(i).first == key) return found(i);
            }
            return nullptr;
        }
        if (m_index.empty()) {
            m_index.reserve(m_object.size());
            for (std::size_t i = 0; i < m_object.size(); ++i) m_index.emplace(memberAt(i).first, i);
        }
        const auto it = m_index.find(key);
        return it == m_index.end() ? nullptr : found(it->second);
    }

private:
    const Json::object_t::value_type& memberAt(std::size_t i) const { return *(m_object.begin() + i); }
    const Json* found(std::size_t i) {
        m_next = i + 1;
        return &memberAt(i).second;
    }

    const Json::object_t& m_object;
    std::size_t m_next = 0;
    std::unordered_map<std::string_view, std::size_t> m_index;
};

// The partial match of values as the line shows them.
bool partialMatchAsShown(const Json& pattern, const Json& line) {
    if (pattern.is_object() && line.is_object()) {
        Members members(line);
        for (const auto& [key, value] : pattern.items()) {
            const Json* member = members.find(key);
            if (!member || !partialMatchAsShown(value, *member)) return false;
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
        Members members(b);
        for (const auto& [key, value] : a.items()) {
            const Json* member = members.find(key);
            if (!member || !jsonEqual(value, *member)) return false;
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

void collectDifferences(const Json& want, const Json& got, const std::string& path, bool partial,
                        std::vector<FieldDifference>& out) {
    const auto at = [&path](const std::string& key) { return path.empty() ? key : path + "." + key; };
    if (want.is_object() && got.is_object()) {
        Members gotMembers(got);
        for (const auto& [key, value] : want.items()) {
            if (const Json* member = gotMembers.find(key)) {
                collectDifferences(value, *member, at(key), partial, out);
            } else {
                out.push_back({at(key), value, std::nullopt});
            }
        }
        if (partial) return;
        Members wantMembers(want);
        for (const auto& [key, value] : got.items()) {
            if (!wantMembers.find(key)) out.push_back({at(key), std::nullopt, value});
        }
        return;
    }
    // Arrays compare exactly, objects inside them as a whole.
    if (want.is_array() && got.is_array() && want.size() == got.size()) {
        for (std::size_t i = 0; i < want.size(); ++i) {
            collectDifferences(want[i], got[i], path + "[" + std::to_string(i) + "]", false, out);
        }
        return;
    }
    if (!jsonEqual(want, got)) out.push_back({path, want, got});
}

// A value for a message: compact JSON, a long one cut to about 60
// characters starting a little before character `from`.
std::string excerpt(const Json& value, std::size_t from = 0) {
    constexpr std::size_t kWidth = 60;
    const std::string text = dumpCompact(value);
    if (text.size() <= kWidth) return text;
    const std::size_t begin = from > 10 ? from - 10 : 0;
    return (begin > 0 ? "..." : "") + text.substr(begin, kWidth) + (begin + kWidth < text.size() ? "..." : "");
}

// A string as lines give byte strings, lowercase hex of at most 64 bytes,
// read as bytes: the text they spell when every byte is printable ASCII
// ("cafe" for "63616665"), else hex after 0x ("0xcafe"); none for any other
// value, which reads one way only.
std::optional<std::string> bytesReading(const Json& value, bool& text) {
    if (!value.is_string()) return std::nullopt;
    const std::string& hex = value.get_ref<const std::string&>();
    const auto lowerHex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); };
    if (hex.size() % 2 != 0 || hex.size() > 128 || !std::all_of(hex.begin(), hex.end(), lowerHex)) return std::nullopt;
    const std::string bytes = fromHex(hex);
    text = !bytes.empty() && std::all_of(bytes.begin(), bytes.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
    return text ? "the text " + dumpCompact(Json(bytes)) : "0x" + hex;
}

// Both readings of a difference between byte strings where one of them
// spells text: a check's string of hex digits is read as hex, any other
// string as text, and the plain values alone hide which was meant.
std::string bothReadings(const Json& expected, const Json& actual) {
    bool expectedText = false;
    bool actualText = false;
    const std::optional<std::string> want = bytesReading(expected, expectedText);
    const std::optional<std::string> got = bytesReading(actual, actualText);
    if (!want || !got || (!expectedText && !actualText)) return "";
    std::string out = "; as bytes: expected " + *want + ", got " + *got;
    const std::string& given = expected.get_ref<const std::string&>();
    if (actualText && fromHex(actual.get_ref<const std::string&>()) == given) {
        out += " (a check's string of hex digits is read as hex: for the text " + dumpCompact(Json(given)) +
               " give \"0x" + actual.get_ref<const std::string&>() + "\")";
    }
    return out;
}

}  // namespace

std::vector<FieldDifference> differences(const Json& pattern, const Json& line) {
    std::vector<FieldDifference> out;
    const std::optional<Json> adjusted = withPayloadsAsHex(pattern, line);
    collectDifferences(pattern, adjusted ? *adjusted : line, "", true, out);
    return out;
}

std::string describeDifference(const FieldDifference& d) {
    if (!d.actual) return d.path + ": expected " + excerpt(*d.expected) + ", but the line has no such field";
    if (!d.expected) return d.path + ": expected no such field, got " + excerpt(*d.actual);
    std::size_t from = 0;
    std::string where;
    if (d.expected->is_string() && d.actual->is_string()) {
        const std::string want = dumpCompact(*d.expected);
        const std::string got = dumpCompact(*d.actual);
        from = static_cast<std::size_t>(std::mismatch(want.begin(), want.end(), got.begin(), got.end()).first -
                                        want.begin());
        if (from > 1) where = " (from character " + std::to_string(from - 1) + ")";
    }
    return d.path + ": expected " + excerpt(*d.expected, from) + ", got " + excerpt(*d.actual, from) + where +
           bothReadings(*d.expected, *d.actual);
}

Json differenceJson(const FieldDifference& d) {
    Json out = Json::object();
    out["path"] = d.path;
    if (d.expected) out["expected"] = *d.expected;
    if (d.actual) out["got"] = *d.actual;
    return out;
}

FieldDifference differenceFromJson(const Json& json) {
    const auto path = json.find("path");
    FieldDifference d{path != json.end() && path->is_string() ? path->get<std::string>() : "", std::nullopt,
                      std::nullopt};
    if (json.contains("expected")) d.expected = json["expected"];
    if (json.contains("got")) d.actual = json["got"];
    return d;
}

void PatternIndex::add(const Json& pattern, std::size_t id) {
    m_all.push_back(id);
    if (!pattern.is_object() || pattern.size() != 1 || !pattern.begin()->is_object()) {
        m_everywhere.push_back(id);
        return;
    }
    Kind& kind = m_kinds[pattern.begin().key()];
    for (const auto& [key, value] : pattern.begin()->items()) {
        if (!indexable(value)) continue;
        if (std::find(kind.keys.begin(), kind.keys.end(), key) == kind.keys.end()) kind.keys.push_back(key);
        kind.byValue[bucketKey(key, value)].push_back(id);
        return;
    }
    kind.unindexed.push_back(id);
}

std::string PatternIndex::bucketKey(const std::string& key, const Json& value) {
    // Integers of either sign type dump alike, as they compare.
    return concat({key, std::string_view("\0", 1), dumpCompact(value)});
}

namespace {

std::string label(const char* check, std::size_t i) { return std::string(check) + "[" + std::to_string(i) + "]"; }

std::string labelled(const char* check, std::size_t i, const Json& pattern) {
    return label(check, i) + " " + dumpCompact(pattern);
}

bool hasChecks(const Step& step) { return step.exact || !step.expect.empty() || !step.absent.empty(); }

TextPosition positionOf(const std::vector<TextPosition>& positions, std::size_t i) {
    return i < positions.size() ? positions[i] : TextPosition{};
}

// The kind of line a pattern or a line is: its one key; empty for none.
std::string kindOf(const Json& value) {
    return value.is_object() && value.size() == 1 ? value.begin().key() : std::string();
}

}  // namespace

StepChecker::StepChecker(const Step& step)
    : m_step(step), m_checks(hasChecks(step)), m_absent(step.absent.size()) {
    if (!step.exact) {
        // A pattern given twice matches the same lines: it is evaluated once.
        std::unordered_map<std::string, std::size_t> distinct;
        for (const Json& pattern : step.expect) {
            const auto [it, added] = distinct.emplace(dumpCompact(pattern), m_expected.size());
            if (added) {
                m_expectedIndex.add(pattern, m_expected.size());
                m_expected.push_back({&pattern, {}, std::nullopt, {}});
                ++m_firstOfKind[kindOf(pattern)].patterns;
            }
            m_expectedOf.push_back(it->second);
        }
    }
    for (std::size_t i = 0; i < step.absent.size(); ++i) m_absentIndex.add(step.absent[i], i);
}

void StepChecker::add(const Json& line) {
    const std::size_t index = m_count++;
    if (!m_checks) return;
    if (m_shown.size() < kShownLines) m_shown.push_back(dumpCompact(line));
    if (m_step.exact) {
        if (!m_exactMismatch && index < m_step.expect.size() && !partialMatch(m_step.expect[index], line)) {
            m_exactMismatch = CheckFailure{"exact",
                                           "exact: line " + std::to_string(index) + " does not match " +
                                               labelled("expect", index, m_step.expect[index]),
                                           positionOf(m_step.expectAt, index),
                                           index,
                                           false,
                                           differences(m_step.expect[index], line)};
        }
    }
    const std::string kind = kindOf(line);
    std::size_t candidatesOfKind = 0;
    m_expectedIndex.forCandidates(line, [&](std::size_t i) {
        Expected& expected = m_expected[i];
        if (kindOf(*expected.pattern) == kind) ++candidatesOfKind;
        if (partialMatch(*expected.pattern, line)) {
            expected.matches.push_back(index);
        } else if (expected.matches.empty() && kindOf(*expected.pattern) == kindOf(line)) {
            std::vector<FieldDifference> found = differences(*expected.pattern, line);
            if (!expected.nearest || found.size() < expected.nearestDifferences.size()) {
                expected.nearest = index;
                expected.nearestDifferences = std::move(found);
            }
        }
    });
    // A line compared with every pattern of its kind is one no such
    // pattern can need later (each has a match or a nearest line), so it
    // is counted but not kept: a large line is copied only where needed.
    if (const auto first = m_firstOfKind.find(kind); first != m_firstOfKind.end() && first->second.seen++ < kShownLines &&
                                                     candidatesOfKind < first->second.patterns) {
        first->second.lines.emplace_back(index, line);
    }
    m_absentIndex.forCandidates(line, [&](std::size_t i) {
        if (!m_absent[i] && partialMatch(m_step.absent[i], line)) m_absent[i] = index;
    });
}

std::vector<CheckFailure> StepChecker::finish() const {
    std::vector<CheckFailure> failures;
    if (m_step.exact) {
        if (m_exactMismatch) {
            failures.push_back(*m_exactMismatch);
        } else if (m_step.expect.size() != m_count) {
            failures.push_back({"exact",
                                "exact: " + std::to_string(m_step.expect.size()) + " lines expected, " +
                                    std::to_string(m_count) + " produced",
                                m_step.exactAt, std::nullopt, false, {}});
        }
    }
    // Each pattern takes the first line it matches after the line the
    // previous match took; a pattern that matches none there leaves the
    // place as it was for the next.
    std::size_t next = 0;
    for (std::size_t i = 0; i < m_expectedOf.size(); ++i) {
        const Expected& expected = m_expected[m_expectedOf[i]];
        const auto at = std::lower_bound(expected.matches.begin(), expected.matches.end(), next);
        if (at != expected.matches.end()) {
            next = *at + 1;
            continue;
        }
        const std::string text = labelled("expect", i, m_step.expect[i]);
        if (!expected.matches.empty()) {
            failures.push_back({label("expect", i),
                                text + ": matches only lines before the one matched by expect[" +
                                    std::to_string(i - 1) + "]",
                                positionOf(m_step.expectAt, i), std::nullopt, false, {}});
            continue;
        }
        CheckFailure failure{label("expect", i), text + ": matches no line", positionOf(m_step.expectAt, i),
                             expected.nearest,   true,
                             expected.nearestDifferences};
        if (!failure.line) {
            // No line was compared with it (none gave its indexed value):
            // the nearest of the first lines of its kind.
            if (const auto first = m_firstOfKind.find(kindOf(*expected.pattern)); first != m_firstOfKind.end()) {
                for (const auto& [lineIndex, line] : first->second.lines) {
                    std::vector<FieldDifference> found = differences(*expected.pattern, line);
                    if (!failure.line || found.size() < failure.differences.size()) {
                        failure.line = lineIndex;
                        failure.differences = std::move(found);
                    }
                }
            }
        }
        failures.push_back(std::move(failure));
    }
    for (std::size_t i = 0; i < m_absent.size(); ++i) {
        if (m_absent[i]) {
            failures.push_back({label("absent", i),
                                labelled("absent", i, m_step.absent[i]) + ": matches line " +
                                    std::to_string(*m_absent[i]),
                                positionOf(m_step.absentAt, i), m_absent[i], false, {}});
        }
    }
    return failures;
}

std::vector<CheckFailure> checkStep(const Step& step, std::span<const Json> lines) {
    StepChecker checker(step);
    for (const Json& line : lines) checker.add(line);
    return checker.finish();
}

}  // namespace sapphost
