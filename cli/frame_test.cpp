#include "cli/frame.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/text.h"

namespace {

TEST(Frame, BannerAndUsage) {
    EXPECT_EQ(cli::bannerText(), "\n\nNM3 atlas archive packer and unpacker\nResearch version: 0.2.3\n\n");
    EXPECT_EQ(cli::usageText("/usr/local/bin/veskal", "usage:\n %s%s [x]\n\n"), "usage:\n veskal [x]\n\n");
    EXPECT_EQ(cli::usageText("./tools/unveskal.bin", "%s|%s"), "unveskal|.bin");
}

// Texts of any length, across the length a line is first written in.
TEST(Frame, TextsOfAnyLength) {
    for (const std::size_t length : {0, 1, 236, 237, 238, 5000}) {
        const std::string path(length, 'p');
        EXPECT_EQ(cli::formatText(" Error open file %s.\n", path.c_str()), " Error open file " + path + ".\n");
    }
    EXPECT_EQ(cli::formatText("%s", ""), "");
}

}  // namespace
