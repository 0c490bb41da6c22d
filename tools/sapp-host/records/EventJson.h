// Client events as JSON: the fields after the event head, by the event's
// code, as their field lists name them (FieldJson.h conventions).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/ClientRecords.h"
#include "tools/sapp-host/records/JsonSupport.h"

namespace sapphost {

// The fields of a client event after its head; an unknown code gives an
// empty object.
Json eventFields(const AppEvent& event);
// EVENT_APP_DATA and so on; empty for an unknown code.
std::string_view eventName(uint32_t type);
// The display tree (JsonSupport.h) of the fields eventFields gave for an
// event of code `type`: wide strings as text, byte strings readable.
Json displayEventFields(uint32_t type, const Json& fields);
// writeDisplay(displayEventFields(type, fields)), without making the
// display tree.
std::string writeEventDisplay(uint32_t type, const Json& fields);

// The code of the event named `name` (EVENT_APP_DATA ...); none for others.
std::optional<uint32_t> eventTypeNamed(std::string_view name);
// "EVENT_APP_ADDED (1031), ...": the events with fields, for messages.
std::string eventNamesText();
// The events' names alone.
std::vector<std::string_view> eventNames();

// One client event's code, name and fields (outlineOf in FieldJson.h).
struct EventOutline {
    uint32_t type;
    std::string_view name;
    std::string fields;
};
// Every client event, in ClientEvents.h's order.
std::vector<EventOutline> eventOutlines();
// A check's pattern of an event's fields (patternOf in FieldJson.h): those
// of the event of code `type`, or, without one, of any event they fit.
Json eventFieldsPattern(std::optional<uint32_t> type, const Json& fields, const std::string& where);

}  // namespace sapphost
