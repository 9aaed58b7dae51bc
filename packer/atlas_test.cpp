#include "packer/atlas.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

TEST(AtlasOrder, MatchesNm2InAnyCase) {
    for (const char* name : {"a.nm2", "B.NM2", "c.Nm2", ".nm2", "x.y.nm2"})
        EXPECT_TRUE(packer::matchesNm2(name)) << name;
    for (const char* name : {"a.nm3", "nm2", "a.nm2.bak", "a_nm2", "a.nm"})
        EXPECT_FALSE(packer::matchesNm2(name)) << name;
}

TEST(AtlasOrder, FoldsLettersThenBreaksTiesByExactBytes) {
    std::vector<std::string> names{"b.nm2", "_x.nm2", "A.nm2", "a.nm2", "Z.nm2", "\xc3\xa9.nm2", "1.nm2", "ab.nm2"};
    std::sort(names.begin(), names.end(), packer::listsBefore);
    // '_' (0x5F) sorts after upper-case letters, as folded names compare in
    // upper case; bytes above 0x7F sort last.
    const std::vector<std::string> expected{"1.nm2", "A.nm2", "a.nm2",  "ab.nm2",
                                            "b.nm2", "Z.nm2", "_x.nm2", "\xc3\xa9.nm2"};
    EXPECT_EQ(names, expected);
    EXPECT_FALSE(packer::listsBefore("a.nm2", "a.nm2"));
}

}  // namespace
