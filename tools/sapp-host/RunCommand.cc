// run, decode and encode.
#include <cstdio>
#include <iostream>
#include <iterator>

#include "marshal/Errors.h"
#include "tools/sapp-host/BuiltinScenario.h"
#include "tools/sapp-host/Commands.h"
#include "tools/sapp-host/ModuleLibrary.h"
#include "tools/sapp-host/RecordJson.h"
#include "tools/sapp-host/Runner.h"
#include "tools/sapp-host/Scenario.h"
#include "tools/sapp-host/Trace.h"

namespace sapphost {

namespace {

std::string modulePathOf(const Options& options) {
    return options.modulePath.empty() ? defaultModulePath() : options.modulePath;
}

// The text of an argument, or standard input for "-".
std::string argumentText(const std::string& arg) {
    if (arg != "-") return arg;
    return std::string(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
}

// The record named by --record, or the one carried under --uri.
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

}  // namespace

int runCommand(const Options& options) {
    try {
        const Scenario scenario =
            options.args.empty() ? parseScenario(kBuiltinScenario, "built-in scenario") : loadScenario(options.args[0]);
        const ModuleLibrary module = loadModule(modulePathOf(options));
        if (!options.json) std::cout << "scenario: " << scenario.name << "\n";
        const RunResult result = runScenario(module, scenario, [&](const Json& line) {
            if (options.json) {
                std::cout << dumpCompact(line) << "\n";
                return;
            }
            std::cout << trace::render(line) << "\n";
            if (line.contains("step")) {
                const std::string& note = scenario.steps.at(line["step"]["index"].get<std::size_t>()).note;
                if (!note.empty()) std::cout << "  # " << note << "\n";
            }
        });
        std::cout.flush();
        std::ostream& report = options.json ? std::cerr : std::cout;
        if (!options.json) {
            report << "\n" << scenario.steps.size() << " steps, " << result.failures.size() << " failed checks\n";
        }
        for (const StepFailure& failure : result.failures) report << "FAILED " << formatFailure(scenario, failure);
        return result.failures.empty() ? kExitOk : kExitFailed;
    } catch (const ScenarioError& e) {
        std::cout.flush();
        std::cerr << "sapp-host run: bad scenario: " << e.what() << "\n";
        return kExitBadInput;
    } catch (const std::runtime_error& e) {
        std::cout.flush();
        std::cerr << "sapp-host run: " << e.what() << "\n";
        return kExitBadInput;
    }
}

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
        return kExitOk;
    } catch (const InputError& e) {
        std::cerr << "sapp-host decode: " << e.what() << "\n";
        return kExitBadInput;
    }
}

int encodeCommand(const Options& options) {
    try {
        const std::string record = recordOf(options);
        Json fields;
        try {
            fields = Json::parse(argumentText(options.args[0]));
        } catch (const Json::parse_error& e) {
            throw InputError(std::string("the fields are not valid JSON: ") + e.what());
        }
        rejectDeepNesting(fields, "fields");
        std::cout << toHex(encodeRecord(record, fields, "fields")) << "\n";
        return kExitOk;
    } catch (const InputError& e) {
        std::cerr << "sapp-host encode: " << e.what() << "\n";
        return kExitBadInput;
    } catch (const pakt::PackError& e) {
        std::cerr << "sapp-host encode: " << e.what() << "\n";
        return kExitBadInput;
    }
}

}  // namespace sapphost
