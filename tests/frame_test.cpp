#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/frame.h"
#include "console/path.h"

namespace {

struct Scan {
    console::ScanResult result;
    std::vector<std::string> seen;  // every option the handler was told of
};

// Scans `args` (argv[0] added) with a table that knows only 'i' and 'o'.
Scan scan(std::vector<const char*> args) {
    args.insert(args.begin(), "prog");
    Scan out;
    out.result = console::scanOptions(static_cast<int>(args.size()), args.data(), [&](char letter, std::string_view arg) {
        out.seen.emplace_back(arg);
        return letter == 'i' || letter == 'o';
    });
    return out;
}

TEST(ScanOptions, ReturnsTheOperandAndStopsThere) {
    const Scan s = scan({"-i:a", "folder", "-h", "-x"});
    EXPECT_EQ(s.result.operand, 2);
    EXPECT_EQ(s.seen, (std::vector<std::string>{"-i:a"}));
    EXPECT_TRUE(s.result.unknown.empty());
}

TEST(ScanOptions, HelpLettersWinWhereverTheyStandBeforeTheOperand) {
    for (const char* help : {"-?", "-h", "-H", "-help"}) {
        const Scan s = scan({"-i:a", "-x", help, "-y", "folder"});
        EXPECT_EQ(s.result.operand, console::helpRequested) << help;
        EXPECT_EQ(s.result.unknown, (std::vector<std::string>{"-x"})) << help;
    }
}

TEST(ScanOptions, ReportsUnknownLettersInOrderAndGoesOn) {
    const Scan s = scan({"-xyz", "-", "-o:out", "-Q"});
    EXPECT_EQ(s.result.operand, 0);
    EXPECT_EQ(s.result.unknown, (std::vector<std::string>{"-xyz", "-", "-Q"}));
    EXPECT_EQ(console::unknownOptionsText(s.result), "unknown option -xyz\nunknown option -\nunknown option -Q\n");
}

TEST(ScanOptions, AbsolutePathIsAnOperandAndEmptyArgumentsToo) {
    EXPECT_EQ(scan({"-i:a", "/data/atlas"}).result.operand, 2);
    EXPECT_EQ(scan({""}).result.operand, 1);
    EXPECT_EQ(scan({}).result.operand, 0);
}

TEST(Frame, BannerAndUsage) {
    EXPECT_EQ(console::bannerText(), "\n\nNM3 atlas archive packer and unpacker\nResearch version: 0.2.3\n\n");
    EXPECT_EQ(console::usageText("/usr/local/bin/veskal", "usage:\n %s%s [x]\n\n"), "usage:\n veskal [x]\n\n");
    EXPECT_EQ(console::usageText("./tools/unveskal.bin", "%s|%s"), "unveskal|.bin");
}

TEST(JoinPath, AddsOneSeparator) {
    EXPECT_EQ(console::joinPath("/data", "a.nm2"), "/data/a.nm2");
    EXPECT_EQ(console::joinPath("/data/", "a.nm2"), "/data/a.nm2");
    EXPECT_EQ(console::joinPath("/", "a.nm2"), "/a.nm2");
}

}  // namespace
