// encode: the hex of a record given as JSON fields.
#include <iostream>

#include "marshal/Errors.h"
#include "tools/sapp-host/cli/Commands.h"
#include "tools/sapp-host/records/RecordJson.h"

namespace sapphost {

int encodeCommand(const Options& options) {
    try {
        const std::string record = recordOf(options);
        Json fields;
        try {
            fields = parseJsonText(argumentText(options.args[0]));
        } catch (const JsonTextError& e) {
            throw InputError("the fields: " + std::string(e.what()));
        }
        std::cout << toHex(encodeRecord(record, fields, "fields")) << "\n";
        return kExitOk;
    } catch (const Json::exception& e) {
        std::cerr << "sapp-host encode: bad fields: " << e.what() << "\n";
        return kExitBadInput;
    } catch (const InputError& e) {
        std::cerr << "sapp-host encode: " << e.what() << "\n";
        return kExitBadInput;
    } catch (const pakt::PackError& e) {
        std::cerr << "sapp-host encode: " << e.what() << "\n";
        return kExitBadInput;
    }
}

}  // namespace sapphost
