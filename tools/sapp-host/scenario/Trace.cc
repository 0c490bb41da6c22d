#include "tools/sapp-host/scenario/Trace.h"

#include "marshal/Errors.h"
#include "tools/sapp-host/records/EventJson.h"
#include "tools/sapp-host/records/RecordJson.h"

namespace sapphost::trace {

Json step(std::size_t index, std::string_view action, std::string_view note) {
    Json body = Json::object();
    body["index"] = index;
    body["action"] = action;
    if (!note.empty()) body["note"] = note;
    return Json{{"step", std::move(body)}};
}

Json log(const standin::LogRecord& record) {
    Json body = Json::object();
    body["text"] = wideToUtf8(record.text);
    body["macro"] = record.macro;
    body["file"] = record.file;
    body["line"] = record.line;
    body["category"] = record.category;
    body["level"] = record.level;
    body["module"] = record.module;
    body["via"] = record.viaSink ? "sink" : "DoLog2";
    return Json{{"log", std::move(body)}};
}

namespace {

// Adds the record carried under `uri` to `out`: its name (null for a URI
// without one), the bytes, and their fields, or why they do not decode, and
// any bytes after the record.
void addRecord(Json& out, uint32_t uri, std::string_view bytes, Direction direction) {
    out["uri"] = uri;
    const std::string_view record = recordNameForUri(uri);
    out["record"] = record.empty() ? Json() : Json(record);
    out["hex"] = toHex(bytes);
    if (record.empty()) return;
    try {
        Decoded decoded = decodeRecord(record, bytes, direction);
        out["fields"] = std::move(decoded.fields);
        if (decoded.consumed < bytes.size()) out["trailing"] = toHex(bytes.substr(decoded.consumed));
    } catch (const pakt::UnpackError& e) {
        out["decodeError"] = e.what();
    }
}

std::string_view requestName(int32_t type) { return type == REQ_APP_DATA ? "REQ_APP_DATA" : ""; }

Json recv(uint32_t sid, const char* what, Json delivered) {
    Json body = Json::object();
    body["sid"] = sid;
    body[what] = std::move(delivered);
    return Json{{"recv", std::move(body)}};
}

}  // namespace

Json recvPacket(uint32_t sid, uint32_t uri, uint32_t res, std::string_view body) {
    Json packet = Json::object();
    packet["uri"] = uri;
    packet["res"] = res;
    addRecord(packet, uri, body, Direction::Down);
    return recv(sid, "packet", std::move(packet));
}

Json recvNullPacket(uint32_t sid) { return recv(sid, "packet", Json()); }

Json recvRequest(uint32_t sid, const AppDataRequest* request) {
    if (!request) return recv(sid, "request", Json());
    Json body = Json::object();
    body["type"] = request->type;
    const std::string_view name = requestName(request->type);
    body["name"] = name.empty() ? Json() : Json(name);
    if (!request->extra.empty()) body["extra"] = toHex(request->extra);
    body["fields"] = Json{{"appId", request->appId}, {"data", toHex(request->data)}};
    return recv(sid, "request", std::move(body));
}

Json send(std::string_view session, const standin::SentRequest& request) {
    Json body = Json::object();
    body["session"] = session;
    body["type"] = request.type;
    if (!request.extra.empty()) body["extra"] = toHex(request.extra);
    addRecord(body, request.uri, request.body, Direction::Up);
    return Json{{"send", std::move(body)}};
}

Json event(std::string_view session, const standin::PostedEvent& event) {
    Json body = Json::object();
    body["session"] = session;
    body["type"] = event.type;
    const std::string_view name = eventName(event.type);
    body["name"] = name.empty() ? Json() : Json(name);
    if (event.record && !event.record->extra.empty()) body["extra"] = toHex(event.record->extra);
    body["fields"] = event.record ? eventFields(*event.record) : Json::object();
    return Json{{"event", std::move(body)}};
}

Json task(std::string_view session, const standin::TaskCall& call) {
    Json body = Json::object();
    body["session"] = session;
    switch (call.op) {
    case standin::TaskCall::Op::Add:
        body["op"] = "add";
        body["interval"] = call.interval;
        break;
    case standin::TaskCall::Op::Remove: body["op"] = "remove"; break;
    case standin::TaskCall::Op::Run: body["op"] = "run"; break;
    }
    return Json{{"task", std::move(body)}};
}

Json watch(std::string_view session, const standin::WatchCall& call) {
    Json body = Json::object();
    body["session"] = session;
    body["op"] = call.op == standin::WatchCall::Op::Add ? "add" : "remove";
    return Json{{"watch", std::move(body)}};
}

Json answer(std::string_view key, Json value) {
    Json body = Json::object();
    body[std::string(key)] = std::move(value);
    return Json{{"answer", std::move(body)}};
}

Json error(std::string_view type, std::string_view what) {
    Json body = Json::object();
    body["type"] = type;
    body["what"] = what;
    return Json{{"error", std::move(body)}};
}

Json fault(std::string_view session, standin::HostCall call) {
    Json body = Json::object();
    body["session"] = session;
    body["call"] = standin::hostCallName(call);
    return Json{{"fault", std::move(body)}};
}

Json packetFault(uint32_t sid, standin::HostCall call) {
    Json body = Json::object();
    body["sid"] = sid;
    body["call"] = standin::hostCallName(call);
    return Json{{"fault", std::move(body)}};
}

Json fault(standin::HostCall call) {
    Json body = Json::object();
    body["call"] = standin::hostCallName(call);
    return Json{{"fault", std::move(body)}};
}

namespace {

// The readable forms below are put together with concat rather than
// "text" + std::string(...), on which GCC 12 at -O3 warns wrongly.

std::string padded(std::string_view kind) {
    std::string out = concat({"  ", kind});
    out.resize(10, ' ');
    return out;
}

std::string str(const Json& value) { return value.is_string() ? value.get<std::string>() : dumpCompact(value); }

// A byte string given as hex, readable: on its own, hex has no quotes (as
// decode takes it).
std::string bytes(const Json& hex) {
    const std::string shown = writeHexDisplay(hex);
    return shown.starts_with("\"0x") ? shown.substr(1, shown.size() - 2) : shown;
}

// " PAddAppReq uri 256978 {fields}": a record as addRecord gave it.
std::string record(const Json& b) {
    std::string out = concat({" ", b["record"].is_null() ? "?" : str(b["record"]), " uri ", str(b["uri"])});
    if (b.contains("res") && b["res"] != 200) out += concat({" res ", str(b["res"])});
    if (b.contains("type") && b["type"] != 100) out += concat({" type ", str(b["type"])});
    out += concat({" ", b.contains("fields") ? writeHexDisplay(b["fields"]) : bytes(b["hex"])});
    if (b.contains("decodeError")) out += concat({" (does not decode: ", str(b["decodeError"]), ")"});
    if (b.contains("trailing")) out += concat({" trailing ", bytes(b["trailing"])});
    if (b.contains("extra")) out += concat({" extra ", bytes(b["extra"])});
    return out;
}

// "[a]": the session object's name as the scenario gave it, bracketed so
// that it never reads as part of the sentence.
std::string session(const Json& b) { return concat({"[", str(b["session"]), "]"}); }

// "EVENT_APP_DATA (1035) ": a client event's or request's name and code.
std::string named(const Json& name, const Json& code, std::string_view unnamed) {
    return concat({name.is_null() ? unnamed : str(name), " (", str(code), ") "});
}

std::string recvText(const Json& b) {
    std::string out = concat({"sid ", str(b["sid"])});
    if (b.contains("packet")) {
        const Json& packet = b["packet"];
        return out + (packet.is_null() ? " null packet" : record(packet));
    }
    const Json& request = b["request"];
    if (request.is_null()) return out + " null request";
    out += concat({" ", named(request["name"], request["type"], "request"),
                   writeHexDisplay(request["fields"])});
    if (request.contains("extra")) out += concat({" extra ", bytes(request["extra"])});
    return out;
}

}  // namespace

bool isInput(const Json& line) { return line.is_object() && line.contains("recv"); }

std::string render(const Json& line) {
    if (!line.is_object() || line.size() != 1) return dumpCompact(line);
    const std::string& kind = line.begin().key();
    const Json& b = line.begin().value();
    if (kind == "step") return concat({"step ", str(b["index"]), ": ", str(b["action"])});
    std::string out = padded(kind);
    if (kind == "log") {
        const std::string text = str(b["text"]);
        out += text.empty() ? "(empty line)" : text;
        if (b["via"] != "sink") out += concat({"   [", str(b["via"]), "]"});
    } else if (kind == "recv") {
        out += recvText(b);
    } else if (kind == "send") {
        out += session(b) + record(b);
    } else if (kind == "event") {
        out += concat({session(b), " ", named(b["name"], b["type"], "?"),
                       writeEventDisplay(b["type"].get<uint32_t>(), b["fields"])});
        if (b.contains("extra")) out += concat({" extra ", bytes(b["extra"])});
    } else if (kind == "task") {
        out += concat({session(b), " ", str(b["op"])});
        if (b.contains("interval")) out += concat({" ", str(b["interval"]), " ms"});
    } else if (kind == "watch") {
        out += concat({session(b), " ", str(b["op"])});
    } else if (kind == "answer") {
        out += concat({b.begin().key(), " ", dumpCompact(b.begin().value())});
    } else if (kind == "error") {
        out += concat({str(b["type"]), ": ", str(b["what"])});
    } else if (kind == "fault") {
        if (b.contains("session")) {
            out += concat({session(b), " "});
        } else if (b.contains("sid")) {
            out += concat({"sid ", str(b["sid"]), " "});
        }
        out += concat({str(b["call"]), " fails"});
    } else {
        out += dumpCompact(b);
    }
    return out;
}

}  // namespace sapphost::trace
