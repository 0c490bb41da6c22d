// The HTML report of `report` and `check --html`: the scenarios played, each
// with its result, its sequence diagram, its steps (input, every trace line,
// the checks and how they came out) and every record's fields and bytes,
// in one self-contained page that opens from disk with no network.
//
// The page (tools/sapp-host/report/page.*) is compiled into sapp-host; the
// report data is JSON embedded in it, which the page renders. The data's
// shape is documented in docs/sapp-host-formats.md ("Report data").
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/sapp-host/records/JsonSupport.h"
#include "tools/sapp-host/report/Junit.h"
#include "tools/sapp-host/scenario/Matcher.h"
#include "tools/sapp-host/scenario/Scenario.h"

namespace sapphost {

// A trace line and the virtual time (ms) it was produced at.
struct TracedLine {
    uint64_t time = 0;
    Json line;
};

// One scenario's part of the report data. `scenario` is the parsed file (none
// when it could not be read); `trace` is every line its run printed, in
// order. The checks are evaluated again on the trace, by the code `run` and
// `check` use, so that passed checks can be shown beside failed ones.
// `page` is the path of the page to be written: the steps link to the
// scenario file by its path relative to the page's folder (no link without
// one), so that the page can be moved along with the files it names.
Json reportScenario(std::size_t index, const ScenarioOutcome& outcome, const std::optional<Scenario>& scenario,
                    const std::vector<TracedLine>& trace, const std::string& page = {});

// What a send line's record would be if it matched a check: its fields with
// each difference's expected value put in (and a field the check wants
// absent taken out), encoded by its record: {"hex", "fields", "record"}, the
// record as the report data gives one. {"error": why} when those fields do
// not encode; null when a difference lies outside the fields or the line has
// no record.
Json expectedRecord(const Json& line, const std::vector<FieldDifference>& differences);

// The whole report data: where it was made, with which module, the totals
// and the scenarios (reportScenario). The module is named by its path
// relative to the folder of the page at `page`, or by its file name when it
// has none (another drive), never by an absolute path.
Json reportData(const std::string& module, const std::string& generated, Json scenarios, const std::string& page);

// The page with `data` embedded.
std::string reportPage(const Json& data);

// The current UTC time as "2026-12-07T04:30:00Z".
std::string utcTimestamp();

}  // namespace sapphost
