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
std::string describeDifference(const FieldDifference& difference);
// {"path", "expected", "got"}, a side without a value left out, and back.
Json differenceJson(const FieldDifference& difference);
FieldDifference differenceFromJson(const Json& json);

struct CheckFailure {
    std::string label;  // "expect[1]", "exact", "absent[0]"
    std::string text;   // what failed: "expect[1] {...}: matches no line"
    // The line `differences` compares with: the line an exact check found
    // wrong, or, for an expectation that matches no line, the line of its
    // kind that differs in the fewest fields (`nearest`).
    std::optional<std::size_t> line;
    bool nearest = false;
    std::vector<FieldDifference> differences;
};

// Evaluates the checks of `step` on its lines (its own step line and recv
// lines excluded) as they are produced, one at a time:
// - expect: each pattern must match a distinct line, in the order given;
// - exact: the lines are exactly as many as the expect patterns and line i
//   matches pattern i;
// - absent: no line matches any of the patterns.
// Of the lines it keeps only what the checks need (nothing at all for a step
// without checks): the indexes of the lines each expect pattern matches,
// the first line each absent pattern matches, the first line an exact check
// finds wrong, the nearest line of each pattern that matches none so far,
// and the text of the step's first kShownLines lines for the report.
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
    struct Expected {
        std::vector<std::size_t> matches;  // the lines it matches, in order
        std::optional<std::size_t> nearest;
        std::vector<FieldDifference> nearestDifferences;
    };

    const Step& m_step;
    bool m_checks;
    std::size_t m_count = 0;
    std::vector<Expected> m_expected;                    // expect without exact
    std::optional<CheckFailure> m_exactMismatch;         // exact
    std::vector<std::optional<std::size_t>> m_absent;   // first line each absent pattern matches
    std::vector<std::string> m_shown;
};

// All of a step's lines through a StepChecker.
std::vector<CheckFailure> checkStep(const Step& step, std::span<const Json> lines);

}  // namespace sapphost
