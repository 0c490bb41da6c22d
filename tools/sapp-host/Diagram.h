// A trace as a Mermaid sequence diagram, for people: the participants
// Server, Host, Module and Client; the host's calls, inbound packets and
// requests, sends and posted events as arrows labelled with the record or
// event name and its key fields (URI, app ids, sequence number); timer tasks,
// clock advances, host-side changes and exceptions as notes. Log lines are
// left out.
#pragma once

#include <string>
#include <vector>

#include "tools/sapp-host/JsonSupport.h"
#include "tools/sapp-host/Scenario.h"

namespace sapphost {

// The diagram of `trace`, which playing `scenario` produced; text that
// renders in any Mermaid-aware viewer, starting "sequenceDiagram".
std::string sequenceDiagram(const Scenario& scenario, const std::vector<Json>& trace);

// The same, a trace line at a time: the diagram's first lines (the
// participants), then the diagram lines of each trace line in turn (none
// for a log line).
std::string diagramHeader();
std::string diagramLines(const Scenario& scenario, const Json& line);

}  // namespace sapphost
