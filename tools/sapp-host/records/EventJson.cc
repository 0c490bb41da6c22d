#include "tools/sapp-host/records/EventJson.h"

#include <type_traits>

#include "host/ClientEvents.h"
#include "tools/sapp-host/records/FieldJson.h"

namespace sapphost {

namespace {

struct EventKind {
    uint32_t type;
    std::string_view name;
    Json (*display)(const Json& fields);
};

const EventKind kEvents[] = {
    {EVENT_APP_ADDED, "EVENT_APP_ADDED", displayOf<AppAddedEvent>},
    {EVENT_APPS_ADDED, "EVENT_APPS_ADDED", displayOf<AppsAddedEvent>},
    {EVENT_APP_REMOVED, "EVENT_APP_REMOVED", displayOf<AppRemovedEvent>},
    {EVENT_APPS_DELETED, "EVENT_APPS_DELETED", displayOf<AppsDeletedEvent>},
    {EVENT_APP_DATA, "EVENT_APP_DATA", displayOf<AppDataEvent>},
    {EVENT_ANNOUNCE_APPS, "EVENT_ANNOUNCE_APPS", displayOf<AnnounceAppsEvent>},
};

const EventKind* findEvent(uint32_t type) {
    for (const EventKind& kind : kEvents) {
        if (kind.type == type) return &kind;
    }
    return nullptr;
}

}  // namespace

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
    const EventKind* kind = findEvent(type);
    return kind ? kind->name : std::string_view();
}

Json displayEventFields(uint32_t type, const Json& fields) {
    const EventKind* kind = findEvent(type);
    return kind ? kind->display(fields) : fields;
}

}  // namespace sapphost
