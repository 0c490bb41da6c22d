// A trace as a sequence diagram, for people: the participants
// Server, Host, Module and Client; the host's calls, inbound packets and
// requests, sends and posted events as arrows labelled with the record or
// event name and its key fields (URI, app ids, sequence number); timer tasks,
// clock advances, host-side changes and exceptions as notes. Log lines are
// left out. The rows are drawn as Mermaid text here and as SVG by the HTML
// report (Report.h), so both show the same diagram.
#pragma once

#include <string>
#include <vector>

#include "tools/sapp-host/records/JsonSupport.h"
#include "tools/sapp-host/scenario/Scenario.h"

namespace sapphost {

// One row of the diagram: an arrow from one participant to another (a call,
// or a reply drawn dashed) or a note over one participant (`to` == `from`).
// Participants are "Server", "Host", "Module" and "Client".
struct DiagramRow {
    enum class Type { Call, Reply, Note };
    const char* from;
    const char* to;
    Type type;
    std::string text;
};

// The rows of one trace line of `scenario`: a step line gives the host's
// action of that step (none for packets and requests, which their recv
// lines draw), a log line none.
std::vector<DiagramRow> diagramRows(const Scenario& scenario, const Json& line);
// The same, given the step a step line opens (for other lines unused; none
// draws a step line as nothing).
std::vector<DiagramRow> diagramRows(const Step* step, const Json& line);

// The diagram of `trace`, which playing `scenario` produced; text that
// renders in any Mermaid-aware viewer, starting "sequenceDiagram".
std::string sequenceDiagram(const Scenario& scenario, const std::vector<Json>& trace);

// The same, a trace line at a time: the diagram's first lines (the
// participants), then the diagram lines of each trace line in turn (none
// for a log line).
std::string diagramHeader();
std::string diagramLines(const Scenario& scenario, const Json& line);
std::string diagramLines(const Step* step, const Json& line);

}  // namespace sapphost
