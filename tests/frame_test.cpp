#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console/frame.h"

namespace {

TEST(Frame, BannerAndUsage) {
    EXPECT_EQ(console::bannerText(), "\n\nNM3 atlas archive packer and unpacker\nResearch version: 0.2.3\n\n");
    EXPECT_EQ(console::usageText("/usr/local/bin/veskal", "usage:\n %s%s [x]\n\n"), "usage:\n veskal [x]\n\n");
    EXPECT_EQ(console::usageText("./tools/unveskal.bin", "%s|%s"), "unveskal|.bin");
}

}  // namespace
