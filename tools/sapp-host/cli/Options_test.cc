// The option table and what is made of it: the parser, the checks of a
// command's options, the usage lines and the help.
#include "tools/sapp-host/cli/Options.h"

#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "tools/sapp-host/cli/CommandLine.h"

namespace sapphost {
namespace {

Options parsed(const std::vector<std::string>& words) {
    bool help = false;
    return parseCommandLine(words, help);
}

// The message of the UsageError that `call` throws; empty when it throws none.
template <typename F> std::string usageErrorOf(F&& call) {
    try {
        call();
    } catch (const UsageError& e) {
        return e.what();
    }
    return {};
}

std::string spelled(const OptionRow& row) {
    return std::string(row.name) + (row.argument.empty() ? "" : " " + std::string(row.argument));
}

// The commands a row names.
std::vector<std::string> commandsOf(const OptionRow& row) {
    std::istringstream words{std::string(row.commands)};
    return {std::istream_iterator<std::string>(words), std::istream_iterator<std::string>()};
}

TEST(OptionsTest, TheTableIsConsistent) {
    std::map<std::string_view, bool> takesValue;
    std::set<std::pair<std::string, std::string_view>> seen;
    std::map<std::pair<std::string, std::string_view>, std::vector<const OptionRow*>> groups;
    for (const OptionRow& row : optionTable()) {
        SCOPED_TRACE(spelled(row) + " of " + std::string(row.commands));
        EXPECT_EQ(row.name.substr(0, 1), "-");
        EXPECT_FALSE(row.help.empty());
        // The parser reads a value by any row of the name.
        const auto [known, added] = takesValue.emplace(row.name, !row.argument.empty());
        EXPECT_TRUE(added || known->second == !row.argument.empty()) << "rows of one option disagree on its value";
        if (row.number) {
            EXPECT_FALSE(row.argument.empty());
            EXPECT_LE(row.number->least, row.number->fallback);
            EXPECT_LE(row.number->fallback, row.number->most);
        }
        ASSERT_FALSE(commandsOf(row).empty());
        for (const std::string& command : commandsOf(row)) {
            EXPECT_NE(findCommand(command), nullptr) << command;
            EXPECT_TRUE(seen.emplace(command, row.name).second) << command << " takes the option twice";
            if (!row.group.empty()) groups[{command, row.group}].push_back(&row);
        }
    }
    for (const auto& [key, rows] : groups) {
        EXPECT_GE(rows.size(), 2u) << key.first << ": a group of one";
        for (const OptionRow* row : rows) EXPECT_EQ(row->need, rows.front()->need) << key.first;
    }
}

TEST(OptionsTest, ParsesOptionsAnywhereByTheTable) {
    bool help = true;
    const Options check = parseCommandLine(
        {"--module", "m.so", "check", "a.json", "--junit", "r.xml", "--json", "b.json", "-", "--junit", "s.xml"}, help);
    EXPECT_FALSE(help);
    EXPECT_EQ(check.command, "check");
    EXPECT_EQ(check.args, (std::vector<std::string>{"a.json", "b.json", "-"}));
    EXPECT_EQ(check.value("--module"), "m.so");
    EXPECT_EQ(check.value("--junit"), "s.xml") << "the last value given";
    EXPECT_TRUE(check.has("--json"));
    EXPECT_FALSE(check.has("--html"));
    EXPECT_EQ(check.value("--html"), std::nullopt);

    // A value is whatever follows its option.
    EXPECT_EQ(parsed({"record", "f.json", "-o", "--json"}).value("-o"), "--json");
    parseCommandLine({"run", "-h"}, help);
    EXPECT_TRUE(help);

    EXPECT_EQ(usageErrorOf([] { parsed({"run", "--bogus"}); }), "unknown option --bogus");
    EXPECT_EQ(usageErrorOf([] { parsed({"check", "a.json", "--junit"}); }), "--junit needs a value");
}

TEST(OptionsTest, ACommandTakesOnlyItsOwnOptionsAndThoseItNeeds) {
    const auto errorOf = [](const std::vector<std::string>& words) {
        return usageErrorOf([&words] { checkOptions(parsed(words)); });
    };
    EXPECT_EQ(errorOf({"run", "--junit", "x"}), "--junit is an option of check and report");
    // The hidden commands that take --module are not named.
    EXPECT_EQ(errorOf({"decode", "--uri", "1", "--module", "x"}),
              "--module is an option of run, check, report, record, diagram, soak and sweep");
    // Groups: exactly one of --uri and --record, at most one of -o and --in-place.
    EXPECT_EQ(errorOf({"decode", "00"}), "give either --uri or --record");
    EXPECT_EQ(errorOf({"encode", "--uri", "1", "--record", "X", "{}"}), "give either --uri or --record");
    EXPECT_EQ(errorOf({"decode", "--record", "X", "00"}), "");
    EXPECT_EQ(errorOf({"record", "f", "-o", "x", "--in-place"}), "give either -o or --in-place");
    EXPECT_EQ(errorOf({"record", "f"}), "");
    EXPECT_EQ(errorOf({"report", "d"}), "report needs -o FILE.html, the page to write");
    EXPECT_EQ(errorOf({"report", "d", "-o", "r.html", "--junit", "r.xml"}), "");

    // Asking for an option the table does not give the command is sapp-host's
    // own mistake.
    EXPECT_THROW(parsed({"run"}).has("--strict"), std::logic_error);
    EXPECT_THROW(parsed({"decode"}).value("--modul"), std::logic_error);
}

// A word that is not a command or an option gets the nearest one.
TEST(OptionsTest, MisspeltNamesGetTheNearest) {
    const std::vector<std::string_view> names = {"run", "check", "report", "record", "decode", "__play-one"};
    EXPECT_EQ(didYouMean("chek", names), " (did you mean check?)");
    EXPECT_EQ(didYouMean("reprot", names), " (did you mean report?)") << "two letters swapped";
    EXPECT_EQ(didYouMean("recrods", names), " (did you mean record?)");
    EXPECT_EQ(didYouMean("__play-on", names), "") << "hidden commands are never suggested";
    EXPECT_EQ(didYouMean("soak", names), "");
    EXPECT_EQ(didYouMean("ru", names), "") << "too short to tell";
    EXPECT_EQ(usageErrorOf([] { parsed({"run", "--jsn"}); }), "unknown option --jsn (did you mean --json?)");
}

TEST(OptionsTest, NumbersAreCheckedAgainstTheirRange) {
    EXPECT_EQ(parsed({"soak"}).number("--sessions"), 100u);
    EXPECT_EQ(parsed({"soak", "--sessions", "7", "--seed", "0"}).number("--sessions"), 7u);
    EXPECT_EQ(parsed({"soak", "--seed", "0"}).number("--seed"), 0u);
    EXPECT_EQ(parsed({"soak", "--packets", "1000000000000"}).number("--packets"), 1000000000000u);
    for (const char* bad : {"0", "100001", "x", "-1", "", "1e3", "0000000000000000001"}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(usageErrorOf([bad] { parsed({"soak", "--sessions", bad}).number("--sessions"); }),
                  "--sessions: expected a number from 1 to 100000, got \"" + std::string(bad) + "\"");
    }
    EXPECT_THROW(parsed({"check"}).number("--junit"), std::logic_error);
}

TEST(OptionsTest, UsageAndHelpAreMadeFromTheTable) {
    const auto help = [](const char* command) { return helpText(*findCommand(command)); };
    EXPECT_EQ(help("encode").rfind("usage: sapp-host encode (--uri URI | --record NAME) JSON\n\n", 0), 0u);
    EXPECT_EQ(help("record").rfind("usage: sapp-host [--module PATH] record FILE [-o OUT | --in-place]\n\n", 0), 0u);
    EXPECT_EQ(help("report").rfind("usage: sapp-host [--module PATH] report -o FILE.html FILE|DIR... [--json]", 0), 0u);
    // Beside each other, the help wrapped under its start; a number's range.
    EXPECT_NE(help("soak").find("\nOptions:\n  --sessions N    the sessions open at a time (1 to 100000, default 100)\n"
                                "  --packets M     the packets and client requests to play (1 to 1000000000000,\n"
                                "                  default 100000)\n"),
              std::string::npos)
        << help("soak");
    // The list of commands: the general options once, at the end.
    const std::string usage = usageText();
    EXPECT_NE(usage.find("\n  diagram [FILE]             play a scenario (the built-in typical session\n"),
              std::string::npos)
        << usage;
    // A synopsis too long for a line goes on further in, never inside brackets.
    EXPECT_NE(usage.find("\n  check FILE|DIR... [--json] [--junit FILE] [--html FILE] [--name PATTERN]\n"
                         "    [-j N] [--timeout SECONDS]\n"),
              std::string::npos)
        << usage;
    EXPECT_EQ(usage.find("[--module PATH]"), std::string::npos) << usage;
    EXPECT_NE(usage.find("\nOptions:\n  --module PATH       the module file to load"), std::string::npos) << usage;

    // Every option of every command is in its help and in sapp-host's, there
    // with the commands that take it, and no line is wider than a terminal.
    std::vector<std::string> texts = {usage};
    for (const OptionRow& row : optionTable()) {
        std::string commands;
        for (const std::string& command : commandsOf(row)) {
            if (isHiddenCommand(command)) continue;
            commands += (commands.empty() ? "" : ", ") + command;
            texts.push_back(help(command.c_str()));
            EXPECT_NE(texts.back().find("\n  " + spelled(row) + "  "), std::string::npos) << command << " " << row.name;
        }
        const std::string listed = row.general ? "" : R"(\()" + commands + R"(\) )";
        EXPECT_TRUE(std::regex_search(usage, std::regex("\n  " + spelled(row) + " +" + listed)))
            << spelled(row) << " of " << row.commands << " in\n" << usage;
    }
    for (const std::string& text : texts) {
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 79u) << line;
    }
}

}  // namespace
}  // namespace sapphost
