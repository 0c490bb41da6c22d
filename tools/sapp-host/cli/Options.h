// The options of sapp-host's commands, declared once in a table (kOptions
// in Options.cc): each row names an option, its argument, the commands that
// take it and its help. The parser, the usage lines and the option lists of
// the help are made from the table, and a command reads the options it was
// given by name (Options::has, value, number).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sapphost {

// A mistake on the command line: reported with a pointer to the help.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Hidden commands, the modes sapp-host starts in a process of its own, have
// no help and are listed nowhere; their names start with "__".
inline bool isHiddenCommand(std::string_view name) { return name.starts_with("__"); }

enum class Need { Optional, Required };

// The values a number option accepts, and its value when it is not given.
struct NumberRange {
    uint64_t least = 0;
    uint64_t most = 0;
    uint64_t fallback = 0;
};

struct OptionRow {
    std::string_view name;      // "--junit"
    std::string_view argument;  // its value in usage lines ("FILE"); empty for a switch
    std::string_view commands;  // the commands that take it, separated by spaces
    std::string_view help;
    // Required: the commands need it (in a group: one of the group).
    Need need = Need::Optional;
    // The rows of one command with the same group are alternatives: at most
    // one of them may be given (exactly one when they are Required).
    std::string_view group = {};
    // A number option: the range Options::number checks.
    std::optional<NumberRange> number = {};
    // An option of most commands: a usage line gives it before the command,
    // and sapp-host's help lists it once rather than with each command.
    bool general = false;
};

// The table, in the order usage lines and help list the options.
std::span<const OptionRow> optionTable();

// Whether `row` is an option of `command`.
bool takes(const OptionRow& row, std::string_view command);

// One command line: the command, its arguments and the options given. A
// command reads only its own options: asking for one the table does not
// give it is a fault of sapp-host (std::logic_error), not of the user.
class Options {
public:
    std::string command;
    std::vector<std::string> args;

    // Records option `name` as given, with `value` when it takes one; the
    // parser does this for each option, in command-line order.
    void set(std::string_view name, std::string value = {});

    bool has(std::string_view name) const;
    // The value given last; none when the option is not given.
    std::optional<std::string> value(std::string_view name) const;
    // The value of a number option, or its row's fallback when it is not
    // given. Throws UsageError for anything but a number in its range.
    uint64_t number(std::string_view name) const;

    // The options given, in order, with their values.
    const std::vector<std::pair<std::string, std::string>>& given() const { return m_given; }

private:
    const OptionRow& rowFor(std::string_view name) const;

    std::vector<std::pair<std::string, std::string>> m_given;
};

// Reads a command line (without the program's name): options by the table,
// anywhere before or after the command; --help and -h set `help`; the first
// other word is the command, the rest its arguments. Throws UsageError for
// an option the table does not have or one without its value.
Options parseCommandLine(const std::vector<std::string>& words, bool& help);

// Throws UsageError unless the options given are `options.command`'s, with
// those it needs and at most one of each group.
void checkOptions(const Options& options);

// The options of `command` in a usage line: the general ones it takes
// ("[--module PATH]"), then the others it needs and those it may take
// ("(--uri URI | --record NAME)", "[--json] [--junit FILE]").
std::string generalOptionsUsage(std::string_view command);
std::string neededOptionsUsage(std::string_view command);
std::string optionalOptionsUsage(std::string_view command);

// The "Options:" part of the help of `command`, or, for no command, of
// sapp-host's help: every option of every command, each with the commands
// that take it; empty when there are none.
std::string optionsHelp(std::string_view command = {});

// " (did you mean check?)" when one of `names` is close to `given` (a letter
// or two added, left out, changed or swapped); empty otherwise.
std::string didYouMean(std::string_view given, const std::vector<std::string_view>& names);

// `text` wrapped to lines of at most `width` characters, each line after
// the first indented by `indent` spaces.
std::string wrapped(std::string_view text, std::size_t indent, std::size_t width);

}  // namespace sapphost
