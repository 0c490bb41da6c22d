// Client events as JSON: the fields after the event head, by the event's
// code, as their field lists name them (FieldJson.h conventions).
#pragma once

#include <cstdint>
#include <string_view>

#include "host/ClientRecords.h"
#include "tools/sapp-host/JsonSupport.h"

namespace sapphost {

// The fields of a client event after its head; an unknown code gives an
// empty object.
Json eventFields(const AppEvent& event);
// EVENT_APP_DATA and so on; empty for an unknown code.
std::string_view eventName(uint32_t type);

}  // namespace sapphost
