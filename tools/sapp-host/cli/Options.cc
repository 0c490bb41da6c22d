#include "tools/sapp-host/cli/Options.h"

#include <algorithm>

namespace sapphost {

namespace {

// Every option of every command. An option with another argument or help
// for some commands has a row for each; its rows agree on whether it takes
// a value (OptionsTest checks the table). The hidden commands take only
// what check gives them.
constexpr OptionRow kOptions[] = {
    {"-o", "FILE.html", "report", "the page to write", Need::Required},
    {"-o", "OUT", "record", "write to OUT (default: standard output)", Need::Optional, "output"},
    {"--in-place", "", "record", "overwrite FILE", Need::Optional, "output"},
    {"--json", "", "run",
     "print the trace as JSON Lines (byte strings in hex; each step line with its note; each line with \"time\", "
     "the virtual time in ms), then a summary line "
     "{\"summary\": {...}} with the failed checks, which also go to stderr as text"},
    {"--json", "", "check report",
     "one JSON object per scenario (with \"differences\" for a failed one, \"step\" and \"action\" for a crashed "
     "or timed-out one), then {\"passed\": N, \"failed\": N, \"bad\": N, \"crashed\": N, \"timedOut\": N}"},
    {"--junit", "FILE", "check report",
     "also write a JUnit XML report to FILE: a test case per scenario, failed checks as failures (the step, the "
     "fields that differ, the expected and the actual lines), bad, crashed and timed-out scenarios as errors; the "
     "suite's "
     "timestamp and hostname"},
    {"--html", "FILE", "check", "also write the HTML report of sapp-host report to FILE"},
    {"--name", "PATTERN", "check report",
     "play only the scenarios whose name (as the PASS/FAIL lines give it) matches PATTERN, where * stands for any "
     "run of characters and ? for one (case counts; quote it for the shell: --name '*uplink*'); none matching is "
     "an error"},
    {"-j", "N", "check report",
     "play N scenarios at a time, each in its own process as always; the output keeps the scenarios' order",
     Need::Optional, {}, NumberRange{1, 64, 1}},
    {"--timeout", "SECONDS", "run check report",
     "stop a scenario that has not ended after SECONDS (0: no limit) and report TIMEOUT at the step it was in; "
     "check and report go on with the next scenario",
     Need::Optional, {}, NumberRange{0, 86400, 60}},
    {"--timeout", "SECONDS", "sweep",
     "stop a scenario's sweep when one of its runs (one play of the scenario) has not ended after SECONDS (0: no "
     "limit) and report TIMEOUT at the step it was in; the sweep goes on with the next",
     Need::Optional, {}, NumberRange{0, 86400, 60}},
    {"--uri", "URI", "decode encode", "the record sent or received under URI, a number (256978) or number|service "
     "(1003|210)", Need::Required, "record"},
    {"--record", "NAME", "decode encode",
     "the record NAME, nested records included (AppInfoPack, PluginAppPackMap, SdkV2Payload, ...)", Need::Required,
     "record"},
    {"--strict", "", "decode",
     "anything but exactly one record in canonical form is an error (exit 1): bytes after the record, or bytes "
     "that would change"},
    {"--compact", "", "decode", "print the fields on one line"},
    {"--markdown", "", "events", "print a Markdown table (docs/sapp-host-formats.md quotes it)"},
    {"--sessions", "N", "soak", "the sessions open at a time", Need::Optional, {}, NumberRange{1, 100000, 100}},
    {"--packets", "M", "soak", "the packets and client requests to play", Need::Optional, {},
     NumberRange{1, 1000000000000ull, 100000}},
    {"--seed", "S", "soak", "the seed the traffic is drawn from", Need::Optional, {},
     NumberRange{0, 999999999999999999ull, 1}},
    {"--faults", "P", "soak", "the percentage of steps that make one host call fail", Need::Optional, {},
     NumberRange{0, 100, 0}},
    {"--calls", "", "sweep",
     "run no fault: print the host functions the scenarios (with and without a sink) and the load call, one per "
     "line, as their declarations name them (\"ISession::sendRequest\"); what the host-call check compares with "
     "the module's imports"},
    {.name = "--module",
     .argument = "PATH",
     .commands = "run check report record diagram soak sweep __play-one __play-one-traced __sweep-one __sweep-load",
     .help = "the module file to load (default: libsapp.so or sapp.dll beside this executable); "
             "on Windows one of the same toolchain family (MSVC or mingw-w64) as this sapp-host",
     .general = true},
};

// The row of option `name` for `command`; null when it takes no such option.
const OptionRow* rowOf(std::string_view name, std::string_view command) {
    for (const OptionRow& row : kOptions) {
        if (row.name == name && takes(row, command)) return &row;
    }
    return nullptr;
}

// Any row of option `name`: what the parser needs to know of it.
const OptionRow* anyRowOf(std::string_view name) {
    for (const OptionRow& row : kOptions) {
        if (row.name == name) return &row;
    }
    return nullptr;
}

// "a", "a or b", "a, b or c".
std::string listed(const std::vector<std::string>& items, const char* last) {
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i) {
        text += (i == 0 ? "" : i + 1 == items.size() ? last : ", ") + items[i];
    }
    return text;
}

// The commands a row names.
std::vector<std::string_view> commandsOf(const OptionRow& row) {
    std::vector<std::string_view> commands;
    std::string_view rest = row.commands;
    while (!rest.empty()) {
        const std::size_t end = std::min(rest.find(' '), rest.size());
        if (end > 0) commands.push_back(rest.substr(0, end));
        rest.remove_prefix(std::min(end + 1, rest.size()));
    }
    return commands;
}

// "run and check": the commands that take option `name`.
std::string commandsTaking(std::string_view name) {
    std::vector<std::string> commands;
    for (const OptionRow& row : kOptions) {
        if (row.name != name) continue;
        for (const std::string_view command : commandsOf(row)) {
            if (!isHiddenCommand(command) && std::find(commands.begin(), commands.end(), command) == commands.end()) {
                commands.emplace_back(command);
            }
        }
    }
    return listed(commands, " and ");
}

// The option as usage lines write it: "--junit FILE".
std::string spelled(const OptionRow& row) {
    return row.argument.empty() ? std::string(row.name) : std::string(row.name) + " " + std::string(row.argument);
}

// The rows of `command`'s group `group`, in table order.
std::vector<const OptionRow*> groupOf(std::string_view command, std::string_view group) {
    std::vector<const OptionRow*> rows;
    for (const OptionRow& row : kOptions) {
        if (row.group == group && takes(row, command)) rows.push_back(&row);
    }
    return rows;
}

// The options of `command` that `need` and `general` say, as a usage line
// writes them.
std::string usageOf(std::string_view command, Need need, bool general) {
    std::string text;
    std::vector<std::string_view> groups;
    for (const OptionRow& row : kOptions) {
        if (row.need != need || row.general != general || !takes(row, command)) continue;
        std::string part;
        if (row.group.empty()) {
            part = spelled(row);
        } else if (std::find(groups.begin(), groups.end(), row.group) == groups.end()) {
            groups.push_back(row.group);
            for (const OptionRow* alternative : groupOf(command, row.group)) {
                part += (part.empty() ? "" : " | ") + spelled(*alternative);
            }
            if (need == Need::Required) part = "(" + part + ")";
        } else {
            continue;
        }
        if (need == Need::Optional) part = "[" + part + "]";
        text += (text.empty() ? "" : " ") + part;
    }
    return text;
}

}  // namespace

