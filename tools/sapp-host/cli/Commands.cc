#include "tools/sapp-host/cli/Commands.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <system_error>

#include "tools/sapp-host/scenario/BuiltinScenario.h"
#include "tools/sapp-host/platform/ModuleLibrary.h"
#include "tools/sapp-host/records/RecordJson.h"
#include "tools/sapp-host/scenario/Scenario.h"

namespace sapphost {

std::string modulePathOf(const Options& options) {
    const std::string given = options.value("--module").value_or("");
    return given.empty() ? defaultModulePath() : given;
}

Scenario scenarioArgument(const Options& options) {
    return options.args.empty() ? parseScenario(builtinScenario(), "built-in scenario") : loadScenario(options.args[0]);
}

StreamedScenario streamedScenarioArgument(const Options& options) {
    return options.args.empty() ? StreamedScenario(builtinScenario(), "built-in scenario")
                                : streamScenario(options.args[0]);
}

std::vector<std::string> scenarioFiles(const std::vector<std::string>& args) {
    namespace fs = std::filesystem;
    std::vector<std::string> files;
    for (const std::string& arg : args) {
        std::error_code ec;
        if (fs::is_directory(arg, ec)) {
            std::vector<std::string> inFolder;
            for (const fs::directory_entry& entry : fs::directory_iterator(arg, ec)) {
                if (entry.is_regular_file(ec) && entry.path().extension() == ".json") {
                    inFolder.push_back(entry.path().generic_string());
                }
            }
            if (ec) throw std::runtime_error(arg + ": cannot list the folder: " + ec.message());
            std::sort(inFolder.begin(), inFolder.end());
            if (inFolder.empty()) throw std::runtime_error(arg + ": the folder has no *.json scenario");
            files.insert(files.end(), inFolder.begin(), inFolder.end());
        } else if (fs::is_regular_file(arg, ec)) {
            files.push_back(arg);
        } else {
            throw std::runtime_error(arg + ": no such file or folder");
        }
    }
    return files;
}

void requireArguments(const Options& options, std::size_t least, std::size_t most, const char* message) {
    if (options.args.size() < least || options.args.size() > most) throw UsageError(message);
}

namespace {

// The file an output is written to before it replaces the file named.
std::string temporaryBeside(const std::string& path) { return path + ".sapp-host-new"; }

// Writes `text` to a new file at `path`; false when that fails, with
// whatever was made removed and the system's reason in `reason`.
bool writeNewFile(const std::string& path, const std::string& text, std::string& reason) {
    errno = 0;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (out) return true;
    reason = errno ? std::generic_category().message(errno) : "the write failed";
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
    return false;
}

}  // namespace

void checkOutputPath(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (path.empty()) throw std::runtime_error("an output file needs a name");
    if (fs::is_directory(path, ec)) throw std::runtime_error(path + ": a folder, not a file");
    const fs::path parent = fs::path(path).parent_path();
    const fs::path folder = parent.empty() ? fs::path(".") : parent;
    if (!fs::exists(folder, ec)) {
        throw std::runtime_error(path + ": cannot write there: the folder " + folder.string() + " does not exist");
    }
    if (!fs::is_directory(folder, ec)) {
        throw std::runtime_error(path + ": cannot write there: " + folder.string() + " is not a folder");
    }
    // A file made and removed the way the output will be written.
    std::string reason;
    if (!writeNewFile(temporaryBeside(path), "", reason)) {
        throw std::runtime_error(path + ": cannot write there: " + reason);
    }
    fs::remove(temporaryBeside(path), ec);
}

void writeFileReplacing(const std::string& path, const std::string& text) {
    const std::string temporary = temporaryBeside(path);
    if (std::string reason; !writeNewFile(temporary, text, reason)) {
        throw std::runtime_error(path + ": cannot write the file: " + reason);
    }
    std::error_code ec;
    // A replaced file keeps its permissions.
    const std::filesystem::file_status replaced = std::filesystem::status(path, ec);
    if (!ec && std::filesystem::is_regular_file(replaced)) {
        std::filesystem::permissions(temporary, replaced.permissions(), ec);
    }
    std::filesystem::rename(temporary, path, ec);
    if (ec) {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
        throw std::runtime_error(path + ": cannot replace the file: " + ec.message());
    }
}

std::string argumentText(const std::string& arg) {
    if (arg != "-") return arg;
    return std::string(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
}

std::string recordOf(const Options& options) {
    if (const std::optional<std::string> record = options.value("--record")) {
        if (!isRecordName(*record)) {
            std::string names;
            for (const std::string& n : recordNames()) names += (names.empty() ? "" : ", ") + n;
            const std::vector<std::string> all = recordNames();
            throw InputError("unknown record \"" + *record + "\" (" +
                             didYouMeanName(*record, std::vector<std::string_view>(all.begin(), all.end())) +
                             "records: " + names + ")");
        }
        return *record;
    }
    const uint32_t uri = parseUri(options.value("--uri").value_or(""), "--uri");
    const std::string_view name = recordNameForUri(uri);
    if (name.empty()) {
        const std::vector<uint32_t> known = recordUris();
        const bool listed = std::find(known.begin(), known.end(), uri) != known.end();
        throw InputError("URI " + std::to_string(uri) + " (" + uriName(uri) + ") " +
                         (listed ? "carries no record (its body is relayed undecoded)"
                                 : "is not one the module sends or receives") +
                         "; the URIs: " + urisText());
    }
    return std::string(name);
}

}  // namespace sapphost
