// The unpacker's procedure run in memory, row by row: what it says, how it
// ends, and every file it leaves; and atlases packed and unpacked again.
#include "unpacker/unpack.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "packer/pack.h"
#include "testing/archives.h"
#include "testing/memory_file_system.h"
#include "testing/recording_guard.h"
#include "testing/text_transcript.h"
#include "testing/transcripts.h"

// The tables below are laid out by hand, a row to a case.
// clang-format off

namespace {

using namespace testsupport;
constexpr auto sizes = testsupport::unpackerSizes;

const Bytes nti = memberBytes("NIDX", 58, 30, 1);
const Bytes route = memberBytes("RTE0", 16, 50, 2);
const Bytes more = memberBytes("MORE", 16, 14, 3);
const std::string folder = "/w/west.nm2";

std::string named(const std::string& operand = "/w/west.nm3", const std::string& folderPath = folder) {
    return testsupport::unpackerNamed(operand, folderPath);
}
// The whole transcript of unpacking `members` from `operand`.
std::string unpacked(const std::vector<Bytes>& members, const std::string& operand = "/w/west.nm3",
                     const std::string& folderPath = folder, const std::string& baseName = "west") {
    return named(operand, folderPath) + sizes(archiveOf(members).size(), members.size() - 1) +
           extractedLines(members, baseName);
}
Files extracted(const std::vector<Bytes>& members) { return extractedFiles(folder, members); }

// An archive of `payload` with the footer given entry by entry.
Bytes withFooter(const Bytes& payload, const std::vector<std::uint32_t>& entries) {
    Bytes bytes = headerOf(static_cast<std::uint32_t>(payload.size())) + payload;
    for (const std::uint32_t entry : entries) bytes += u32le(entry);
    return bytes;
}

struct Row {
    std::optional<Bytes> archive;                      // written to /w/west.nm3
    std::function<void(testsupport::MemoryFileSystem&)> setup;  // anything else there is
    std::string said;  // the whole transcript, a failure's message last
    int status;
    Files changes;  // what the run changed in the tree
    std::string operand = "/w/west.nm3";
    std::string workingDir = "/w";
};

void expectRows(const std::vector<Row>& rows) {
    for (const Row& row : rows) {
        SCOPED_TRACE(row.said);
        testsupport::MemoryFileSystem files;
        files.addDir("/w");
        files.setCurrentDir(row.workingDir);
        if (row.archive) files.addFile("/w/west.nm3", *row.archive);
        if (row.setup) row.setup(files);
        const Files before = files.snapshot();

        testsupport::TextTranscript transcript;
        const cli::Outcome failed = unpacker::unpack({row.operand}, files, transcript);
        EXPECT_EQ(transcript.text() + (failed ? failed->message : ""), row.said);
        EXPECT_EQ(failed ? 1 : 0, row.status);
        EXPECT_EQ(testsupport::differences(files.snapshot(), testsupport::applied(before, row.changes)), "");
        EXPECT_EQ(files.openFiles(), 0u);
    }
}

// The folder holding `names`, each with its own name as its bytes.
std::function<void(testsupport::MemoryFileSystem&)> folderWith(const std::vector<std::string>& names) {
    return [=](testsupport::MemoryFileSystem& files) {
        files.addDir(folder);
        for (const std::string& name : names) files.addFile(folder + "/" + name, name);
    };
}

TEST(Unpack, WorkedExampleAndFolderNames) {
    const Bytes example("GNM3\0\0\0\0\x19\0\0\0"
                        "NIDX\x3a\0ab"
                        "ROUT\x10\0wxyz"
                        "MORE\x10\0z"
                        "\x08\0\0\0\x12\0\0\0",
                        45);
    const std::string exampleSaid = named() +
                                    "Check NM3 tag - Ok\n - fileSize = [0x0000002d]\n - footerSize (count) = [2]\n"
                                    "   - nti file [index.058.nti] - Ok\n"
                                    "   - nm2 file #00000 [west_00000.nm2] - Ok\n"
                                    "   - nm2 file #00001 [west_00001.nm2] - Ok\n";
    const Files exampleFiles{{folder, "<dir>"},
                             {folder + "/index.058.nti", Bytes("NIDX\x3a\0ab", 8)},
                             {folder + "/west_00000.nm2", Bytes("ROUT\x10\0wxyz", 10)},
                             {folder + "/west_00001.nm2", Bytes("MORE\x10\0z", 7)}};
    // The reserved word is never read.
    Bytes reserved = example;
    reserved.replace(4, 4, "\xde\xad\xbe\xef");
    const Bytes bytes = archiveOf({nti, route});
    const auto at = [&](const std::string& path) {
        return [=](testsupport::MemoryFileSystem& files) { files.addFile(path, bytes); };
    };
    expectRows({
        {example, nullptr, exampleSaid, 0, exampleFiles},
        {reserved, nullptr, exampleSaid, 0, exampleFiles},
        // A relative operand is shown as given and placed in the current
        // directory; without an extension the folder is the same; only the
        // last extension goes, and the archive's is never examined.
        {bytes, nullptr, unpacked({nti, route}, "./sub/../west.nm3"), 0, extracted({nti, route}), "./sub/../west.nm3"},
        {std::nullopt, at("/w/west"), unpacked({nti, route}, "west"), 0, extracted({nti, route}), "west"},
        {std::nullopt, at("/w/a.b.xyz"), unpacked({nti, route}, "/w/a.b.xyz", "/w/a.b.nm2", "a.b"), 0,
         extractedFiles("/w/a.b.nm2", {nti, route}, "a.b"), "/w/a.b.xyz"},
        // The folder path names no directory: an archive named .nm2 is its
        // own folder path; a file, or a link to one, stands there.
        {std::nullopt, at("/w/x.nm2"), named("x.nm2", "/w/x.nm2") + " This path is NOT directory.\n", 1, {}, "x.nm2"},
        {bytes, [](testsupport::MemoryFileSystem& files) { files.addFile(folder, "a file"); },
         named() + " This path is NOT directory.\n", 1, {}},
        {bytes,
         [](testsupport::MemoryFileSystem& files) {
             files.addFile("/w/plain", "a file");
             files.addSymlink(folder, "plain");
         },
         named() + " This path is NOT directory.\n", 1, {}},
    });
}

TEST(Unpack, FolderIsEmptiedOfFilesBeforeTheArchiveIsOpened) {
    // Old files of every kind; directories, and links to them, stay.
    const auto filled = [](testsupport::MemoryFileSystem& files) {
        files.addFile("/w/elsewhere/far.nm2", "far");
        files.addFile("/w/outside.txt", "outside");
        files.addDir(folder + "/keep/deeper");
        files.addFile(folder + "/keep/inner.nm2", "inner");
        for (const char* name : {"west_00007.nm2", "index.058.nti", ".hidden", "notes.txt"}) {
            files.addFile(folder + "/" + name, name);
        }
        files.addSymlink(folder + "/to-outside", "/w/outside.txt");
        files.addSymlink(folder + "/to-elsewhere", "/w/elsewhere");
        files.addSymlink(folder + "/dangling", "nowhere");
        files.addFifo(folder + "/pipe");
    };
    Files emptied;
    for (const char* name : {"west_00007.nm2", "index.058.nti", ".hidden", "notes.txt", "to-outside", "dangling", "pipe"}) {
        emptied[folder + "/" + name] = gone;
    }
    Files emptiedAndExtracted = emptied;
    for (const auto& [path, bytes] : extracted({nti, route})) emptiedAndExtracted[path] = bytes;
    // A directory is never an archive: given as the archive, as the folder
    // itself, or as "." from inside the folder, nothing is emptied.
    const auto archiveIsADirectory = [&](testsupport::MemoryFileSystem& files) {
        filled(files);
        files.addDir("/w/west.nm3");
    };
    expectRows({
        {std::nullopt, filled, named() + " File /w/west.nm3 NOT found.\n", 1, emptied},
        {std::nullopt, archiveIsADirectory, named() + " File /w/west.nm3 NOT found.\n", 1, {}},
        {std::nullopt, archiveIsADirectory, named(folder) + " File /w/west.nm2 NOT found.\n", 1, {}, folder},
        {std::nullopt, archiveIsADirectory, named(".") + " File /w/west.nm2 NOT found.\n", 1, {}, ".", folder},
        {"GNM4 and then some more bytes", filled, named() + " Not NM3 file: /w/west.nm3.\n", 1, emptied},
        {archiveOf({nti, route}), filled, unpacked({nti, route}), 0, emptiedAndExtracted},
    });
}

TEST(Unpack, ArchivesThatAreRefusedBeforeAnythingIsExtracted) {
    const Bytes good = archiveOf({nti, route});
    const std::string notNm3 = " Not NM3 file: /w/west.nm3.\n";
    const std::string noIndex = " No valid index in file: /w/west.nm3.\n";
    const std::string invalid = " Error invalid footer file /w/west.nm3.\n";
    std::vector<Row> rows{
        // The header,
        {"", folderWith({"old.nm2"}), named() + " Error reading header file /w/west.nm3.\n", 1, {{folder + "/old.nm2", gone}}},
        {headerOf(0).substr(0, 11), folderWith({"old.nm2"}), named() + " Error reading header file /w/west.nm3.\n", 1,
         {{folder + "/old.nm2", gone}}},
        {"GNM4" + good.substr(4), folderWith({"old.nm2"}), named() + notNm3, 1, {{folder + "/old.nm2", gone}}},
        {"gnm3" + good.substr(4), folderWith({"old.nm2"}), named() + notNm3, 1, {{folder + "/old.nm2", gone}}},
        // another run writing the archive, or the run's own words going into
        // it: no archive to open, once the folder is emptied,
        {good, [](testsupport::MemoryFileSystem& files) {
             folderWith({"old.nm2"})(files);
             files.lockElsewhere("/w/west.nm3", true);
         },
         named() + " File /w/west.nm3 NOT found.\n", 1, {{folder + "/old.nm2", gone}}},
        {good, [](testsupport::MemoryFileSystem& files) {
             files.addSymlink("/w/log", "west.nm3");
             files.setStandardStream(2, "/w/log");
         },
         named() + " File /w/west.nm3 NOT found.\n", 1, {{folder, "<dir>"}}},
        // the index member: the footer's one entry is all there is,
        {headerOf(0) + u32le(0), nullptr, named() + sizes(16, 1) + " Error fread nti header file /w/west.nm3.\n", 1,
         {{folder, "<dir>"}}},
    };
    for (const char* tag : {"nidx", "NIDY", "GNM3"}) {
        const Bytes bytes = archiveOf({memberBytes(tag, 58, 10), route});
        rows.push_back({bytes, nullptr, named() + sizes(bytes.size(), 1) + noIndex, 1, {{folder, "<dir>"}}});
    }
    // and the footer out of order. The right one would be the index's size,
    // then that plus the route's.
    const Bytes payload = nti + route + more;
    const auto past = static_cast<std::uint32_t>(payload.size() + 1);
    for (const std::vector<std::uint32_t>& entries : std::vector<std::vector<std::uint32_t>>{
             {80, 30}, {31, 30}, {30, past}, {past, past + 1}, {30, 0xFFFFFFFF}, {0, 0, 1000}, {past}}) {
        const Bytes bytes = withFooter(payload, entries);
        rows.push_back({bytes, folderWith({"west_00000.nm2"}), named() + sizes(bytes.size(), entries.size()) + invalid,
                        1, {{folder + "/west_00000.nm2", gone}}});
    }
    expectRows(rows);
}

TEST(Unpack, FooterSizeComesFromTheFileSize) {
    // Index and route: one footer entry, the index's size.
    const Bytes payload = nti + route;
    const Bytes members = headerOf(static_cast<std::uint32_t>(payload.size())) + payload;
    const Bytes entry = u32le(static_cast<std::uint32_t>(nti.size()));
    const std::string shortFooter = " Error read footer file /w/west.nm3.\n";
    const std::string badFileSize = " Error get filesize file /w/west.nm3.\n";
    const std::string badCount = " Error calculate footerSize file /w/west.nm3.\n";
    const Files emptied{{folder + "/old.nm2", gone}};
    std::vector<Row> rows;
    // One whole entry, and one or two bytes more, give one entry.
    for (const Bytes& extra : {Bytes(), Bytes("\xff"), Bytes("\xff\xff")}) {
        const Bytes bytes = members + entry + extra;
        const std::string lines = extractedLines({nti, route});
        Files changes = extracted({nti, route});
        changes.insert(emptied.begin(), emptied.end());
        rows.push_back({bytes, folderWith({"old.nm2"}), named() + sizes(bytes.size(), 1) + lines, 0, changes});
    }
    for (const auto& [bytes, count, message] : std::vector<std::tuple<Bytes, std::optional<std::uint64_t>, std::string>>{
             // Three more bytes count as a second entry that isn't there.
             {members + entry + "\x01\x02\x03", 2, shortFooter},
             {members + entry.substr(0, 3), 1, shortFooter},
             // No bytes after the members, or fewer than the members need,
             {members, std::nullopt, badFileSize},
             {headerOf(0), std::nullopt, badFileSize},
             {headerOf(static_cast<std::uint32_t>(payload.size() + 4)) + payload + entry, std::nullopt, badFileSize},
             {headerOf(0xFFFFFFFF) + payload + entry, std::nullopt, badFileSize},
             // and one or two bytes are no entry at all.
             {members + entry.substr(0, 1), 0, badCount},
             {members + entry.substr(0, 2), 0, badCount},
         }) {
        rows.push_back({bytes, folderWith({"old.nm2"}), named() + sizes(bytes.size(), count) + message, 1, emptied});
    }
    expectRows(rows);
}

TEST(Unpack, EqualEntriesAndIndexVersions) {
    const Bytes payload = nti + route;
    const auto ntiEnd = static_cast<std::uint32_t>(nti.size());
    const auto routeEnd = static_cast<std::uint32_t>(payload.size());
    std::vector<Row> rows{
        // An empty member between two, and empty last ones.
        {withFooter(payload, {ntiEnd, ntiEnd}), nullptr,
         named() + sizes(12 + payload.size() + 8, 2) + extractedLines({nti, "", route}), 0,
         extracted({nti, "", route})},
        {withFooter(payload, {ntiEnd, routeEnd, routeEnd}), nullptr,
         named() + sizes(12 + payload.size() + 12, 3) + extractedLines({nti, route, "", ""}), 0,
         extracted({nti, route, "", ""})},
        // An index member that ends inside its own header is still named by
        // it.
        {withFooter(payload, {4}), nullptr,
         named() + sizes(12 + payload.size() + 4, 1) + extractedLines({nti, ""}), 0,
         {{folder, "<dir>"}, {folder + "/index.058.nti", nti.substr(0, 4)}, {folder + "/west_00000.nm2", payload.substr(4)}}},
    };
    // The index's version names its file; an older index file goes.
    for (const auto& [version, name] : std::vector<std::pair<std::uint16_t, std::string>>{
             {0, "index.000.nti"}, {58, "index.058.nti"}, {999, "index.999.nti"}, {1000, "index.1000.nti"},
             {65535, "index.65535.nti"}}) {
        const Bytes indexed = memberBytes("NIDX", version, 8, version);
        rows.push_back({archiveOf({indexed, route}), folderWith({"index.001.nti"}), unpacked({indexed, route}), 0,
                        {{folder + "/index.001.nti", gone}, {folder + "/" + name, indexed}, {folder + "/west_00000.nm2", route}}});
    }
    expectRows(rows);
}

TEST(Unpack, MemberFilesThatCantBeCreatedAndTheArchiveNeverOverwritten) {
    const std::vector<Bytes> members{nti, route, more};
    const Bytes bytes = archiveOf(members);
    const std::string begin = named() + sizes(bytes.size(), 2);
    const std::string firstTwo = "   - nti file [index.058.nti] - Ok\n   - nm2 file #00000 [west_00000.nm2] - Ok\n";
    const Files firstTwoFiles{{folder + "/index.058.nti", nti}, {folder + "/west_00000.nm2", route}};
    const auto dirAt = [](const std::string& name) {
        return [=](testsupport::MemoryFileSystem& files) { files.addDir(folder + "/" + name); };
    };
    const auto otherNames = [](testsupport::MemoryFileSystem& files) {
        files.addSymlink(folder + "/link.nm3", "/w/west.nm3");
        files.addHardLink("/w/west.nm3", folder + "/copy.nm3");
        files.addHardLink("/w/west.nm3", folder + "/west_00001.nm2");
    };
    Files otherNamesChanges = firstTwoFiles;
    otherNamesChanges[folder + "/link.nm3"] = gone;
    expectRows({
        // Directories stand where the files would go.
        {bytes, dirAt("index.058.nti"), begin + " File /w/west.nm2/index.058.nti NOT created.\n", 1, {}},
        {bytes, dirAt("west_00001.nm2"), begin + firstTwo + " File /w/west.nm2/west_00001.nm2 NOT created.\n", 1,
         firstTwoFiles},
        // The folder can't be made: a link that leads nowhere.
        {bytes, [](testsupport::MemoryFileSystem& files) { files.addSymlink(folder, "nowhere"); },
         begin + " File /w/west.nm2/index.058.nti NOT created.\n", 1, {}},
        // The folder is a link to the archive's own directory: emptying it
        // spares the archive, and the members land beside it.
        {bytes,
         [](testsupport::MemoryFileSystem& files) {
             files.addFile("/w/old.txt", "old");
             files.addSymlink(folder, ".");
         },
         unpacked(members), 0,
         {{"/w/old.txt", gone}, {"/w/index.058.nti", nti}, {"/w/west_00000.nm2", route}, {"/w/west_00001.nm2", more}}},
        // Another name of the archive inside the folder stays, also when it
        // is the name of a member file; a link to it goes as a link.
        {bytes, otherNames, begin + firstTwo + " File /w/west.nm2/west_00001.nm2 NOT created.\n", 1, otherNamesChanges},
        // A folder that can be written but not listed: what was there stays,
        // and a member name that is a link is never written through,
        // wherever it leads, nor one that is the archive's other name.
        {bytes,
         [](testsupport::MemoryFileSystem& files) {
             files.addFile("/w/victim.txt", "a user's file");
             files.addSymlink(folder + "/west_00000.nm2", "../victim.txt");
             files.setUnlistable(folder);
         },
         begin + "   - nti file [index.058.nti] - Ok\n File /w/west.nm2/west_00000.nm2 NOT created.\n", 1,
         {{folder + "/index.058.nti", nti}}},
        {bytes,
         [](testsupport::MemoryFileSystem& files) {
             files.addHardLink("/w/west.nm3", folder + "/west_00001.nm2");
             files.setUnlistable(folder);
         },
         begin + firstTwo + " File /w/west.nm2/west_00001.nm2 NOT created.\n", 1, firstTwoFiles},
        // nor one that has a name outside the folder too,
        {bytes,
         [](testsupport::MemoryFileSystem& files) {
             files.addFile("/w/victim.txt", "a user's file");
             files.addHardLink("/w/victim.txt", folder + "/west_00000.nm2");
             files.setUnlistable(folder);
         },
         begin + "   - nti file [index.058.nti] - Ok\n File /w/west.nm2/west_00000.nm2 NOT created.\n", 1,
         {{folder + "/index.058.nti", nti}}},
        // while an old member of its own is written over.
        {bytes,
         [](testsupport::MemoryFileSystem& files) {
             files.addFile(folder + "/west_00000.nm2", "an old member, longer than the new one by far");
             files.setUnlistable(folder);
         },
         unpacked(members), 0, extracted(members)},
        // The archive mounted over a member's name: the name can't be
        // deleted, and is the archive.
        {bytes,
         [](testsupport::MemoryFileSystem& files) {
             files.addFile(folder + "/west_00000.nm2", "covered");
             files.mount("/w/west.nm3", folder + "/west_00000.nm2");
         },
         begin + "   - nti file [index.058.nti] - Ok\n File /w/west.nm2/west_00000.nm2 NOT created.\n", 1,
         {{folder + "/index.058.nti", nti}, {folder + "/west_00000.nm2", bytes}}},
        // An archive named like the index file it holds, its folder a link
        // back.
        {std::nullopt,
         [&](testsupport::MemoryFileSystem& files) {
             files.addFile("/w/index.058.nti", bytes);
             files.addSymlink("/w/index.058.nm2", ".");
         },
         named("/w/index.058.nti", "/w/index.058.nm2") + sizes(bytes.size(), 2) +
             " File /w/index.058.nm2/index.058.nti NOT created.\n",
         1, {}, "/w/index.058.nti"},
    });
}

TEST(Unpack, EmptyingSparesTheArchiveAndTheLinksOfItsName) {
    const std::vector<Bytes> members{nti, route, more};
    const Bytes bytes = archiveOf(members);
    // The archive's bytes at `real`, the links, and an old file in the folder.
    const auto tree = [&](const std::string& real, const std::vector<std::pair<std::string, std::string>>& links,
                          const std::string& old) {
        return [=](testsupport::MemoryFileSystem& files) {
            files.addFile(real, bytes);
            for (const auto& [name, target] : links) files.addSymlink(name, target);
            files.addFile(old, "old");
        };
    };
    const auto landed = [&](const std::string& dir, const std::string& old, const std::string& baseName = "west") {
        Files changes = extractedFiles(dir, members, baseName);
        changes[old] = gone;
        return changes;
    };
    expectRows({
        // The name leads into a folder that its folder name leads to,
        {std::nullopt, tree("/w/d/real.nm3", {{"/w/west.nm3", "d/real.nm3"}, {folder, "d"}}, "/w/d/old.txt"),
         unpacked(members, "west.nm3"), 0, landed("/w/d", "/w/d/old.txt"), "west.nm3"},
        // or straight into its folder;
        {std::nullopt, tree(folder + "/real.nm3", {{"/w/west.nm3", "west.nm2/real.nm3"}}, folder + "/old.txt"),
         unpacked(members, "west.nm3"), 0, landed(folder, folder + "/old.txt"), "west.nm3"},
        // the folder is the name's own, and the name a link elsewhere;
        {std::nullopt, tree("/w/b/real.nm3", {{"/w/a/w.nm2", "."}, {"/w/a/w.nm3", "../b/real.nm3"}}, "/w/a/old.txt"),
         unpacked(members, "a/w.nm3", "/w/a/w.nm2", "w"), 0, landed("/w/a", "/w/a/old.txt", "w"), "a/w.nm3"},
        // on an overlay, whose files lie on a device other than their
        // folder's, the archive inside the folder stays.
        {std::nullopt,
         [&](testsupport::MemoryFileSystem& files) {
             tree(folder + "/real.nm3", {{"/w/west.nm3", "west.nm2/real.nm3"}}, folder + "/old.txt")(files);
             files.setDevice(folder + "/real.nm3", 2);
             files.setDevice(folder + "/old.txt", 2);
         },
         unpacked(members, "west.nm3"), 0, landed(folder, folder + "/old.txt"), "west.nm3"},
    });
}

// Random atlases packed and unpacked again: every member comes back byte
// for byte, in the packer's order.
struct Atlas {
    Bytes index;
    Bytes route;
    std::map<std::string, Bytes> further;
};

// `count` further members of up to `maxSmall` bytes each, and `large` ones
// of one to three MiB.
Atlas makeAtlas(unsigned seed, std::size_t count, std::size_t maxSmall, std::size_t large) {
    std::mt19937 random(seed);
    const auto randomMember = [&](std::size_t bodySize) {
        const auto version = static_cast<std::uint16_t>(16 + random() % 65520);
        return memberBytes("MMMM", version, bodySize, static_cast<unsigned>(random()));
    };
    const auto randomName = [&] {
        const std::string letters = "aAbBkKmMyYzZ09_- .~";
        const char* extensions[] = {".nm2", ".NM2", ".Nm2", ".nM2"};
        std::string name(1 + random() % 12, ' ');
        for (char& c : name) c = letters[random() % letters.size()];
        return name + extensions[random() % 4];
    };
    Atlas atlas;
    const auto version = static_cast<std::uint16_t>(58 + random() % 2000);
    const std::size_t indexBody = random() % 5000;
    atlas.index = memberBytes("NIDX", version, indexBody, seed);
    atlas.route = memberBytes("ROUT", 16, random() % 70000, seed + 1);
    // Names that fold alike, and the smallest member there is.
    for (const char* name : {"Road.nm2", "ROAD.nm2", "road.NM2", "road_.nm2", "Road[.nm2"}) {
        atlas.further[name] = randomMember(random() % 300);
    }
    atlas.further["tiny.nm2"] = randomMember(0);
    while (atlas.further.size() < count) atlas.further[randomName()] = randomMember(random() % maxSmall);
    for (std::size_t i = 0; i < large; ++i) {
        atlas.further["Large" + std::to_string(i) + ".NM2"] = randomMember((1 + random() % 3) << 20);
    }
    return atlas;
}

void packAndUnpack(const Atlas& atlas, const std::string& name) {
    SCOPED_TRACE(name);
    testsupport::MemoryFileSystem files;
    files.setCurrentDir("/w");
    const std::string atlasDir = "/w/" + name + "-atlas";
    files.addFile(atlasDir + "/Atlas.nti", atlas.index);
    files.addFile(atlasDir + "/Route.Nm2", atlas.route);
    for (const auto& [file, bytes] : atlas.further) files.addFile(atlasDir + "/" + file, bytes);
    // Not members.
    files.addFile(atlasDir + "/notes.txt", "notes");
    files.addDir(atlasDir + "/folder.nm2");

    const std::string packed = "/w/" + name + ".nm3";
    testsupport::TextTranscript packing;
    testsupport::RecordingGuard guard;
    const cli::Outcome packFailed = packer::pack({"Atlas.nti", "Route.Nm2", packed, atlasDir}, files, packing, guard);
    ASSERT_FALSE(packFailed) << packFailed->message;

    std::vector<std::string> order;
    for (const auto& entry : atlas.further) order.push_back(entry.first);
    std::sort(order.begin(), order.end(), testsupport::packedBefore);
    std::vector<Bytes> members{atlas.index, atlas.route};
    for (const std::string& file : order) members.push_back(atlas.further.at(file));

    const Files before = files.snapshot();
    testsupport::TextTranscript transcript;
    const cli::Outcome failed = unpacker::unpack({packed}, files, transcript);
    EXPECT_FALSE(failed) << failed->message;
    const std::string folderPath = "/w/" + name + ".nm2";
    EXPECT_EQ(transcript.text(), unpacked(members, packed, folderPath, name));
    const Files after = testsupport::applied(before, extractedFiles(folderPath, members, name));
    EXPECT_EQ(testsupport::differences(files.snapshot(), after), "");
}

TEST(RoundTrip, RandomAtlasesComeBackByteForByte) {
    packAndUnpack(makeAtlas(1, 40, 20000, 2), "Atlas One");
    packAndUnpack(makeAtlas(2, 60, 3000, 1), "atlas-2");
    packAndUnpack(makeAtlas(3, 25, 120000, 1), "THREE");
}

TEST(RoundTrip, ManySmallMembersAreNumberedInOrder) { packAndUnpack(makeAtlas(4, 700, 40, 0), "many"); }

}  // namespace
