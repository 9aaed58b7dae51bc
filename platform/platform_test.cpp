#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"
#include "testing/scratch.h"

namespace {

TEST(FileIdentity, FollowsLinksAndSeesThroughOtherNames) {
    testsupport::ScratchDir dir;
    testsupport::writeFile(dir / "a", "x");
    testsupport::writeFile(dir / "b", "x");
    ASSERT_EQ(::link((dir / "a").c_str(), (dir / "hard").c_str()), 0);
    ASSERT_EQ(::symlink((dir / "a").c_str(), (dir / "soft").c_str()), 0);
    const fs::Status a = platform::pathStatus(dir / "a", true);
    ASSERT_EQ(a.kind, fs::Kind::file);
    EXPECT_EQ(a.links, 2u);
    EXPECT_EQ(fs::sameFile(platform::pathStatus(dir / "hard", true), a), fs::Sameness::same);
    EXPECT_EQ(fs::sameFile(platform::pathStatus(dir / "soft", true), a), fs::Sameness::same);
    EXPECT_EQ(fs::sameFile(platform::pathStatus(dir / "soft", false), a), fs::Sameness::different);
    EXPECT_EQ(fs::sameFile(platform::pathStatus(dir / "b", true), a), fs::Sameness::different);
    EXPECT_EQ(platform::pathStatus(dir / "missing", true).kind, fs::Kind::missing);
    EXPECT_EQ(fs::sameFile(*platform::openRead(dir / "soft")->status(), a), fs::Sameness::same);
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
