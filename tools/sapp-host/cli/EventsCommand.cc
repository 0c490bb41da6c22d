// events: the client events the module posts, with their codes and fields,
// as the module's event list gives them (protocol/ClientEvents.h).
#include <algorithm>
#include <cstddef>
#include <iomanip>
#include <iostream>
#include <string>
#include <vector>

#include "tools/sapp-host/cli/Commands.h"
#include "tools/sapp-host/records/EventJson.h"

namespace sapphost {

namespace {

int eventsCommand(const Options& options) {
    const bool markdown = options.has("--markdown");
    const std::vector<EventOutline> events = eventOutlines();
    std::size_t nameWidth = 0;
    for (const EventOutline& event : events) nameWidth = std::max(nameWidth, event.name.size());
    if (markdown) std::cout << "| code | name | fields |\n|---|---|---|\n";
    for (const EventOutline& event : events) {
        if (markdown) {
            std::cout << "| " << event.type << " | `" << event.name << "` | " << event.fields << " |\n";
        } else {
            std::string fields = event.fields;
            std::erase(fields, '`');
            std::cout << std::left << std::setw(6) << event.type << std::setw(static_cast<int>(nameWidth + 2))
                      << event.name << fields << '\n';
        }
    }
    return kExitOk;
}

}  // namespace

const Command kEventsCommand = {
    "events",
    "",
    "list the client events the module posts: code, name and fields",
    R"(Lists every client event the module posts to the client side, in code
order: its code, its name as traces and checks write it, and the fields
after the event's head as the JSON of a trace names them. A map keyed by id
shows as {...}, a list of records as [{...}], a nested record as {...}
with its fields.
)",
    R"(Exit status: 0.
)",
    [](const Options& options) { requireArguments(options, 0, 0, "events takes no argument"); },
    eventsCommand,
};

}  // namespace sapphost
