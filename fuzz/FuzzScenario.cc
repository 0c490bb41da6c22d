// fuzz_scenario: sapp-host's readers of user input on arbitrary text. The
// first byte picks the reader: the scenario parser, decode (with the record
// and --strict from the next bytes) or encode (the record from the next
// byte); the rest is the text. Each must give a result or a clear error of
// its own; any other exception, crash or sanitizer report is a finding.
// decode and encode run as the commands do, in the command line's error
// path (runCommand), their output discarded.
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <streambuf>
#include <string>

#include "fuzz/FuzzInput.h"
#include "tools/sapp-host/cli/CommandLine.h"
#include "tools/sapp-host/records/RecordJson.h"
#include "tools/sapp-host/scenario/Scenario.h"

namespace {

// Swallows what the commands print.
class NullBuffer : public std::streambuf {
protected:
    int overflow(int c) override { return c; }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

// The sink is never destroyed: the standard streams flush into it at exit,
// after the function's statics are gone.
void silence() {
    static NullBuffer* const sink = new NullBuffer;
    static const bool done = [] {
        std::cout.rdbuf(sink);
        std::cerr.rdbuf(sink);
        return true;
    }();
    (void)done;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    sappfuzz::noteInputSize("fuzz_scenario", size);
    silence();
    sappfuzz::FuzzInput in(data, size);
    const uint8_t mode = in.byte() % 3;
    if (mode == 0) {
        try {
            sapphost::parseScenario(in.rest(), "fuzz.json");
        } catch (const sapphost::ScenarioError&) {
        }
        return 0;
    }
    static const std::vector<std::string> records = sapphost::recordNames();
    sapphost::Options options;
    options.command = mode == 1 ? "decode" : "encode";
    options.set("--record", records[in.byte() % records.size()]);
    if (mode == 1 && (in.byte() & 1)) options.set("--strict");
    options.args.push_back(in.rest());
    if (options.args[0] == "-") return 0;  // standard input
    sapphost::runCommand(options);
    return 0;
}
