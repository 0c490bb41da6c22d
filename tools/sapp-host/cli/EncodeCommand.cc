// encode: the hex of a record given as JSON fields.
#include <iostream>

#include "tools/sapp-host/cli/Commands.h"
#include "tools/sapp-host/records/RecordJson.h"

namespace sapphost {

namespace {

// The JSON library's own errors are errors in the fields given.
int encodeCommand(const Options& options) {
    const std::string record = recordOf(options);
    try {
        Json fields;
        try {
            fields = parseJsonText(argumentText(options.args[0]));
        } catch (const JsonTextError& e) {
            const TextPosition at = e.position();
            throw InputError("the fields" +
                             (at.known() ? concat({" (line ", std::to_string(at.line), ", column ",
                                                   std::to_string(at.column), ")"})
                                         : std::string()) +
                             ": " + e.what());
        }
        std::cout << toHex(encodeRecord(record, fields, "fields")) << "\n";
    } catch (const Json::exception& e) {
        throw InputError("bad fields: " + std::string(e.what()));
    }
    return kExitOk;
}

}  // namespace

const Command kEncodeCommand = {
    "encode",
    "JSON",
    "print the hex of a record given as fields",
    R"(Prints the hex of the record given as JSON fields (or "-" to read them from
standard input). Byte strings are read in every form run prints them: hex,
"0x" and hex, or text (a string of hex digits alone is hex), so a record's
fields as run shows them encode to its bytes. Omitted fields are 0 or empty;
unknown fields are errors.
A nested payload may be given as an object: it is encoded, compressed with
zlib when its zipped flag is non-zero, and its length field filled in.
)",
    R"(Exit status: 0 encoded, 2 bad fields, unknown URI or record.
)",
    [](const Options& options) { requireArguments(options, 1, 1, "encode takes one argument: the JSON"); },
    encodeCommand,
};

}  // namespace sapphost
