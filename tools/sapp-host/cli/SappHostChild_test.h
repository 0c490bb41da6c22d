// sapp-host run as a child of a test: where it is, how to run it, files of
// the test's own, and the JSON lines it prints.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tools/sapp-host/records/JsonSupport.h"
#include "tools/sapp-host/platform/Process.h"

namespace sapphost::childtest {

inline std::string besideThisTest(const std::string& file) {
    const std::string self = selfExecutablePath();
    return self.substr(0, self.find_last_of("/\\") + 1) + file;
}

// Runs sapp-host; its output with Windows line ends made plain.
inline ChildResult sappHost(const std::vector<std::string>& args) {
    ChildResult result = runChild(besideThisTest(SAPP_HOST_EXE_NAME), args);
    std::erase(result.output, '\r');
    return result;
}

// A file of this test process's own: CTest runs tests side by side, and
// other builds' test runs may share the temporary folder.
inline std::string scratchFile(const std::string& name) {
    static const std::string run = std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    return testing::TempDir() + "sapp-host-" + run + "-" +
           testing::UnitTest::GetInstance()->current_test_info()->name() + "-" + name;
}

// The JSON lines of a run with --json.
inline std::vector<Json> jsonLines(const std::string& output) {
    std::vector<Json> lines;
    std::size_t begin = 0;
    for (std::size_t end; (end = output.find('\n', begin)) != std::string::npos; begin = end + 1) {
        lines.push_back(Json::parse(output.substr(begin, end - begin)));
    }
    return lines;
}

// The lines of run --json as trace lines: the virtual time each carries
// beside its kind taken off (the summary line has none).
inline std::vector<Json> runJsonLines(const std::string& output) {
    std::vector<Json> lines = jsonLines(output);
    for (Json& line : lines) line.erase("time");
    return lines;
}

}  // namespace sapphost::childtest
