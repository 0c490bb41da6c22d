// decode: the fields of a record body given as hex.
#include <iostream>

#include "marshal/Errors.h"
#include "tools/sapp-host/records/Canonical.h"
#include "tools/sapp-host/cli/Commands.h"
#include "tools/sapp-host/records/RecordJson.h"

namespace sapphost {

int decodeCommand(const Options& options) {
    try {
        const std::string record = recordOf(options);
        const std::string bytes = fromHex(argumentText(options.args[0]));
        Decoded decoded;
        try {
            decoded = decodeRecord(record, bytes, Direction::Down);
        } catch (const pakt::UnpackError& e) {
            throw InputError("the bytes do not decode as " + record + ": " + e.what());
        }
        std::cout << decoded.fields.dump(2, ' ', false, Json::error_handler_t::replace) << "\n";
        std::cout.flush();
        const char* level = options.strict ? "error" : "warning";
        bool exact = true;
        if (decoded.consumed < bytes.size()) {
            // The module ignores them too; with --strict they are not the record.
            const std::size_t extra = bytes.size() - decoded.consumed;
            std::cerr << "sapp-host decode: " << level << ": " << extra << (extra == 1 ? " byte" : " bytes")
                      << " after the end of the " << record << " (from byte " << decoded.consumed
                      << "): " << toHex(std::string_view(bytes).substr(decoded.consumed)) << "\n";
            exact = false;
        }
        if (const auto nonCanonical = checkCanonical(record, bytes, decoded)) {
            std::cerr << "sapp-host decode: " << level << ": not in canonical form: the bytes of "
                      << nonCanonical->field << " (from byte " << nonCanonical->offset
                      << ") would change; encode writes the canonical bytes\n";
            exact = false;
        }
        return options.strict && !exact ? kExitFailed : kExitOk;
    } catch (const InputError& e) {
        std::cerr << "sapp-host decode: " << e.what() << "\n";
        return kExitBadInput;
    }
}

}  // namespace sapphost
