#include "tools/sapp-host/report/Diagram.h"

#include <string_view>
#include <variant>

#include "host/SessionEvent.h"

namespace sapphost {

namespace {

namespace ps = protocol::session;

std::string str(const Json& value) { return value.is_string() ? value.get<std::string>() : dumpCompact(value); }

// Label text Mermaid shows as it is: its statement separator, entity
// marker and HTML brackets as entity codes, line ends as spaces.
std::string label(std::string_view text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '#': out += "#35;"; break;
        case ';': out += "#59;"; break;
        case '<': out += "#60;"; break;
        case '>': out += "#62;"; break;
        case '\n':
        case '\r': out += ' '; break;
        default: out += c;
        }
    }
    return out;
}

// " app 5 seq 1", " apps 5, 6": the key fields of a record or event, also
// inside a decoded payload (data) or app description (info).
std::string keyFields(const Json& fields) {
    if (!fields.is_object()) return "";
    const Json* places[] = {&fields, nullptr, nullptr};
    if (const auto data = fields.find("data"); data != fields.end() && data->is_object()) places[1] = &*data;
    if (const auto info = fields.find("info"); info != fields.end() && info->is_object()) places[2] = &*info;
    const auto find = [&places](const char* key) -> const Json* {
        for (const Json* place : places) {
            if (place && place->contains(key)) return &(*place)[key];
        }
        return nullptr;
    };
    std::string out;
    if (const Json* appId = find("appId")) {
        out += " app " + str(*appId);
    } else if (const Json* appIds = find("appIds"); appIds && appIds->is_array() && !appIds->empty()) {
        out += appIds->size() == 1 ? " app " : " apps ";
        for (std::size_t i = 0; i < appIds->size(); ++i) out += (i ? ", " : "") + str((*appIds)[i]);
    }
    if (const Json* seqNum = find("seqNum")) out += " seq " + str(*seqNum);
    return out;
}

// "PAddAppReq uri 256978 apps 5, 6": a record as trace lines show it.
std::string recordLabel(const Json& b) {
    std::string out = (b["record"].is_null() ? std::string("body") : str(b["record"])) + " uri " + str(b["uri"]);
    if (b.contains("res") && b["res"] != 200) out += " res " + str(b["res"]);
    if (b.contains("fields")) out += keyFields(b["fields"]);
    if (b.contains("decodeError")) out += " (does not decode)";
    return out;
}

std::string sessionEventName(int32_t type) {
    switch (type) {
    case ps::EVENT_SESS_SID_ASID: return "EVENT_SESS_SID_ASID";
    case ps::EVENT_SESS_USER_INFO: return "EVENT_SESS_USER_INFO";
    case ps::EVENT_SESS_LEAVE: return "EVENT_SESS_LEAVE";
    case ps::EVENT_SESS_PID: return "EVENT_SESS_PID";
    case ps::EVENT_SESS_QUERY_APPS: return "EVENT_SESS_QUERY_APPS";
    default: return "session event";
    }
}

class DiagramWriter {
public:
    void arrow(const char* from, const char* to, const std::string& text, bool reply = false) {
        m_rows.push_back({from, to, reply ? DiagramRow::Type::Reply : DiagramRow::Type::Call, text});
    }
    void note(const char* over, const std::string& text) {
        m_rows.push_back({over, over, DiagramRow::Type::Note, text});
    }

    // What the host does in a step; packets and requests are drawn from
    // their recv lines.
    void operator()(const OpenAction& open) {
        const std::string session = open.session ? *open.session + ", sid " + std::to_string(open.sid) : "null";
        arrow("Host", "Module", "getModule(" + session + ")");
    }
    void operator()(const SetSidAction& set) {
        note("Host", set.session + "'s getSid answers " + std::to_string(set.sid));
    }
    void operator()(const EventAction& e) {
        std::string text = e.session + ": " + sessionEventName(e.type) + " (" + std::to_string(e.type) + ")";
        if (e.type == ps::EVENT_SESS_SID_ASID) {
            text += " sid " + std::to_string(e.sid) + " asid " + std::to_string(e.asid);
        }
        if (e.type == ps::EVENT_SESS_PID) text += " pid " + std::to_string(e.pid);
        arrow("Host", "Module", text);
    }
    void operator()(const PacketAction&) {}
    void operator()(const RequestAction&) {}
    void operator()(const AdvanceAction& a) { note("Host", "clock +" + std::to_string(a.ms) + " ms"); }
    void operator()(const LeaveAction& l) { arrow("Host", "Module", "onLeave(" + std::to_string(l.sid) + ")"); }
    void operator()(const ReleaseAction& r) { arrow("Host", "Module", "releaseModule(" + std::to_string(r.sid) + ")"); }
    void operator()(const AskAction& a) {
        arrow("Host", "Module", a.what == "uris" ? "getUris" : a.what == "reqtypes" ? "getReqTypes" : "getModFlag");
    }
    void operator()(const DbAction& d) {
        note("Host", "database of " + std::to_string(d.sid) +
                         (d.remove ? " removed" : ": dwSGroupId " + std::to_string(d.sGroupId.value_or(0))));
    }
    void operator()(const HostAction&) { note("Host", "host settings change"); }
    void operator()(const FaultAction& f) {
        static const char* const kModes[] = {"works again", "fails once", "fails from now on"};
        note("Host", (f.session ? *f.session + " " : std::string()) + standin::hostCallName(f.call) + " " +
                         kModes[static_cast<int>(f.mode)]);
    }

