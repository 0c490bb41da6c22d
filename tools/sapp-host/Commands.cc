#include "tools/sapp-host/Commands.h"

#include <iostream>
#include <iterator>

#include "tools/sapp-host/ModuleLibrary.h"
#include "tools/sapp-host/RecordJson.h"

namespace sapphost {

std::string modulePathOf(const Options& options) {
    return options.modulePath.empty() ? defaultModulePath() : options.modulePath;
}

std::string argumentText(const std::string& arg) {
    if (arg != "-") return arg;
    return std::string(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
}

std::string recordOf(const Options& options) {
    if (options.record) {
        if (!isRecordName(*options.record)) {
            std::string names;
            for (const std::string& n : recordNames()) names += (names.empty() ? "" : ", ") + n;
            throw InputError("unknown record \"" + *options.record + "\" (records: " + names + ")");
        }
        return *options.record;
    }
    const uint32_t uri = parseDecimalU32(*options.uri, "--uri");
    const std::string_view name = recordNameForUri(uri);
    if (name.empty()) {
        throw InputError("URI " + std::to_string(uri) + " carries no record (its body, if any, is relayed undecoded)");
    }
    return std::string(name);
}

}  // namespace sapphost
