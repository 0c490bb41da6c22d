// The checks of a scenario step: expect, absent and exact.
//
// A partial object matches a trace line when every key it has is present in
// the line with an equal value; objects inside are compared the same way,
// arrays and scalars exactly (objects inside arrays regardless of key order,
// numbers by value). A nested payload that a line shows as an object (see
// PayloadJson.h) is also matched by its hex: a pattern that gives such a
// field as a string is compared with the payload's bytes.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "tools/sapp-host/JsonSupport.h"

namespace sapphost {

struct Step;

// Equality with objects compared as key sets, numbers by value.
bool jsonEqual(const Json& a, const Json& b);
bool partialMatch(const Json& pattern, const Json& line);

// Evaluates the checks of `step` against the lines it produced (its own step
// line excluded). Returns one description per failed check, empty when all
// pass:
// - expect: each pattern must match a distinct line, in the order given;
// - exact: the lines are exactly as many as the expect patterns and line i
//   matches pattern i;
// - absent: no line matches any of the patterns.
std::vector<std::string> checkStep(const Step& step, std::span<const Json> lines);

}  // namespace sapphost
