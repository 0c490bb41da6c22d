#include "tools/sapp-host/records/EventJson.h"

#include <array>
#include <type_traits>

#include "protocol/ClientEvents.h"
#include "tools/sapp-host/records/FieldJson.h"

namespace sapphost {

namespace {

struct EventKind {
    uint32_t type;
    std::string_view name;
    Json (*display)(const Json& fields);
    void (*write)(std::string& out, const Json& fields);
    Json (*pattern)(const Json& fields, const std::string& where);
    std::string (*outline)();
};

template <typename E> Json fieldsPattern(const Json& fields, const std::string& where) {
    return patternOf<E>(fields, where);
}

template <typename E> constexpr EventKind kind() {
    return {E::kType, E::kName, displayOf<E>, writeDisplayOf<E>, fieldsPattern<E>, outlineOf<E>};
}

template <typename... E> constexpr std::array<EventKind, sizeof...(E)> kindsOf(EventList<E...>) {
    return {kind<E>()...};
}

// One entry per client event, in ClientEvents.h's order.
constexpr auto kEvents = kindsOf(ClientEvents{});

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

std::string writeEventDisplay(uint32_t type, const Json& fields) {
    const EventKind* kind = findEvent(type);
    if (!kind) return writeDisplay(fields);
    std::string out;
    kind->write(out, fields);
    return out;
}

std::optional<uint32_t> eventTypeNamed(std::string_view name) {
    for (const EventKind& kind : kEvents) {
        if (kind.name == name) return kind.type;
    }
    return std::nullopt;
}

std::vector<std::string_view> eventNames() {
    std::vector<std::string_view> names;
    for (const EventKind& kind : kEvents) names.push_back(kind.name);
    return names;
}

std::string eventNamesText() {
    std::string text;
    for (const EventKind& kind : kEvents) {
        text += concat({text.empty() ? "" : ", ", kind.name, " (", std::to_string(kind.type), ")"});
    }
    return text;
}

Json eventFieldsPattern(std::optional<uint32_t> type, const Json& fields, const std::string& where) {
    if (type) {
        if (const EventKind* kind = findEvent(*type)) return kind->pattern(fields, where);
        if (!requireObject(fields, where).empty()) {
            throw InputError(where + ": an event of code " + std::to_string(*type) +
                             " has no fields (events with fields: " + eventNamesText() + ")");
        }
        return fields;
    }
    // Of any event: the first whose fields it fits.
    std::string errors;
    for (const EventKind& kind : kEvents) {
        try {
            return kind.pattern(fields, where);
        } catch (const InputError& e) {
            errors += concat({errors.empty() ? "" : "; ", kind.name, ": ", e.what()});
        }
    }
    throw InputError(where + ": the fields of no event (give \"type\" to check them against one): " + errors);
}

std::vector<EventOutline> eventOutlines() {
    std::vector<EventOutline> out;
    out.reserve(kEvents.size());
    for (const EventKind& kind : kEvents) out.push_back({kind.type, kind.name, kind.outline()});
    return out;
}

}  // namespace sapphost
