#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"
#include "support/scratch.h"

namespace {

TEST(FileIdentity, FollowsLinksAndSeesThroughOtherNames) {
    testsupport::ScratchDir dir;
    testsupport::writeFile(dir / "a", "x");
    testsupport::writeFile(dir / "b", "x");
    ASSERT_EQ(::link((dir / "a").c_str(), (dir / "hard").c_str()), 0);
    ASSERT_EQ(::symlink((dir / "a").c_str(), (dir / "soft").c_str()), 0);
    const auto a = platform::fileId(dir / "a");
    ASSERT_TRUE(a);
    EXPECT_EQ(platform::fileId(dir / "hard"), a);
    EXPECT_EQ(platform::fileId(dir / "soft"), a);
    EXPECT_NE(platform::fileId(dir / "b"), a);
    EXPECT_FALSE(platform::fileId(dir / "missing"));
    EXPECT_EQ(platform::openRead(dir / "soft")->id(), a);
}

TEST(ListDir, MarksDirectoriesAndLinksToThem) {
    testsupport::ScratchDir dir;
    ASSERT_EQ(::mkdir((dir / "sub").c_str(), 0700), 0);
    ASSERT_EQ(::symlink("sub", (dir / "tosub").c_str()), 0);
    ASSERT_EQ(::symlink("nowhere", (dir / "dangling").c_str()), 0);
    testsupport::writeFile(dir / "f", "");
    auto entries = platform::listDir(dir.path());
    ASSERT_TRUE(entries);
    std::map<std::string, bool> seen;
    for (const auto& entry : *entries) seen[entry.name] = entry.isDirectory;
    EXPECT_EQ(seen, (std::map<std::string, bool>{{"sub", true}, {"tosub", true}, {"dangling", false}, {"f", false}}));
    EXPECT_FALSE(platform::listDir(dir / "f"));
}

}  // namespace