std::span<const OptionRow> optionTable() { return kOptions; }

bool takes(const OptionRow& row, std::string_view command) {
    const std::vector<std::string_view> commands = commandsOf(row);
    return std::find(commands.begin(), commands.end(), command) != commands.end();
}

void Options::set(std::string_view name, std::string value) { m_given.emplace_back(name, std::move(value)); }

const OptionRow& Options::rowFor(std::string_view name) const {
    if (const OptionRow* row = rowOf(name, command)) return *row;
    throw std::logic_error("sapp-host " + command + " asks for the option " + std::string(name) +
                           ", which the option table does not give it");
}

bool Options::has(std::string_view name) const {
    rowFor(name);
    return std::any_of(m_given.begin(), m_given.end(), [name](const auto& given) { return given.first == name; });
}

std::optional<std::string> Options::value(std::string_view name) const {
    rowFor(name);
    for (auto it = m_given.rbegin(); it != m_given.rend(); ++it) {
        if (it->first == name) return it->second;
    }
    return std::nullopt;
}

uint64_t Options::number(std::string_view name) const {
    const OptionRow& row = rowFor(name);
    if (!row.number) throw std::logic_error(std::string(name) + " is not a number option");
    const std::optional<std::string> text = value(name);
    if (!text) return row.number->fallback;
    uint64_t number = 0;
    const bool digits = !text->empty() && text->size() <= 18 &&
                        std::all_of(text->begin(), text->end(), [](char c) { return c >= '0' && c <= '9'; });
    if (digits) number = std::stoull(*text);
    if (!digits || number < row.number->least || number > row.number->most) {
        throw UsageError(std::string(name) + ": expected a number from " + std::to_string(row.number->least) +
                         " to " + std::to_string(row.number->most) + ", got \"" + *text + "\"");
    }
    return number;
}

