#include "fs/paths.h"

#include <gtest/gtest.h>

namespace {

using fs::PathStyle;
constexpr PathStyle posix = PathStyle::posix;
constexpr PathStyle windows = PathStyle::windows;

TEST(Paths, FullPathsAreResolvedLexically) {
    struct Row {
        const char* path;
        const char* workingDir;
        PathStyle style;
        const char* full;
    };
    const Row rows[] = {
        {"atlas", "/home/u", posix, "/home/u/atlas"},
        {"./a/../b/", "/home/u", posix, "/home/u/b/"},
        {"../../../..", "/home/u", posix, "/"},
        {"/x//y/.", "/home/u", posix, "/x/y"},
        {"", "/w/v", posix, "/w/v"},
        {"..", "/", posix, "/"},
        {"a b/-c", "/w", posix, "/w/a b/-c"},
        {"C:\\data\\..\\atlas", "D:\\w", windows, "C:\\atlas"},
        {"atlas\\", "C:\\w", windows, "C:\\w\\atlas\\"},
        {"..\\..", "C:\\w", windows, "C:\\"},
        {"\\top", "C:\\w\\x", windows, "C:\\top"},
        {"c:atlas", "C:\\w", windows, "C:\\w\\atlas"},
        // Relative to another drive: the system places it.
        {"X:atlas", "C:\\w", windows, "X:atlas"},
        {"a/b\\..\\c", "\\\\server\\share\\w", windows, "\\\\server\\share\\w\\a\\c"},
        {"..\\..", "\\\\server\\share\\w", windows, "\\\\server\\share\\"},
        // A share without proper names climbs no further than its two
        // separators.
        {"//\\..\\x", "C:\\w", windows, "//\\x"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(fs::lexicalFullPath(row.path, row.workingDir, row.style), row.full) << row.path;
    }
}

TEST(Paths, SplitJoinAndRoots) {
    struct Row {
        const char* path;
        PathStyle style;
        const char* drive;
        const char* dir;
        const char* name;
        const char* ext;
    };
    const Row rows[] = {
        {"/data/west.nm3", posix, "", "/data/", "west", ".nm3"},
        {"/data/a.b.c", posix, "", "/data/", "a.b", ".c"},
        {"/data.d/west", posix, "", "/data.d/", "west", ""},
        {"west", posix, "", "", "west", ""},
        {"/dir/", posix, "", "/dir/", "", ""},
        {"C:\\x\\idx.nti", windows, "C:", "\\x\\", "idx", ".nti"},
        {"C:west.nm3", windows, "C:", "", "west", ".nm3"},
        {"D:/x\\y/.hidden", windows, "D:", "/x\\y/", "", ".hidden"},
        // A backslash is an ordinary character in a POSIX name.
        {"/a\\b.nm2", posix, "", "/", "a\\b", ".nm2"},
    };
    for (const Row& row : rows) {
        const fs::PathParts parts = fs::splitPath(row.path, row.style);
        EXPECT_EQ(parts.drive, row.drive) << row.path;
        EXPECT_EQ(parts.dir, row.dir) << row.path;
        EXPECT_EQ(parts.name, row.name) << row.path;
        EXPECT_EQ(parts.ext, row.ext) << row.path;
    }
    EXPECT_EQ(fs::joinPath("/data", "a.nm2", posix), "/data/a.nm2");
    EXPECT_EQ(fs::joinPath("/", "a.nm2", posix), "/a.nm2");
    EXPECT_EQ(fs::joinPath("C:", "a.nm2", windows), "C:\\a.nm2");
    EXPECT_EQ(fs::joinPath("C:\\data\\", "a.nm2", windows), "C:\\data\\a.nm2");
    EXPECT_TRUE(fs::isAbsolute("\\\\server\\share", windows));
    EXPECT_FALSE(fs::isAbsolute("C:x", windows));
    EXPECT_FALSE(fs::isAbsolute("C:\\x", posix));
    EXPECT_TRUE(fs::isRoot("/", posix));
    EXPECT_FALSE(fs::isRoot("C:", windows));
}

}  // namespace
