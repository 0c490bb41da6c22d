// A scenario: host settings and a list of steps, each with one action for
// the host to perform and optional checks on what the step produced.
//
// parseScenario validates everything that can be known before the module
// runs (keys, types, ranges, hex, records given as fields, session names)
// and raises ScenarioError naming the source, the step index and the reason.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "standin/pktcore/StandinSession.h"
#include "tools/sapp-host/records/JsonSupport.h"

namespace sapphost {

class ScenarioError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The stand-in host's switches. Unset members leave the current value.
struct HostSettings {
    std::optional<bool> logSink;             // GetLogInstance gives a sink (true) or null
    std::optional<bool> logEnabled;          // answer of both level checks
    std::map<uint32_t, uint32_t> databases;  // sid -> dwSGroupId
    std::optional<uint32_t> unzipLimit;      // the most bytes one zipped field inflates to
};

// getModule with a new session object named `session` whose getSid answers
// `sid`; no session: getModule(nullptr).
struct OpenAction {
    std::optional<std::string> session;
    uint32_t sid = 0;
};
struct SetSidAction {
    std::string session;
    uint32_t sid = 0;
};
// A SessionEvent delivered to the watchers of `session`.
struct EventAction {
    std::string session;
    int32_t type = 0;
    uint32_t sid = 0;
    uint32_t asid = 0;
    uint32_t pid = 0;
    uint64_t uid = 0;
    std::string udb;
    std::string cookie;
};
// onPacket; no body: a null packet.
struct PacketAction {
    uint32_t sid = 0;
    uint32_t uri = 0;
    uint32_t res = 200;
    std::optional<std::string> body;
};
// onRequest with an AppDataRequest head and fields; null: a null request.
struct RequestAction {
    uint32_t sid = 0;
    int32_t type = 1007;
    uint32_t appId = 0;
    std::string data;
    bool null = false;
};
struct AdvanceAction {
    uint64_t ms = 0;
};
struct LeaveAction {
    uint32_t sid = 0;
};
struct ReleaseAction {
    uint32_t sid = 0;
};
struct AskAction {
    std::string what;  // "uris", "reqtypes" or "modflag"
};
// Sets dwSGroupId of the channel database of `sid` (creating it), removes
// that database, or makes its query throw (or answer again).
struct DbAction {
    uint32_t sid = 0;
    std::optional<uint32_t> sGroupId;
    bool remove = false;
    std::optional<bool> queryThrows;
};
struct HostAction {
    HostSettings settings;
};
// Makes a host call fail (it throws standin::HostFault): one of session
// `session`'s calls (of the object the name stands for, or of the next one
// opened under it if none was yet); without a session, a call of the
// packets later steps deliver (unmarshal, getUri, ...) or of the process
// (the log sink's, the databases', pktcore's value classes' and functions').
// Once: the next call (for a packet's: the next packet's); Always: every
// call from now on; Off: the call works again.
struct FaultAction {
    std::optional<std::string> session;
    standin::HostCall call = standin::HostCall::SendRequest;
    standin::FaultMode mode = standin::FaultMode::Once;
};

using Action = std::variant<OpenAction, SetSidAction, EventAction, PacketAction, RequestAction, AdvanceAction,
                            LeaveAction, ReleaseAction, AskAction, DbAction, HostAction, FaultAction>;

struct Step {
    std::size_t index = 0;
    std::string action;  // the action's key: "open", "packet", ...
    Action what;
    std::string note;  // the author's explanation, shown by `run`
    std::vector<Json> expect;
    std::vector<Json> absent;
    bool exact = false;
    // Where the step and its checks are in the scenario's text: the step's
    // opening brace, each expect and absent object's, the "exact" key.
    TextPosition at;
    std::vector<TextPosition> expectAt;
    std::vector<TextPosition> absentAt;
    TextPosition exactAt;
};

// Whether the step's action calls into the module; set_sid, db, host and
// fault only change the stand-in host.
bool callsModule(const Step& step);

// What a scenario says besides its steps.
struct ScenarioHead {
    std::string source;  // file name, or a label for built-in text
    std::string name;
    HostSettings host;
    std::size_t stepCount = 0;
};

// A scenario with every step parsed and kept: for what looks at any step at
// any time (the report, the sweep, which plays the scenario many times).
struct Scenario : ScenarioHead {
    std::vector<Step> steps;
};

// Parses scenario text. `source` names it in error messages and defaults
// the name.
Scenario parseScenario(const std::string& text, const std::string& source);
// The text of a scenario file; ScenarioError when it cannot be read.
std::string readScenarioText(const std::string& path);
// Reads and parses a scenario file.
Scenario loadScenario(const std::string& path);

// A scenario played a step at a time. Made, it checks the whole text as
// parseScenario does (a bad scenario is found before anything plays) and
// keeps only the text and the head; forEachStep parses the text again and
// hands on each step as soon as it is read, then drops it. So the parsed
// steps never accumulate: what stays between steps is the text, the head
// and the session names opened so far.
class StreamedScenario {
public:
    StreamedScenario(std::string text, const std::string& source);

    const ScenarioHead& head() const { return m_head; }
    // Each step in order; whatever onStep throws passes through unchanged.
    void forEachStep(const std::function<void(const Step&)>& onStep) const;

private:
    std::string m_text;
    ScenarioHead m_head;
};

// Reads a scenario file to be played a step at a time.
StreamedScenario streamScenario(const std::string& path);

}  // namespace sapphost
