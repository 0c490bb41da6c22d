// The JUnit XML report of `check`, as CI servers read it: one test case per
// scenario; failed checks as failures, scenarios that cannot be played or
// whose process crashed or ran past its time as errors.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/sapp-host/records/JsonSupport.h"

namespace sapphost {

struct ScenarioOutcome {
    std::string file;
    std::string name;
    // "pass", "fail", "bad" (scenario error), "crash" or "timeout" (its
    // process ran past the time limit and was stopped)
    std::string result;
    // Of a crash or a timeout the first is the verdict and how the process
    // ended: "CRASH at step 3 (packet): the scenario's process ended with
    // signal 6 (Aborted)".
    std::vector<std::string> details;
    // Beside each detail of a failed scenario: the failed check as data
    // (failureJson in Runner.h): where it is, where a line differs from it.
    Json differences = Json::array();
    double seconds = 0;
    // Of a crash or a timeout: where the process was, "at step 3 (packet)",
    // "before its first step" or "after its last step"; and the step, when
    // one had begun.
    std::string where;
    std::optional<std::size_t> step;
    std::string action;
};

// The report: <testsuites> with one <testsuite> named `suite`, run on
// `hostname` from `timestamp` (local time, "2024-05-01T12:00:00").
std::string junitReport(const std::string& suite, const std::vector<ScenarioOutcome>& outcomes,
                        const std::string& timestamp, const std::string& hostname);
// The local time now as JUnit reports give it.
std::string junitTimestamp();

// `text` as XML character data or an attribute value: markup characters as
// entities, line ends in attributes as character references, and whatever
// XML 1.0 cannot carry (control characters, bytes that are not UTF-8)
// replaced by U+FFFD.
std::string xmlEscaped(std::string_view text, bool attribute);

}  // namespace sapphost
