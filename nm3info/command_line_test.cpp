#include "nm3info/command_line.h"

#include <gtest/gtest.h>

namespace {

using cli::OptionStyle;

// The action written out, so that a row gives it as one literal.
std::string described(const nm3info::Action& action) {
    if (std::holds_alternative<nm3info::Help>(action)) return "help";
    if (std::holds_alternative<nm3info::Version>(action)) return "version";
    if (const auto* misuse = std::get_if<nm3info::Misuse>(&action)) return "misuse: " + misuse->message;
    const auto& job = std::get<nm3info::Job>(action);
    const char* const modes[] = {"list", "test", "extract"};
    std::string text = modes[static_cast<int>(job.mode)];
    if (job.json) text += " json";
    if (job.mode == nm3info::Mode::extract) text += " " + std::to_string(job.member);
    for (const std::string& archive : job.archives) text += " [" + archive + "]";
    return text;
}

struct Row {
    std::vector<std::string> arguments;
    OptionStyle style;
    std::string action;
};

TEST(Nm3infoCommandLine, Rows) {
    const std::vector<Row> rows{
        {{"a.nm3"}, OptionStyle::dash, "list [a.nm3]"},
        {{"-l", "a.nm3", "--json", "b.nm3"}, OptionStyle::dash, "list json [a.nm3] [b.nm3]"},
        {{"-lj", "a.nm3"}, OptionStyle::dash, "list json [a.nm3]"},
        {{"a.nm3", "-t", "b"}, OptionStyle::dash, "test [a.nm3] [b]"},
        {{"--test", "--", "-x", "--json", "/?"}, OptionStyle::dashOrSlash, "test [-x] [--json] [/?]"},
        {{"-x", "0", "a.nm3"}, OptionStyle::dash, "extract 0 [a.nm3]"},
        {{"-x12", "a.nm3"}, OptionStyle::dash, "extract 12 [a.nm3]"},
        {{"-tx", "3"}, OptionStyle::dash, "misuse: -l, -t and -x can't be used together"},
        {{"--extract=4294967296", "a.nm3"}, OptionStyle::dash, "extract 4294967296 [a.nm3]"},
        {{"--extract", "7", "-", "a.nm3"}, OptionStyle::dash, "misuse: -x takes exactly one archive"},
        {{"-x", "a.nm3"}, OptionStyle::dash, "misuse: -x needs a member number, not 'a.nm3'"},
        {{"a.nm3", "-x"}, OptionStyle::dash, "misuse: option -x needs a member number"},
        {{"-x", "+1", "a.nm3"}, OptionStyle::dash, "misuse: -x needs a member number, not '+1'"},
        {{"-x", "99999999999999999999", "a"},
         OptionStyle::dash,
         "misuse: -x needs a member number, not '99999999999999999999'"},
        {{"-j", "-x1", "a.nm3"}, OptionStyle::dash, "misuse: --json goes with the listing only"},
        {{"--list=yes", "a.nm3"}, OptionStyle::dash, "misuse: option --list takes no value"},
        {{"-q", "--bogus", "a.nm3"}, OptionStyle::dash, "misuse: unknown option -q"},
        {{"--lis", "a.nm3"}, OptionStyle::dash, "misuse: unknown option --lis"},
        {{}, OptionStyle::dash, "misuse: no archive given"},
        {{"-t", "--"}, OptionStyle::dash, "misuse: no archive given"},
        // Help and the version win over anything wrong, wherever they stand.
        {{"-q", "a.nm3", "-h"}, OptionStyle::dash, "help"},
        {{"-x", "-h", "a.nm3"}, OptionStyle::dash, "misuse: -x needs a member number, not '-h'"},
        {{"--version", "--help"}, OptionStyle::dash, "version"},
        {{"-lV"}, OptionStyle::dash, "version"},
        {{"/?"}, OptionStyle::dashOrSlash, "help"},
        {{"/?"}, OptionStyle::dash, "list [/?]"},
        {{"--", "-h"}, OptionStyle::dash, "list [-h]"},
    };
    for (const Row& row : rows) {
        std::string line;
        for (const std::string& argument : row.arguments) line += " " + argument;
        EXPECT_EQ(described(nm3info::readCommandLine(row.arguments, row.style)), row.action) << line;
    }
}

}  // namespace
