#include "cli/frame.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(Frame, BannerAndUsage) {
    EXPECT_EQ(cli::bannerText(), "\n\nNM3 atlas archive packer and unpacker\nResearch version: 0.2.3\n\n");
    EXPECT_EQ(cli::usageText("/usr/local/bin/veskal", "usage:\n %s%s [x]\n\n"), "usage:\n veskal [x]\n\n");
    EXPECT_EQ(cli::usageText("./tools/unveskal.bin", "%s|%s"), "unveskal|.bin");
}

}  // namespace
