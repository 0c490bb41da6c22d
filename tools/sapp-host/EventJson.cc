#include "tools/sapp-host/EventJson.h"

#include <type_traits>

#include "host/ClientEvents.h"
#include "tools/sapp-host/FieldJson.h"

namespace sapphost {

Json eventFields(const AppEvent& event) {
    return visitClientEvent(event, [](const auto& concrete) -> Json {
        if constexpr (std::is_same_v<std::remove_cvref_t<decltype(concrete)>, AppEvent>) {
            return Json::object();
        } else {
            return toJson(concrete);
        }
    });
}

std::string_view eventName(uint32_t type) {
    switch (type) {
    case EVENT_APP_ADDED: return "EVENT_APP_ADDED";
    case EVENT_APPS_ADDED: return "EVENT_APPS_ADDED";
    case EVENT_APP_REMOVED: return "EVENT_APP_REMOVED";
    case EVENT_APPS_DELETED: return "EVENT_APPS_DELETED";
    case EVENT_APP_DATA: return "EVENT_APP_DATA";
    case EVENT_ANNOUNCE_APPS: return "EVENT_ANNOUNCE_APPS";
    default: return {};
    }
}

}  // namespace sapphost