    void line(const Json& line) {
        if (!line.is_object() || line.size() != 1) return;
        const std::string& kind = line.begin().key();
        const Json& b = line.begin().value();
        if (kind == "recv" && b.contains("packet")) {
            const Json& packet = b["packet"];
            const std::string text = packet.is_null() ? std::string("null packet") : recordLabel(packet);
            arrow("Server", "Module", text + " (sid " + str(b["sid"]) + ")");
        } else if (kind == "recv") {
            const Json& request = b["request"];
            std::string text = "null request";
            if (!request.is_null()) {
                text = (request["name"].is_null() ? "request " + str(request["type"]) : str(request["name"])) +
                       keyFields(request["fields"]);
            }
            arrow("Client", "Module", text + " (sid " + str(b["sid"]) + ")");
        } else if (kind == "send") {
            arrow("Module", "Server", recordLabel(b));
        } else if (kind == "event") {
            const std::string name = b["name"].is_null() ? "event " + str(b["type"]) : str(b["name"]);
            arrow("Module", "Client", name + keyFields(b["fields"]));
        } else if (kind == "answer") {
            const Json& value = b.begin().value();
            std::string text = b.begin().key();
            if (!value.is_array()) text += " " + str(value);
            for (std::size_t i = 0; value.is_array() && i < value.size(); ++i) text += (i ? ", " : " ") + str(value[i]);
            arrow("Module", "Host", text, true);
        } else if (kind == "watch") {
            const char* call = b["op"] == "add" ? "addWatcher(" : "removeWatcher(";
            arrow("Module", "Host", call + str(b["session"]) + ")");
        } else if (kind == "task") {
            note("Module", "task " + str(b["op"]) + (b.contains("interval") ? " " + str(b["interval"]) + " ms" : ""));
        } else if (kind == "error") {
            note("Module", str(b["type"]) + ": " + str(b["what"]));
        } else if (kind == "fault") {
            note("Host", str(b["call"]) + " throws");
        }
    }

    std::vector<DiagramRow> rows() && { return std::move(m_rows); }

private:
    std::vector<DiagramRow> m_rows;
};

}  // namespace

std::vector<DiagramRow> diagramRows(const Scenario& scenario, const Json& line) {
    const auto step = line.find("step");
    return diagramRows(step == line.end() ? nullptr : &scenario.steps.at((*step)["index"].get<std::size_t>()), line);
}

std::vector<DiagramRow> diagramRows(const Step* step, const Json& line) {
    DiagramWriter writer;
    if (line.contains("step")) {
        if (step) std::visit(writer, step->what);
    } else {
        writer.line(line);
    }
    return std::move(writer).rows();
}

std::string diagramHeader() {
    return "sequenceDiagram\n    participant Server\n    participant Host\n    participant Module\n"
           "    participant Client\n";
}

std::string diagramLines(const Scenario& scenario, const Json& line) {
    const auto step = line.find("step");
    return diagramLines(step == line.end() ? nullptr : &scenario.steps.at((*step)["index"].get<std::size_t>()), line);
}

std::string diagramLines(const Step* step, const Json& line) {
    std::string out;
    for (const DiagramRow& row : diagramRows(step, line)) {
        if (row.type == DiagramRow::Type::Note) {
            out += "    Note over " + std::string(row.from) + ": " + label(row.text) + "\n";
        } else {
            out += "    " + std::string(row.from) + (row.type == DiagramRow::Type::Reply ? "-->>" : "->>") + row.to +
                   ": " + label(row.text) + "\n";
        }
    }
    return out;
}

std::string sequenceDiagram(const Scenario& scenario, const std::vector<Json>& trace) {
    std::string out = diagramHeader();
    for (const Json& line : trace) out += diagramLines(scenario, line);
    return out;
}

}  // namespace sapphost
