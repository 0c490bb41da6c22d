#include "tools/sapp-host/Trace.h"

#include "marshal/Errors.h"
#include "tools/sapp-host/EventJson.h"
#include "tools/sapp-host/RecordJson.h"

namespace sapphost::trace {

Json step(std::size_t index, std::string_view action) {
    Json body = Json::object();
    body["index"] = index;
    body["action"] = action;
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

Json send(std::string_view session, const standin::SentRequest& request) {
    Json body = Json::object();
    body["session"] = session;
    body["type"] = request.type;
    if (!request.extra.empty()) body["extra"] = toHex(request.extra);
    body["uri"] = request.uri;
    const std::string_view record = recordNameForUri(request.uri);
    body["record"] = record.empty() ? Json() : Json(record);
    body["hex"] = toHex(request.body);
    if (!record.empty()) {
        try {
            Decoded decoded = decodeRecord(record, request.body, Direction::Up);
            body["fields"] = std::move(decoded.fields);
            if (decoded.consumed < request.body.size()) {
                body["trailing"] = toHex(std::string_view(request.body).substr(decoded.consumed));
            }
        } catch (const pakt::UnpackError& e) {
            body["decodeError"] = e.what();
        }
    }
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

namespace {

std::string padded(std::string_view kind) {
    std::string out = "  " + std::string(kind);
    out.resize(10, ' ');
    return out;
}

std::string str(const Json& value) { return value.is_string() ? value.get<std::string>() : dumpCompact(value); }

}  // namespace

std::string render(const Json& line) {
    if (!line.is_object() || line.size() != 1) return dumpCompact(line);
    const std::string& kind = line.begin().key();
    const Json& b = line.begin().value();
    if (kind == "step") return "step " + str(b["index"]) + ": " + str(b["action"]);
    std::string out = padded(kind);
    if (kind == "log") {
        const std::string text = str(b["text"]);
        out += text.empty() ? "(empty line)" : text;
        if (b["via"] != "sink") out += "   [" + str(b["via"]) + "]";
    } else if (kind == "send") {
        out += str(b["session"]) + " " + (b["record"].is_null() ? "?" : str(b["record"])) + " uri " + str(b["uri"]);
        if (b["type"] != 100) out += " type " + str(b["type"]);
        if (b.contains("fields")) {
            out += " " + dumpCompact(b["fields"]);
        } else {
            out += " hex " + str(b["hex"]);
        }
        if (b.contains("decodeError")) out += " (does not decode: " + str(b["decodeError"]) + ")";
        if (b.contains("trailing")) out += " trailing " + str(b["trailing"]);
    } else if (kind == "event") {
        out += str(b["session"]) + " " + (b["name"].is_null() ? "?" : str(b["name"])) + " (" + str(b["type"]) + ") " +
               dumpCompact(b["fields"]);
    } else if (kind == "task") {
        out += str(b["session"]) + " " + str(b["op"]);
        if (b.contains("interval")) out += " " + str(b["interval"]) + " ms";
    } else if (kind == "watch") {
        out += str(b["session"]) + " " + str(b["op"]);
    } else if (kind == "answer") {
        out += b.begin().key() + " " + dumpCompact(b.begin().value());
    } else if (kind == "error") {
        out += str(b["type"]) + ": " + str(b["what"]);
    } else {
        out += dumpCompact(b);
    }
    return out;
}

}  // namespace sapphost::trace
