#include "cli/command_line.h"

#include <gtest/gtest.h>

// The tables below are laid out by hand, a row to a case.
// clang-format off

namespace {

using cli::OptionStyle;

// The action, written out so that a row can give it as one literal.
std::string described(const cli::CommandLine<packer::Job>& line) {
    if (std::holds_alternative<cli::Help>(line.action)) return "help";
    const packer::Job& job = std::get<packer::Job>(line.action);
    return "i=" + job.index + " r=" + job.route + " o=" + job.out + " dir=" + job.atlasDir.value_or("(none)");
}

std::string described(const cli::CommandLine<unpacker::Job>& line) {
    if (std::holds_alternative<cli::Help>(line.action)) return "help";
    return "archive=" + std::get<unpacker::Job>(line.action).archive;
}

struct Row {
    std::vector<std::string> arguments;
    OptionStyle style;
    std::string action;
    std::vector<std::string> unknown;
};

TEST(PackCommandLine, Rows) {
    const std::vector<Row> rows{
        {{}, OptionStyle::dash, "i= r= o= dir=(none)", {}},
        {{"-i:a.nti", "-r:b.nm2", "-o:x.nm3", "atlas"}, OptionStyle::dash, "i=a.nti r=b.nm2 o=x.nm3 dir=atlas", {}},
        // Upper-case letters; a later value replaces an earlier one; bare
        // letters are ignored without a word.
        {{"-I:a", "-i:b", "-R:r", "-O:o", "-i", "-rx"}, OptionStyle::dash, "i=b r=r o=o dir=(none)", {}},
        // Options after the operand are never seen.
        {{"atlas", "-i:a", "-h"}, OptionStyle::dash, "i= r= o= dir=atlas", {}},
        // Help wins wherever it stands before the operand; unknown letters
        // before it are still reported.
        {{"-x", "-i:a", "-help", "-y", "atlas"}, OptionStyle::dash, "help", {"-x"}},
        {{"-?"}, OptionStyle::dash, "help", {}},
        {{"-h"}, OptionStyle::dash, "help", {}},
        {{"-i:a.nti", "-H", "atlas"}, OptionStyle::dash, "help", {}},
        {{"-H"}, OptionStyle::dashOrSlash, "help", {}},
        {{"-", "-xyz", "-o:", "-Q"}, OptionStyle::dash, "i= r= o= dir=(none)", {"-", "-xyz", "-Q"}},
        // '/' begins an absolute path, or an option on Windows.
        {{"-i:a", "/data/atlas"}, OptionStyle::dash, "i=a r= o= dir=/data/atlas", {}},
        {{"/i:a", "/?", "x"}, OptionStyle::dashOrSlash, "help", {}},
        {{"/i:a", "/o:C:\\x.nm3", "/z", "C:\\atlas"}, OptionStyle::dashOrSlash, "i=a r= o=C:\\x.nm3 dir=C:\\atlas", {"/z"}},
        // An empty argument is the operand.
        {{"", "-i:a"}, OptionStyle::dash, "i= r= o= dir=", {}},
    };
    for (const Row& row : rows) {
        const auto line = cli::readPackCommandLine(row.arguments, row.style);
        const std::string first = row.arguments.empty() ? "(none)" : row.arguments.front();
        EXPECT_EQ(described(line), row.action) << first;
        EXPECT_EQ(line.unknown, row.unknown) << first;
    }
}

TEST(UnpackCommandLine, Rows) {
    const std::vector<Row> rows{
        {{}, OptionStyle::dash, "help", {}},
        {{"-x"}, OptionStyle::dash, "help", {"-x"}},
        {{"-i:a", "west.nm3", "-h"}, OptionStyle::dash, "archive=west.nm3", {"-i:a"}},
        {{"-h", "west.nm3"}, OptionStyle::dash, "help", {}},
        {{"/data/west.nm3"}, OptionStyle::dash, "archive=/data/west.nm3", {}},
        {{"/x", "C:\\west.nm3"}, OptionStyle::dashOrSlash, "archive=C:\\west.nm3", {"/x"}},
    };
    for (const Row& row : rows) {
        const auto line = cli::readUnpackCommandLine(row.arguments, row.style);
        const std::string first = row.arguments.empty() ? "(none)" : row.arguments.front();
        EXPECT_EQ(described(line), row.action) << first;
        EXPECT_EQ(line.unknown, row.unknown) << first;
    }
}

}  // namespace
