// The checks of a scenario step: expect, absent and exact, and where a line
// differs from what a check expected.
//
// A partial object matches a trace line when every key it has is present in
// the line with an equal value; objects inside are compared the same way,
// arrays and scalars exactly (objects inside arrays regardless of key order,
// numbers by value). A nested payload that a line shows as an object (see
// PayloadJson.h) is also matched by its hex: a pattern that gives such a
// field as a string is compared with the payload's bytes.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "tools/sapp-host/records/JsonSupport.h"

namespace sapphost {

struct Step;

// Equality with objects compared as key sets, numbers by value.
bool jsonEqual(const Json& a, const Json& b);
bool partialMatch(const Json& pattern, const Json& line);

// A field where a line differs from a pattern, by its path in the line
// ("send.fields.data.seqNum"); a side without a value lacks the field.
struct FieldDifference {
    std::string path;
    std::optional<Json> expected;
    std::optional<Json> actual;
};
// Every field where `line` fails the partial match of `pattern` (nested
// payloads compared the way partialMatch compares them); none when it
// matches.
std::vector<FieldDifference> differences(const Json& pattern, const Json& line);
// "data.seqNum: expected 2, got 1"; long values cut around where they differ.
// Between byte strings where one side spells text, both readings follow:
// "appData: expected "cafe", got "63616665"; as bytes: expected 0xcafe, got
// the text "cafe" (...)".
std::string describeDifference(const FieldDifference& difference);
// {"path", "expected", "got"}, a side without a value left out, and back.
Json differenceJson(const FieldDifference& difference);
FieldDifference differenceFromJson(const Json& json);

struct CheckFailure {
    std::string label;  // "expect[1]", "exact", "absent[0]"
    std::string text;   // what failed: "expect[1] {...}: matches no line"
    // Where the check is in the scenario's text: its object (for exact, the
    // expect object a line fails, or the "exact" key); unknown when the step
    // was not read from a text.
    TextPosition at;
    // The line `differences` compares with: the line an exact check found
    // wrong, or, for an expectation that matches no line, the line of its
    // kind that differs in the fewest fields (`nearest`).
    std::optional<std::size_t> line;
    bool nearest = false;
    std::vector<FieldDifference> differences;
};

// The patterns of one kind of check, found by the lines they may match. A
// line is compared only with the patterns of its kind (the line's one key)
// that give the same value as the line for their first member with a
// string, integer, boolean or null value (a log's text, a send's uri, an
// event's type), and with the patterns of its kind without such a member;
// a pattern that names no single kind is compared with every line.
class PatternIndex {
public:
    void add(const Json& pattern, std::size_t id);
    // Calls f(id) for each pattern that may match `line`; no other can.
    template <typename F> void forCandidates(const Json& line, F&& f) const {
        for (const std::size_t id : m_everywhere) f(id);
        if (!line.is_object() || line.size() != 1 || !line.begin()->is_object()) {
            for (const std::size_t id : m_all) f(id);
            return;
        }
        const auto kind = m_kinds.find(line.begin().key());
        if (kind == m_kinds.end()) return;
        for (const std::size_t id : kind->second.unindexed) f(id);
        const Json& body = line.begin().value();
        for (const std::string& key : kind->second.keys) {
            const auto value = body.find(key);
            if (value == body.end() || !indexable(*value)) continue;
            const auto bucket = kind->second.byValue.find(bucketKey(key, *value));
            if (bucket == kind->second.byValue.end()) continue;
            for (const std::size_t id : bucket->second) f(id);
        }
    }

private:
    struct Kind {
        std::vector<std::string> keys;  // the members the kind's patterns are indexed by
        std::unordered_map<std::string, std::vector<std::size_t>> byValue;
        std::vector<std::size_t> unindexed;
    };
    static bool indexable(const Json& value) {
        return value.is_string() || value.is_number_integer() || value.is_boolean() || value.is_null();
    }
    static std::string bucketKey(const std::string& key, const Json& value);

    std::unordered_map<std::string, Kind> m_kinds;
    std::vector<std::size_t> m_everywhere;
    std::vector<std::size_t> m_all;  // for a line that is not of one kind
};

// Evaluates the checks of `step` on its lines (its own step line and recv
// lines excluded) as they are produced, one at a time:
// - expect: each pattern must match a distinct line, in the order given;
// - exact: the lines are exactly as many as the expect patterns and line i
//   matches pattern i;
// - absent: no line matches any of the patterns.
// A line is compared only with the patterns that may match it (PatternIndex),
// and patterns given more than once are evaluated once, so that a long
// list of expectations costs in proportion to its lines and patterns, not
// their product.
// Of the lines it keeps only what the checks need (nothing at all for a step
// without checks): the indexes of the lines each expect pattern matches,
// the first line each absent pattern matches, the first line an exact check
// finds wrong, the nearest line so far of each pattern that matches none,
// the first kShownLines lines of each kind an expect pattern names that not
// every pattern of the kind was compared with (for the nearest line of a
// pattern that no line was compared with), and the text of
// the step's first kShownLines lines for the report.
class StepChecker {
public:
    static constexpr std::size_t kShownLines = 100;

    // `step` outlives the checker.
    explicit StepChecker(const Step& step);
    void add(const Json& line);
    // The failed checks, in the order expect (or exact), absent.
    std::vector<CheckFailure> finish() const;

    std::size_t lineCount() const { return m_count; }
    // Compact JSON of the first kShownLines lines, when the step has checks.
    const std::vector<std::string>& shownLines() const { return m_shown; }

private:
    // One distinct expect pattern.
    struct Expected {
        const Json* pattern = nullptr;
        std::vector<std::size_t> matches;  // the lines it matches, in order
        std::optional<std::size_t> nearest;
        std::vector<FieldDifference> nearestDifferences;
    };

    const Step& m_step;
    bool m_checks;
    std::size_t m_count = 0;
    std::vector<Expected> m_expected;  // expect without exact, each distinct pattern once
    std::vector<std::size_t> m_expectedOf;  // expect[i]: its entry of m_expected
    PatternIndex m_expectedIndex;
    // Per kind of line an expect pattern names: how many distinct patterns
    // name it, how many lines of it came, and those of its first
    // kShownLines lines that some pattern of the kind was not compared with.
    struct FirstOfKind {
        std::size_t patterns = 0;
        std::size_t seen = 0;
        std::vector<std::pair<std::size_t, Json>> lines;
    };
    std::unordered_map<std::string, FirstOfKind> m_firstOfKind;
    std::optional<CheckFailure> m_exactMismatch;         // exact
    std::vector<std::optional<std::size_t>> m_absent;   // first line each absent pattern matches
    PatternIndex m_absentIndex;
    std::vector<std::string> m_shown;
};

// All of a step's lines through a StepChecker.
std::vector<CheckFailure> checkStep(const Step& step, std::span<const Json> lines);

}  // namespace sapphost
