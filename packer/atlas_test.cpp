#include "packer/atlas.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "testing/memory_file_system.h"

namespace {

TEST(AtlasOrder, MatchesNm2InAnyCase) {
    for (const char* name : {"a.nm2", "B.NM2", "c.Nm2", ".nm2", "x.y.nm2"}) {
        EXPECT_TRUE(packer::matchesNm2(name)) << name;
    }
    for (const char* name : {"a.nm3", "nm2", "a.nm2.bak", "a_nm2", "a.nm"}) {
        EXPECT_FALSE(packer::matchesNm2(name)) << name;
    }
}

TEST(AtlasOrder, FoldsLettersThenBreaksTiesByExactBytes) {
    testsupport::MemoryFileSystem files;
    files.addDir("/atlas");
    for (const char* name :
         {"b.nm2", "_x.nm2", "A.nm2", "a.nm2", "Z.nm2", "\xc3\xa9.nm2", "1.nm2", "ab.nm2", "a.NM2.nm2", "ab.txt"}) {
        files.addFile(std::string("/atlas/") + name, "");
    }
    const std::optional<std::vector<fs::Entry>> entries = packer::listNm2Entries(files, "/atlas");
    ASSERT_TRUE(entries);
    std::vector<std::string> names;
    for (const fs::Entry& entry : *entries) names.push_back(entry.name);
    // '_' (0x5F) sorts after upper-case letters, as folded names compare in
    // upper case; bytes above 0x7F sort last; a name before a longer one it
    // begins.
    const std::vector<std::string> expected{"1.nm2", "A.nm2", "a.nm2",  "a.NM2.nm2",   "ab.nm2",
                                            "b.nm2", "Z.nm2", "_x.nm2", "\xc3\xa9.nm2"};
    EXPECT_EQ(names, expected);
}

}  // namespace
