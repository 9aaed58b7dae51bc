#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"
#include "support/scratch.h"

namespace {

TEST(FullPath, ResolvesLexicallyFromTheWorkingDir) {
    EXPECT_EQ(platform::fullPath("atlas", "/home/u"), "/home/u/atlas");
    EXPECT_EQ(platform::fullPath("./a/../b/./c", "/w"), "/w/b/c");
    EXPECT_EQ(platform::fullPath("../../../x", "/w/y"), "/x");
    EXPECT_EQ(platform::fullPath("/data//atlas/", "/w"), "/data/atlas/");
    EXPECT_EQ(platform::fullPath("/", "/w"), "/");
    EXPECT_EQ(platform::fullPath("..", "/"), "/");
    EXPECT_EQ(platform::fullPath("", "/w/v"), "/w/v");
    EXPECT_EQ(platform::fullPath("a b/-c", "/w"), "/w/a b/-c");
}

TEST(SplitPath, KeepsTheLastDotAsExtension) {
    const platform::PathParts parts = platform::splitPath("/data/west.v2.nm3");
    EXPECT_EQ(parts.drive, "");
    EXPECT_EQ(parts.dir, "/data/");
    EXPECT_EQ(parts.name, "west.v2");
    EXPECT_EQ(parts.ext, ".nm3");
    EXPECT_EQ(platform::splitPath("west").name, "west");
    EXPECT_EQ(platform::splitPath("west").ext, "");
    EXPECT_EQ(platform::splitPath("/a.b/west").ext, "");
    EXPECT_EQ(platform::splitPath("/dir/").name, "");
}

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
