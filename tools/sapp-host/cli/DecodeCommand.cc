// decode: the fields of a record body given as hex.
#include <iostream>
#include <optional>
#include <stdexcept>

#include "marshal/Errors.h"
#include "tools/sapp-host/cli/Commands.h"
#include "tools/sapp-host/records/Canonical.h"
#include "tools/sapp-host/records/RecordJson.h"

namespace sapphost {

namespace {

// Where the decoded fields of `bytes` first encode to other bytes; none when
// they give back the bytes. Decoded fields that do not encode at all are a
// fault of sapp-host's mapping, not of the input.
std::optional<NonCanonical> nonCanonical(const std::string& record, const std::string& bytes, const Decoded& decoded) {
    try {
        return checkCanonical(record, bytes, decoded);
    } catch (const std::runtime_error& e) {
        throw std::logic_error("the fields decoded as " + record + " do not encode: " + e.what());
    }
}

// The bytes given: hex, with or without "0x", or a byte string in double
// quotes as readable output writes one ("hi", "0x00ff").
std::string bytesArgument(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    try {
        if (first != std::string::npos && text[first] == '"') {
            const Json value = parseJsonText(text);
            if (!value.is_string()) throw InputError("not one quoted string");
            return readByteString(value.get_ref<const std::string&>());
        }
        return fromHex(text);
    } catch (const InputError& e) {
        throw InputError("the bytes: " + std::string(e.what()) +
                         " (give hex, \"0x\" and hex, or a byte string in double quotes as run prints it)");
    }
}

int decodeCommand(const Options& options) {
    const bool strict = options.has("--strict");
    const std::string record = recordOf(options);
    const std::string bytes = bytesArgument(argumentText(options.args[0]));
    Decoded decoded;
    try {
        decoded = decodeRecord(record, bytes, Direction::Down);
    } catch (const pakt::UnpackError& e) {
        throw InputError("the bytes do not decode as " + record + ": " + e.what());
    }
    const int indent = options.has("--compact") ? -1 : 2;
    std::cout << decoded.fields.dump(indent, ' ', false, Json::error_handler_t::replace) << "\n";
    std::cout.flush();
    const char* level = strict ? "error" : "warning";
    bool exact = true;
    if (decoded.consumed < bytes.size()) {
        // The module ignores them too; with --strict they are not the record.
        const std::size_t extra = bytes.size() - decoded.consumed;
        std::cerr << "sapp-host decode: " << level << ": " << extra << (extra == 1 ? " byte" : " bytes")
                  << " after the end of the " << record << " (from byte " << decoded.consumed
                  << "): " << toHex(std::string_view(bytes).substr(decoded.consumed)) << "\n";
        exact = false;
    }
    if (const auto changed = nonCanonical(record, bytes, decoded)) {
        std::cerr << "sapp-host decode: " << level << ": not in canonical form: the bytes of " << changed->field
                  << " (from byte " << changed->offset << ") would change; encode writes the canonical bytes\n";
        exact = false;
    }
    return strict && !exact ? kExitFailed : kExitOk;
}

}  // namespace

const Command kDecodeCommand = {
    "decode",
    "HEX",
    "print the fields of a record body as JSON",
    R"(Prints the fields of the record body given as hex, with or without 0x, or as
a byte string in double quotes as run prints it (or "-" to read it from
standard input) as JSON. Nested payload strings are shown as objects where
they decode cleanly, otherwise as hex.

Encode turns the output back into the same bytes when they are in the one
form the records write. Bytes that decode but are not in it (a set or map
out of order or with repeated keys, a bool byte other than 0 or 1) are still
printed, with a warning on stderr naming the first field whose bytes would
change; encode then writes the canonical bytes. Bytes after the end of the
record are printed with a warning too. Bytes that run short are an error
naming the field, its first byte and how many bytes are missing.
)",
    R"(Exit status: 0 decoded, 1 not exactly one canonical record with --strict,
2 bad hex, unknown URI or record, or truncated bytes.
)",
    [](const Options& options) { requireArguments(options, 1, 1, "decode takes one argument: the hex"); },
    decodeCommand,
};

}  // namespace sapphost
