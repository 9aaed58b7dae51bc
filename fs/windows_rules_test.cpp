// The Windows side's rules that need no system: extended paths, names that
// don't survive conversion, listings that fail part-way, which final path
// names a file itself, and when a file's number identifies it.
#include "fs/windows_rules.h"

#include <gtest/gtest.h>

namespace {

using namespace fs::windows;

TEST(ExtendedPath, TakesEveryFullPathToTheFormThatReachesItsOwnFile) {
    const struct {
        const char* full;
        const char* extended;
    } rows[] = {
        {"C:\\atlas\\a.nm2", "\\\\?\\C:\\atlas\\a.nm2"},
        {"z:/data//atlas/", "\\\\?\\z:\\data\\atlas\\"},
        {"C:", "\\\\?\\C:\\"},
        {"C:\\", "\\\\?\\C:\\"},
        {"C:\\atlas\\CON.nm2", "\\\\?\\C:\\atlas\\CON.nm2"},
        {"C:\\atlas\\trailing. ", "\\\\?\\C:\\atlas\\trailing. "},
        {"\\\\server\\share\\atlas", "\\\\?\\UNC\\server\\share\\atlas"},
        {"//server/share", "\\\\?\\UNC\\server\\share"},
        {"\\\\?\\Z:\\given\\as is", "\\\\?\\Z:\\given\\as is"},
        {"\\\\?\\Z:", "\\\\?\\Z:\\"},
        {"\\\\.\\pipe\\x", "\\\\.\\pipe\\x"},
        // Not full: left to the system as it is.
        {"C:atlas", "C:atlas"},
        {"atlas\\a.nm2", "atlas\\a.nm2"},
        {"\\atlas", "\\atlas"},
    };
    for (const auto& row : rows) EXPECT_EQ(extendedPath(row.full), row.extended) << row.full;
    EXPECT_EQ(namePart("\\\\?\\Z:\\a?b"), "Z:\\a?b");
    EXPECT_EQ(namePart("Z:\\a"), "Z:\\a");
}

TEST(ListedNames, OnlyNamesThatLeadBackToTheirEntryAreKept) {
    EXPECT_EQ(exactUtf8(u"a\u00e9\u4e16\U0001F600.nm2"), "a\xc3\xa9\xe4\xb8\x96\xf0\x9f\x98\x80.nm2");
    EXPECT_EQ(exactUtf8(u""), "");
    const std::u16string lone[] = {std::u16string(u"x") + char16_t(0xD800) + u".nm2",
                                   std::u16string(u"x") + char16_t(0xDC00) + u".nm2",
                                   std::u16string(u"x.nm2") + char16_t(0xD83D)};
    for (const std::u16string& name : lone) EXPECT_EQ(exactUtf8(name), std::nullopt);
    EXPECT_EQ(shownUtf8(lone[0]), "x\xef\xbf\xbd.nm2");

    // Three names shown as one, then the end; "." and ".." never count.
    const char* shown[] = {".", "\xef\xbf\xbd.nm2", "a.nm2", "..", "\xef\xbf\xbd.nm2", "A.nm2", "\xef\xbf\xbd.nm2"};
    std::size_t step = 0;
    const auto entries = collectListing([&](fs::Entry& entry) {
        if (step == std::size(shown)) return ListStep::end;
        entry.name = shown[step++];
        return ListStep::entry;
    });
    ASSERT_TRUE(entries);
    std::string kept;
    for (const fs::Entry& entry : *entries) kept += entry.name + (entry.nameKept ? "+ " : "- ");
    EXPECT_EQ(kept, "\xef\xbf\xbd.nm2- a.nm2+ \xef\xbf\xbd.nm2- A.nm2+ \xef\xbf\xbd.nm2- ");
}

TEST(ListedNames, AFailureAfterTheFirstEntriesFailsTheListing) {
    const ListStep runs[][3] = {{ListStep::entry, ListStep::failed, ListStep::end},
                                {ListStep::failed, ListStep::end, ListStep::end},
                                {ListStep::entry, ListStep::entry, ListStep::end}};
    std::string results;
    for (const auto& run : runs) {
        std::size_t step = 0;
        const auto entries = collectListing([&](fs::Entry& entry) {
            entry.name = "m.nm2";
            return run[step++];
        });
        results += entries ? std::to_string(entries->size()) : "failed";
        results += ' ';
    }
    EXPECT_EQ(results, "failed failed 2 ");
}

TEST(FinalPaths, ANameIsItselfOnlyByItsExactNameOrWithTheTrailingDotsWineLeavesOut) {
    const struct {
        const wchar_t* name;
        const wchar_t* reached;
        NameMatch match;
    } rows[] = {
        {L"west_00000.nm2", L"west_00000.nm2", NameMatch::same},
        {L"west_00000.nm2", L"WEST_00000.nm2", NameMatch::other},
        {L"\u00e9t\u00e9.nm2", L"\u00c9T\u00c9.nm2", NameMatch::other},
        {L"index.058.nti", L"west_00001.nm2", NameMatch::other},
        {L"dot.", L"dot", NameMatch::sameButTrailing},
        {L"space . ", L"space", NameMatch::sameButTrailing},
        {L"dot.", L"DOT", NameMatch::other},
        {L"dot", L"dot.", NameMatch::other},
        {L"...", L"", NameMatch::other},
    };
    for (const auto& row : rows) EXPECT_EQ(matchName(row.name, row.reached), row.match) << row.name;
}

TEST(Utf16, EveryScriptAndWhatIsNoUtf8) {
    EXPECT_EQ(utf16("west.nm3"), u"west.nm3");
    EXPECT_EQ(utf16("\xC3\xA9t\xC3\xA9 \xE5\x9C\xB0\xE5\x9B\xBE \xF0\x9F\x97\xBA"),
              u"\u00E9t\u00E9 \u5730\u56FE \U0001F5FA");
    EXPECT_EQ(utf16("a\xFF"
                    "b\xC3"),
              u"a\uFFFDb\uFFFD");
    EXPECT_EQ(utf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(shownUtf8(utf16("\xC3\xA9t\xC3\xA9 \xF0\x9F\x97\xBA")), "\xC3\xA9t\xC3\xA9 \xF0\x9F\x97\xBA");
    // The system's strings: a surrogate pair is two units, a lone one shows.
    EXPECT_EQ(wide("\xF0\x9F\x97\xBA").size(), 2u);
    EXPECT_EQ(utf8(std::wstring{L'a', wchar_t{0xD83D}, wchar_t{0xDDFA}, wchar_t{0xDC00}}),
              "a\xF0\x9F\x97\xBA\xEF\xBF\xBD");
}

TEST(Identity, NumbersOnlyWhereTheyAreSureAndTheFinalPathWhereItLeadsBack) {
    const std::string finalPath = "\\\\?\\Z:\\dev\\shm\\a.nm2";
    const auto facts = [&](std::uint64_t serial, std::uint8_t low, std::uint8_t high, bool wide,
                           std::optional<std::string> system, bool leadsBack = true) {
        IdentityFacts made;
        made.serial = serial;
        made.id[0] = low;
        made.id[15] = high;
        made.wideId = wide;
        made.fileSystem = std::move(system);
        made.finalPath = finalPath;
        made.finalPathLeadsBack = leadsBack;
        return made;
    };
    const struct {
        IdentityFacts facts;
        bool numbered;
        std::uint64_t device, inode, inodeHigh;
        bool keepsPath;
    } rows[] = {
        {facts(0x5a000000, 7, 9, true, "NTFS"), true, 0x5a000000, 7, 0x0900000000000000, true},
        {facts(0x5a000000, 7, 9, true, "ReFS"), true, 0x5a000000, 7, 0x0900000000000000, true},
        {facts(0x5a000000, 7, 0, false, "ReFS"), false, 0, 0, 0, true},
        {facts(0, 2, 0, true, "NTFS"), false, 0, 0, 0, true},
        {facts(0x1234, 0, 0, true, "NTFS"), false, 0, 0, 0, true},
        {facts(0x1234, 7, 0, false, "FAT32"), false, 0, 0, 0, true},
        {facts(0x1234, 7, 0, false, "exFAT"), false, 0, 0, 0, true},
        {facts(0x1234, 7, 0, false, std::nullopt), false, 0, 0, 0, true},
        // "a.nm2." under Wine: its final path opens "a.nm2", or nothing.
        {facts(0, 8, 0, true, std::nullopt, false), false, 0, 0, 0, false},
        {facts(0x5a000000, 8, 0, true, "NTFS", false), true, 0x5a000000, 8, 0, false},
    };
    for (const auto& row : rows) {
        const fs::FileId id = identityOf(row.facts);
        EXPECT_EQ(numbersSure(row.facts), row.numbered);
        EXPECT_EQ(id.numbered, row.numbered);
        EXPECT_EQ(id.device, row.device);
        EXPECT_EQ(id.inode, row.inode);
        EXPECT_EQ(id.inodeHigh, row.inodeHigh);
        EXPECT_EQ(id.finalPath, row.keepsPath ? finalPath : "");
    }
}

TEST(Identity, TheNumbersAtAFinalPathTellWhetherItLeadsBack) {
    IdentityFacts opened;
    opened.serial = 0;
    opened.id[0] = 8;
    IdentityFacts reopened = opened;
    EXPECT_TRUE(sameNumbers(opened, reopened));
    reopened.id[0] = 9;
    EXPECT_FALSE(sameNumbers(opened, reopened));
    reopened = opened;
    reopened.id[15] = 1;
    EXPECT_FALSE(sameNumbers(opened, reopened));
    reopened = opened;
    reopened.serial = 0x5a000000;
    EXPECT_FALSE(sameNumbers(opened, reopened));
}

}  // namespace