Options parseCommandLine(const std::vector<std::string>& words, bool& help) {
    Options options;
    help = false;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (word == "--help" || word == "-h") {
            help = true;
        } else if (word.size() > 1 && word[0] == '-') {
            const OptionRow* row = anyRowOf(word);
            if (!row) {
                std::vector<std::string_view> names;
                for (const OptionRow& known : kOptions) names.push_back(known.name);
                throw UsageError("unknown option " + word + didYouMean(word, names));
            }
            if (row->argument.empty()) {
                options.set(word);
            } else if (i + 1 < words.size()) {
                options.set(word, words[++i]);
            } else {
                throw UsageError(word + " needs a value");
            }
        } else if (options.command.empty()) {
            options.command = word;
        } else {
            options.args.push_back(word);
        }
    }
    return options;
}

void checkOptions(const Options& options) {
    const std::string& command = options.command;
    for (const auto& [name, value] : options.given()) {
        if (!rowOf(name, command)) throw UsageError(name + " is an option of " + commandsTaking(name));
    }
    const auto given = [&options](const OptionRow& row) {
        return std::any_of(options.given().begin(), options.given().end(),
                           [&row](const auto& option) { return option.first == row.name; });
    };
    for (const OptionRow& row : kOptions) {
        if (!takes(row, command)) continue;
        if (row.group.empty()) {
            if (row.need == Need::Required && !given(row)) {
                throw UsageError(command + " needs " + spelled(row) + ", " + std::string(row.help));
            }
            continue;
        }
        const std::vector<const OptionRow*> group = groupOf(command, row.group);
        if (group.front() != &row) continue;
        std::vector<std::string> names;
        std::size_t count = 0;
        for (const OptionRow* alternative : group) {
            names.emplace_back(alternative->name);
            count += given(*alternative) ? 1 : 0;
        }
        if (count > 1 || (count == 0 && row.need == Need::Required)) {
            throw UsageError((names.size() == 2 ? "give either " : "give one of ") + listed(names, " or "));
        }
    }
}

std::string generalOptionsUsage(std::string_view command) { return usageOf(command, Need::Optional, true); }

std::string neededOptionsUsage(std::string_view command) { return usageOf(command, Need::Required, false); }

std::string optionalOptionsUsage(std::string_view command) { return usageOf(command, Need::Optional, false); }

std::string optionsHelp(std::string_view command) {
    std::vector<std::pair<std::string, std::string>> lines;
    std::size_t width = 0;
    // sapp-host's own help: the general options first, then the others,
    // each with the commands that take it.
    std::vector<const OptionRow*> rows;
    for (const bool general : {true, false}) {
        for (const OptionRow& row : kOptions) {
            if (command.empty() ? row.general == general : general && takes(row, command)) rows.push_back(&row);
        }
    }
    for (const OptionRow* pRow : rows) {
        const OptionRow& row = *pRow;
        std::string help(row.help);
        if (command.empty() && !row.general) {
            std::vector<std::string> commands;
            for (const std::string_view c : commandsOf(row)) {
                if (!isHiddenCommand(c)) commands.emplace_back(c);
            }
            help = "(" + listed(commands, ", ") + ") " + help;
        }
        if (row.number) {
            help += " (" + std::to_string(row.number->least) + " to " + std::to_string(row.number->most) +
                    ", default " + std::to_string(row.number->fallback) + ")";
        }
        lines.emplace_back(spelled(row), std::move(help));
        width = std::max(width, lines.back().first.size());
    }
    if (lines.empty()) return {};
    // The help of each beside its option, three spaces after the longest.
    const std::size_t column = 2 + width + 3;
    std::string text = "Options:\n";
    for (const auto& [option, help] : lines) {
        text += "  " + option + std::string(column - 2 - option.size(), ' ') + wrapped(help, column, 79) + "\n";
    }
    return text;
}

namespace {

// The edits that turn `a` into `b`: a character added, left out, changed,
// or two next to each other swapped.
}  // namespace

std::string didYouMean(std::string_view given, const std::vector<std::string_view>& names) {
    // Words this short are too close to every other short word.
    if (given.size() < 3) return {};
    std::string_view best;
    std::size_t bestDistance = 3;
    for (const std::string_view name : names) {
        const std::size_t distance = editDistance(given, name);
        if (distance < bestDistance && !isHiddenCommand(name)) {
            best = name;
            bestDistance = distance;
        }
    }
    return best.empty() ? std::string() : " (did you mean " + std::string(best) + "?)";
}

std::string wrapped(std::string_view text, std::size_t indent, std::size_t width) {
    std::string out;
    std::size_t column = indent;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find(' '), text.size());
        const std::string_view word = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        if (word.empty()) continue;
        if (column > indent && column + 1 + word.size() > width) {
            out += "\n" + std::string(indent, ' ');
            column = indent;
        }
        if (column > indent) {
            out += ' ';
            ++column;
        }
        out += word;
        column += word.size();
    }
    return out;
}

}  // namespace sapphost
