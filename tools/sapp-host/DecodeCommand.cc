// decode: the fields of a record body given as hex.
#include <iostream>

#include "marshal/Errors.h"
#include "tools/sapp-host/Canonical.h"
#include "tools/sapp-host/Commands.h"
#include "tools/sapp-host/RecordJson.h"

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
        if (decoded.consumed < bytes.size()) {
            std::cerr << "sapp-host decode: note: " << bytes.size() - decoded.consumed
                      << " bytes after the record were ignored: "
                      << toHex(std::string_view(bytes).substr(decoded.consumed)) << "\n";
        }
        if (const auto nonCanonical = checkCanonical(record, bytes, decoded)) {
            std::cout.flush();
            std::cerr << "sapp-host decode: " << (options.strict ? "error" : "warning")
                      << ": not in canonical form: the bytes of " << nonCanonical->field << " (from byte "
                      << nonCanonical->offset << ") would change; encode writes the canonical bytes\n";
            if (options.strict) return kExitFailed;
        }
        return kExitOk;
    } catch (const InputError& e) {
        std::cerr << "sapp-host decode: " << e.what() << "\n";
        return kExitBadInput;
    }
}

}  // namespace sapphost
