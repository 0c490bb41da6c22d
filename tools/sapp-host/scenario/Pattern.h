// The patterns of a step's checks (expect, absent), read when the scenario
// is loaded against what trace lines can hold: a pattern names one kind of
// line the checks see, only keys a line of that kind has, and values of the
// types those keys hold (records' and events' fields by their field lists,
// sessions that were opened). A misspelt kind or key would make an absent
// check pass whatever the module does, and an expect check fail only when
// it runs; here it makes the scenario bad, naming the key and what is
// allowed there.
#pragma once

#include <set>
#include <string>

#include "tools/sapp-host/records/JsonSupport.h"

namespace sapphost {

// What reading a step's checks needs to know of the scenario so far.
struct PatternContext {
    // The session names opened up to and including the step.
    const std::set<std::string>& sessions;
};

// The kinds of line a check can name, in the order messages list them.
std::string patternKindsText();

// Reads the pattern of one check, {kind: {key: value, ...}}, and gives it
// back in the form lines show its values, so that it compares as they do:
// byte strings as lowercase hex, URIs as numbers, map keys as decimal
// numbers. Every form the trace prints is read: hex with or without "0x",
// text as printed, a URI as a number or as "number|service". Raises
// InputError naming the key and listing what is allowed.
Json readPattern(const Json& pattern, const PatternContext& context, const std::string& where);

}  // namespace sapphost
