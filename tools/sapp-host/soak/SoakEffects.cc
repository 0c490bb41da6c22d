#include "tools/sapp-host/soak/SoakEffects.h"

#include <variant>

#include "marshal/Errors.h"
#include "protocol/ClientEvents.h"
#include "protocol/PacketVisitor.h"

namespace sapphost::soak {

namespace ps = protocol::session;

namespace {

std::string eventLine(const standin::PostedEvent& posted) {
    switch (posted.type) {
    case EVENT_APP_ADDED: return addedLine(posted.as<AppAddedEvent>().info.appId);
    case EVENT_APPS_ADDED: return appsAddedLine(posted.as<AppsAddedEvent>().appIds);
    case EVENT_APP_REMOVED: return removedLine(posted.as<AppRemovedEvent>().appId);
    case EVENT_APPS_DELETED: return appsDeletedLine(posted.as<AppsDeletedEvent>().appIds);
    case EVENT_APP_DATA: return dataLine(posted.as<AppDataEvent>().appId, posted.as<AppDataEvent>().data);
    default: return "event " + std::to_string(posted.type);
    }
}

// What the soak compares of each packet the module sends: the carriers'
// app and proxies; nothing of the app and announce queries.
std::string sentLine(const ps::PGetAppsReq&) { return {}; }
std::string sentLine(const ps::PGetAnnounceApps&) { return {}; }
std::string sentLine(const ps::PUserMsg3& msg) {
    return v2SendLine(decoded<ps::AppUplinkV2>(msg.data).header.appId, msg.proxyId);
}
std::string sentLine(const ps::PAppMsgToSDK& msg) { return v3SendLine(msg.appId, msg.proxyIds); }

std::string sendLine(const standin::SentRequest& sent) {
    std::string line = "send URI " + std::to_string(sent.uri);
    try {
        ps::forEachPacket([&](auto row) {
            using P = decltype(row);
            if constexpr (ps::isDecoded<P> && ps::isOutbound<P>) {
                if (P::uri == sent.uri) line = sentLine(decoded<typename P::Record>(sent.body));
            }
        });
    } catch (const pakt::UnpackError& e) {
        return "send URI " + std::to_string(sent.uri) + " that does not decode: " + e.what();
    }
    return line;
}

}  // namespace

const char* thrownName(Thrown thrown) {
    switch (thrown) {
    case Thrown::Nothing: return "nothing";
    case Thrown::UnpackError: return "pakt::UnpackError";
    case Thrown::HostFault: return "the host's fault";
    }
    return "?";
}

std::string effectLine(const standin::Entry& entry) {
    if (const auto* event = std::get_if<standin::PostedEvent>(&entry)) return eventLine(*event);
    if (const auto* sent = std::get_if<standin::SentRequest>(&entry)) return sendLine(*sent);
    return {};
}

std::string joined(const Effects& lines) {
    if (lines.empty()) return "(nothing)";
    std::string out;
    for (const std::string& line : lines) out += (out.empty() ? "" : "; ") + line;
    return out;
}

std::string takenOver(const RegistryModel& model, const Effects& actual) {
    for (const std::string& line : actual) {
        for (const std::string prefix : {"event APP_ADDED app ", "event APP_REMOVED app "}) {
            if (line.rfind(prefix, 0) != 0) continue;
            const auto app = static_cast<uint32_t>(std::stoul(line.substr(prefix.size())));
            if (model.ownedBySession(app)) {
                return "app " + std::to_string(app) + " is the session service's, but an app-platform message " +
                       (prefix.find("ADDED") != std::string::npos ? "added" : "removed") + " it: ";
            }
        }
    }
    return {};
}

}  // namespace sapphost::soak
