// Trace lines: one JSON object per observable effect, with one key naming
// its kind (step, log, send, event, task, watch, answer, error, fault), the
// echo of what the host delivers (recv), and their readable one-line
// rendering. What a check may say of each kind is in Pattern.cc (kKinds): a
// key added to a line goes there too (ScenarioFolderTest reads every line of
// every scenario's trace as a pattern).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "host/ClientRecords.h"
#include "standin/pktcore/StandinSession.h"
#include "standin/tarnbase/StandinLog.h"
#include "tools/sapp-host/records/JsonSupport.h"

namespace sapphost::trace {

// Opens the output of step `index`, whose action key is `action`, with the
// step's note when it has one.
Json step(std::size_t index, std::string_view action, std::string_view note = {});
// A packet the host delivers with onPacket: URI, result code, the body's
// bytes and their decoding by URI; without a body, a null packet.
Json recvPacket(uint32_t sid, uint32_t uri, uint32_t res, std::string_view body);
Json recvNullPacket(uint32_t sid);
// A client request the host delivers with onRequest; null: a null request.
Json recvRequest(uint32_t sid, const AppDataRequest* request);
// A line handed to the log sink's write or to DoLog2.
Json log(const standin::LogRecord& record);
// A sendRequest of `session`: the body's bytes and their decoding by URI.
Json send(std::string_view session, const standin::SentRequest& request);
// A postAppEvent of `session`, with the event record's fields.
Json event(std::string_view session, const standin::PostedEvent& event);
Json task(std::string_view session, const standin::TaskCall& call);
Json watch(std::string_view session, const standin::WatchCall& call);
// What a module call answered: {"answer": {key: value}}.
Json answer(std::string_view key, Json value);
// An exception that left a module entry point.
Json error(std::string_view type, std::string_view what);
// A host call that failed because the scenario asked it to: a call of
// `session`, of a packet for `sid`, or of the process (the log sink's, the
// databases', ...).
Json fault(std::string_view session, standin::HostCall call);
Json packetFault(uint32_t sid, standin::HostCall call);
Json fault(standin::HostCall call);

// Whether the line echoes the host's own input (recv), which checks skip.
bool isInput(const Json& line);

// The line as one readable text line (without a newline); byte strings as
// quoted text where printable, else hex (see displayBytes).
std::string render(const Json& line);

}  // namespace sapphost::trace
