// The built unveskal, run in fresh folders: its whole transcript, its exit
// status, the bytes of every file it writes, and the archive left as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <tuple>
#include <sys/stat.h>
#include <unistd.h>

#include "console/frame.h"
#include "console/text.h"
#include "support/archives.h"
#include "support/paused.h"
#include "support/run.h"
#include "support/scratch.h"

namespace {

namespace fs = std::filesystem;
using console::formatText;
using testsupport::archiveOf;
using testsupport::Bytes;
using testsupport::differences;
using testsupport::Files;
using testsupport::headerOf;
using testsupport::memberBytes;
using testsupport::packedBefore;
using testsupport::readFile;
using testsupport::RunOptions;
using testsupport::RunResult;
using testsupport::snapshot;
using testsupport::u32le;
using testsupport::writeFile;

const std::string usage = "usage:\n unveskal [ -? | -h | filename.nm3 ]\n\n";
const Bytes directory = "<dir>";

// An archive of `payload` with the footer given entry by entry, and `extra`
// bytes after it.
Bytes archiveWithFooter(const Bytes& payload, const std::vector<std::uint32_t>& entries, const Bytes& extra = {}) {
    Bytes bytes = headerOf(static_cast<std::uint32_t>(payload.size())) + payload;
    for (const std::uint32_t entry : entries) bytes += u32le(entry);
    return bytes + extra;
}

unsigned versionOf(const Bytes& member) {
    return static_cast<unsigned char>(member[4]) | static_cast<unsigned char>(member[5]) << 8;
}

class Unpacker : public ::testing::Test {
protected:
    RunResult unveskal(const std::vector<std::string>& args, RunOptions options = {}) {
        if (options.workingDir.empty()) options.workingDir = dir.path();
        return testsupport::runProgram(UNVESKAL_PATH, args, options);
    }

    RunResult unpack(const Bytes& bytes, RunOptions options = {}) {
        writeFile(archive, bytes);
        return unveskal({archive}, options);
    }

    // The transcript up to the folder line.
    static std::string start(const std::string& operand, const std::string& folderPath) {
        return console::bannerText() + "NM3 file name : " + operand + "\nFolder path   : " + folderPath + "\n";
    }
    std::string start() const { return start(archive, folder); }

    // The lines of a header that passed and of the sizes measured.
    static std::string sizes(std::uint64_t fileSize, std::uint64_t footerSize) {
        return formatText("Check NM3 tag - Ok\n - fileSize = [0x%08llx]\n - footerSize (count) = [%llu]\n",
                          static_cast<unsigned long long>(fileSize), static_cast<unsigned long long>(footerSize));
    }
    static std::string indexLine(unsigned version) {
        return formatText("   - nti file [index.%03u.nti] - Ok\n", version);
    }
    static std::string memberLine(unsigned k, const std::string& baseName = "west") {
        return formatText("   - nm2 file #%05u [%s_%05u.nm2] - Ok\n", k, baseName.c_str(), k);
    }
    static std::string memberName(unsigned k, const std::string& baseName = "west") {
        return formatText("%s_%05u.nm2", baseName.c_str(), k);
    }
    static std::string indexName(unsigned version) { return formatText("index.%03u.nti", version); }

    // Every progress line of a run that extracts `members`, the index first.
    static std::string memberLines(const std::vector<Bytes>& members, const std::string& baseName = "west") {
        std::string lines = indexLine(versionOf(members.front()));
        for (unsigned k = 0; k + 1 < members.size(); ++k) lines += memberLine(k, baseName);
        return lines;
    }

    // The folder's contents once `members` are extracted.
    static Files extracted(const std::vector<Bytes>& members, const std::string& baseName = "west") {
        Files files{{indexName(versionOf(members.front())), members.front()}};
        for (unsigned k = 0; k + 1 < members.size(); ++k) files[memberName(k, baseName)] = members[k + 1];
        return files;
    }

    // The whole transcript of a run that unpacks `members` from `archive`.
    std::string unpacked(const std::vector<Bytes>& members) const {
        return start() + sizes(archiveOf(members).size(), members.size() - 1) + memberLines(members);
    }

    testsupport::ScratchDir dir;
    const std::string archive = dir / "west.nm3";
    const std::string folder = dir / "west.nm2";
    const Bytes index = memberBytes("NIDX", 58, 30, 1);
    const Bytes route = memberBytes("RTE0", 16, 50, 2);
    const Bytes more = memberBytes("MORE", 16, 14, 3);
};

TEST_F(Unpacker, WorkedExampleComesOutToTheByte) {
    const Bytes bytes("GNM3\0\0\0\0\x19\0\0\0"
                      "NIDX\x3a\0ab"
                      "ROUT\x10\0wxyz"
                      "MORE\x10\0z"
                      "\x08\0\0\0\x12\0\0\0",
                      45);
    const RunResult run = unpack(bytes);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, start() +
                           "Check NM3 tag - Ok\n - fileSize = [0x0000002d]\n - footerSize (count) = [2]\n"
                           "   - nti file [index.058.nti] - Ok\n"
                           "   - nm2 file #00000 [west_00000.nm2] - Ok\n"
                           "   - nm2 file #00001 [west_00001.nm2] - Ok\n");
    EXPECT_EQ(snapshot(folder), (Files{{"index.058.nti", Bytes("NIDX\x3a\0ab", 8)},
                                       {"west_00000.nm2", Bytes("ROUT\x10\0wxyz", 10)},
                                       {"west_00001.nm2", Bytes("MORE\x10\0z", 7)}}));
    EXPECT_EQ(readFile(archive), bytes);

    // The reserved word is never read.
    Bytes reserved = bytes;
    reserved.replace(4, 4, "\xde\xad\xbe\xef");
    const RunResult again = unpack(reserved);
    EXPECT_EQ(again.status, 0);
    EXPECT_EQ(again.err, run.err);
    EXPECT_EQ(snapshot(folder).size(), 3u);
}

TEST_F(Unpacker, HelpOrNoOperandPrintsTheUsageLine) {
    writeFile(archive, archiveOf({index, route}));
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{}, {"-?"}, {"-h"}, {"-H"}, {"-help"}, {"-?", archive}}) {
        const RunResult run = unveskal(args);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, console::bannerText() + usage) << (args.empty() ? "no arguments" : args.front());
    }
    RunResult run = unveskal({"-x", "-h", archive});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "unknown option -x\n" + console::bannerText() + usage);
    run = unveskal({"-", "-i:west.nti"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "unknown option -\nunknown option -i:west.nti\n" + console::bannerText() + usage);
    EXPECT_FALSE(testsupport::fileExists(folder));
}

TEST_F(Unpacker, UnknownOptionsAreReportedAndOptionsAfterTheOperandNeverSeen) {
    writeFile(archive, archiveOf({index, route, more}));
    const RunResult run = unveskal({"-x", "-Q:y", archive, "-h", "other.nm3"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "unknown option -x\nunknown option -Q:y\n" + unpacked({index, route, more}));
    EXPECT_EQ(snapshot(folder), extracted({index, route, more}));
}

TEST_F(Unpacker, FolderIsNamedAfterTheArchive) {
    const Bytes bytes = archiveOf({index, route});

    // A relative operand is printed as given and placed in the current
    // directory.
    writeFile(archive, bytes);
    RunResult run = unveskal({"./sub/../west.nm3"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, start("./sub/../west.nm3", folder) + sizes(bytes.size(), 1) + memberLines({index, route}));
    EXPECT_EQ(snapshot(folder), extracted({index, route}));

    // Without an extension the folder is the same.
    fs::remove_all(folder);
    fs::rename(archive, dir / "west");
    run = unveskal({"west"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, start("west", folder) + sizes(bytes.size(), 1) + memberLines({index, route}));
    EXPECT_EQ(snapshot(folder), extracted({index, route}));

    // Only the last extension goes; the archive's own extension is never
    // examined.
    writeFile(dir / "a.b.xyz", bytes);
    run = unveskal({dir / "a.b.xyz"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, start(dir / "a.b.xyz", dir / "a.b.nm2") + sizes(bytes.size(), 1) +
                           memberLines({index, route}, "a.b"));
    EXPECT_EQ(snapshot(dir / "a.b.nm2"), extracted({index, route}, "a.b"));
}

TEST_F(Unpacker, FolderPathThatIsNotADirectory) {
    const Bytes bytes = archiveOf({index, route});

    // An archive named .nm2 is its own folder path.
    writeFile(dir / "x.nm2", bytes);
    RunResult run = unveskal({"x.nm2"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, start("x.nm2", dir / "x.nm2") + " This path is NOT directory.\n");
    EXPECT_EQ(snapshot(dir.path()), (Files{{"x.nm2", bytes}}));

    // A file, or a link to one, where the folder would be.
    for (const bool link : {false, true}) {
        fs::remove(dir / "x.nm2");
        writeFile(dir / "plain", "a file");
        if (link) {
            fs::create_symlink("plain", folder);
        } else {
            fs::rename(dir / "plain", folder);
        }
        writeFile(archive, bytes);
        const Files before = snapshot(dir.path());
        run = unveskal({archive});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, start() + " This path is NOT directory.\n");
        EXPECT_EQ(snapshot(dir.path()), before);
        fs::remove(folder);
    }
}

TEST_F(Unpacker, FolderIsEmptiedOfFilesBeforeTheArchiveIsOpened) {
    // Old files of every kind; directories, and links to them, stay.
    const auto fillFolder = [&] {
        fs::create_directories(folder + "/keep/deeper");
        writeFile(folder + "/keep/inner.nm2", "inner");
        writeFile(folder + "/west_00007.nm2", "old member");
        writeFile(folder + "/index.058.nti", "old index");
        writeFile(folder + "/.hidden", "hidden");
        writeFile(folder + "/notes.txt", "notes");
        for (const auto& [target, name] : {std::pair{dir / "outside.txt", "to-outside"},
                                           std::pair{dir / "elsewhere", "to-elsewhere"},
                                           std::pair{std::string("nowhere"), "dangling"}}) {
            fs::remove(folder + "/" + name);
            fs::create_symlink(target, folder + "/" + name);
        }
        ASSERT_EQ(::mkfifo((folder + "/pipe").c_str(), 0600), 0);
    };
    fs::create_directory(dir / "elsewhere");
    writeFile(dir / "elsewhere/far.nm2", "far");
    writeFile(dir / "outside.txt", "outside");
    const Files remaining{{"keep", directory},
                          {"keep/deeper", directory},
                          {"keep/inner.nm2", "inner"},
                          {"to-elsewhere", "-> " + dir / "elsewhere"}};

    // Even when the archive proves missing
    fillFolder();
    RunResult run = unveskal({archive});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, start() + " File " + archive + " NOT found.\n");
    EXPECT_EQ(snapshot(folder), remaining);
    EXPECT_EQ(readFile(dir / "outside.txt"), "outside");
    EXPECT_EQ(snapshot(dir / "elsewhere"), (Files{{"far.nm2", "far"}}));

    // A directory is never an archive: given as the archive, as the folder
    // itself, or as "." from inside the folder, nothing is emptied.
    fillFolder();
    const Files filled = snapshot(folder);
    fs::create_directory(archive);
    for (const auto& [operand, workingDir, shown] : {std::tuple{archive, dir.path(), archive},
                                                     std::tuple{folder, dir.path(), folder},
                                                     std::tuple{std::string("."), folder, folder}}) {
        run = unveskal({operand}, testsupport::inFolder(workingDir));
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, start(operand, folder) + " File " + shown + " NOT found.\n");
        EXPECT_EQ(snapshot(folder), filled) << operand;
    }
    fs::remove(archive);
    fs::remove_all(folder);

    // or is not an archive,
    fillFolder();
    writeFile(archive, "GNM4 and then some more bytes");
    run = unveskal({archive});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, start() + " Not NM3 file: " + archive + ".\n");
    EXPECT_EQ(snapshot(folder), remaining);

    // and when it unpacks, the members join what stays.
    fillFolder();
    writeFile(archive, archiveOf({index, route}));
    run = unveskal({archive});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, unpacked({index, route}));
    Files expected = extracted({index, route});
    expected.insert(remaining.begin(), remaining.end());
    EXPECT_EQ(snapshot(folder), expected);
    EXPECT_EQ(readFile(dir / "outside.txt"), "outside");
}

TEST_F(Unpacker, HeaderChecks) {
    const std::vector<std::pair<Bytes, std::string>> cases{
        {Bytes(), " Error reading header file " + archive + ".\n"},
        {headerOf(0).substr(0, 11), " Error reading header file " + archive + ".\n"},
        {"GNM4" + archiveOf({index, route}).substr(4), " Not NM3 file: " + archive + ".\n"},
        {"gnm3" + archiveOf({index, route}).substr(4), " Not NM3 file: " + archive + ".\n"},
    };
    for (const auto& [bytes, message] : cases) {
        fs::create_directories(folder);
        writeFile(folder + "/old.nm2", "old");
        const RunResult run = unpack(bytes);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, start() + message);
        EXPECT_EQ(snapshot(folder), Files{});
        EXPECT_EQ(readFile(archive), bytes);
    }
}

TEST_F(Unpacker, FooterSizeComesFromTheFileSize) {
    // Index and route: one footer entry, the index's size.
    const Bytes payload = index + route;
    const auto offsetFooter = static_cast<std::uint32_t>(payload.size());
    const auto entry = static_cast<std::uint32_t>(index.size());
    const Bytes members = headerOf(offsetFooter) + payload;
    const std::string name = archive;
    const auto failed = [&](std::size_t fileSize, const std::string& rest) {
        return start() + formatText("Check NM3 tag - Ok\n - fileSize = [0x%08zx]\n", fileSize) + rest;
    };

    // One whole entry, and one or two bytes more, give one entry.
    for (const Bytes& extra : {Bytes(), Bytes("\xff"), Bytes("\xff\xff")}) {
        const Bytes bytes = members + u32le(entry) + extra;
        const RunResult run = unpack(bytes);
        EXPECT_EQ(run.status, 0) << extra.size();
        EXPECT_EQ(run.err, start() + sizes(bytes.size(), 1) + memberLines({index, route})) << extra.size();
        EXPECT_EQ(snapshot(folder), extracted({index, route}));
    }

    const std::vector<std::pair<Bytes, std::string>> cases{
        // Three more bytes count as a second entry that isn't there.
        {members + u32le(entry) + "\x01\x02\x03", " - footerSize (count) = [2]\n Error read footer file " + name + ".\n"},
        {members + u32le(entry).substr(0, 3), " - footerSize (count) = [1]\n Error read footer file " + name + ".\n"},
        // No bytes after the members,
        {members, " Error get filesize file " + name + ".\n"},
        {headerOf(0), " Error get filesize file " + name + ".\n"},
        // or fewer than the members need,
        {headerOf(offsetFooter + 4) + payload + u32le(entry), " Error get filesize file " + name + ".\n"},
        {headerOf(0xFFFFFFFF) + payload + u32le(entry), " Error get filesize file " + name + ".\n"},
        // and one or two bytes are no entry at all.
        {members + u32le(entry).substr(0, 1), " - footerSize (count) = [0]\n Error calculate footerSize file " + name + ".\n"},
        {members + u32le(entry).substr(0, 2), " - footerSize (count) = [0]\n Error calculate footerSize file " + name + ".\n"},
    };
    for (const auto& [bytes, rest] : cases) {
        fs::create_directories(folder);
        writeFile(folder + "/old.nm2", "old");
        const RunResult run = unpack(bytes);
        EXPECT_EQ(run.status, 1) << rest;
        EXPECT_EQ(run.err, failed(bytes.size(), rest));
        EXPECT_EQ(snapshot(folder), Files{}) << rest;
        EXPECT_EQ(readFile(archive), bytes);
    }
}

TEST_F(Unpacker, FileSizesAreSixtyFourBit) {
    // A sparse file long enough to claim 2^32 + 1 footer entries: more than
    // entries can count (not one entry, as 32 bits would wrap to), refused
    // before anything is allocated or read.
    const Bytes head = headerOf(6) + Bytes("NIDX\x3a\0", 6) + u32le(6);
    writeFile(archive, head);
    const std::uint64_t fileSize = (std::uint64_t{1} << 34) + 21;
    ASSERT_EQ(::truncate(archive.c_str(), static_cast<off_t>(fileSize)), 0);
    const RunResult run = unveskal({archive}, testsupport::timeoutAfter(20));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, start() +
                           "Check NM3 tag - Ok\n - fileSize = [0x400000015]\n"
                           " - footerSize (count) = [4294967297]\n Error calculate footerSize file " +
                           archive + ".\n");
    EXPECT_EQ(fs::file_size(archive), fileSize);
    EXPECT_EQ(snapshot(folder), Files{});
}

TEST_F(Unpacker, IndexMemberChecks) {
    // The footer's one entry is all there is: the index header runs short.
    const Bytes noIndex = headerOf(0) + u32le(0);
    RunResult run = unpack(noIndex);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, start() + sizes(16, 1) + " Error fread nti header file " + archive + ".\n");
    EXPECT_EQ(snapshot(folder), Files{});

    for (const char* tag : {"nidx", "NIDY", "GNM3"}) {
        const Bytes bytes = archiveOf({memberBytes(tag, 58, 10), route});
        run = unpack(bytes);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, start() + sizes(bytes.size(), 1) + " No valid index in file: " + archive + ".\n") << tag;
        EXPECT_EQ(snapshot(folder), Files{});
        EXPECT_EQ(readFile(archive), bytes);
    }
}

TEST_F(Unpacker, FooterOutOfOrderIsRefusedBeforeAnythingIsExtracted) {
    // The right footer would be the index's size, then that plus the route's.
    const Bytes payload = index + route + more;
    const auto past = static_cast<std::uint32_t>(payload.size() + 1);
    const std::vector<std::vector<std::uint32_t>> footers{
        {80, 30}, {31, 30}, {30, past}, {past, past + 1}, {30, 0xFFFFFFFF}, {0, 0, 1000}, {past}};
    for (const std::vector<std::uint32_t>& entries : footers) {
        fs::create_directories(folder);
        writeFile(folder + "/west_00000.nm2", "old");
        const Bytes bytes = archiveWithFooter(payload, entries);
        const RunResult run = unpack(bytes);
        EXPECT_EQ(run.status, 1) << entries.front();
        EXPECT_EQ(run.err, start() + sizes(bytes.size(), entries.size()) + " Error invalid footer file " + archive +
                               ".\n");
        EXPECT_EQ(snapshot(folder), Files{}) << entries.front();
        EXPECT_EQ(readFile(archive), bytes);
    }
}

TEST_F(Unpacker, EqualEntriesGiveEmptyMembers) {
    const Bytes payload = index + route;
    const auto indexEnd = static_cast<std::uint32_t>(index.size());
    const auto routeEnd = static_cast<std::uint32_t>(payload.size());
    // An empty member between two, and an empty last one.
    Bytes bytes = archiveWithFooter(payload, {indexEnd, indexEnd});
    RunResult run = unpack(bytes);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, start() + sizes(bytes.size(), 2) + memberLines({index, "", route}));
    EXPECT_EQ(snapshot(folder), extracted({index, "", route}));

    bytes = archiveWithFooter(payload, {indexEnd, routeEnd, routeEnd});
    run = unpack(bytes);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, start() + sizes(bytes.size(), 3) + memberLines({index, route, "", ""}));
    EXPECT_EQ(snapshot(folder), extracted({index, route, "", ""}));

    // An index member that ends inside its own header is still named by it.
    bytes = archiveWithFooter(payload, {4});
    run = unpack(bytes);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, start() + sizes(bytes.size(), 1) + memberLines({index, ""}));
    EXPECT_EQ(snapshot(folder), (Files{{"index.058.nti", index.substr(0, 4)}, {"west_00000.nm2", payload.substr(4)}}));
}

TEST_F(Unpacker, IndexVersionNamesTheIndexFile) {
    for (const std::uint16_t version : {0, 58, 999, 1000, 65535}) {
        const Bytes indexed = memberBytes("NIDX", version, 8, version);
        const RunResult run = unpack(archiveOf({indexed, route}));
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, unpacked({indexed, route}));
        // The previous run's index file is gone.
        EXPECT_EQ(snapshot(folder), extracted({indexed, route})) << version;
    }
    EXPECT_EQ(extracted({memberBytes("NIDX", 1000, 0), route}).begin()->first, "index.1000.nti");
}

TEST_F(Unpacker, MemberFilesThatCantBeCreated) {
    const Bytes bytes = archiveOf({index, route, more});
    const std::string begin = start() + sizes(bytes.size(), 2);

    // Directories stand where the files would go.
    fs::create_directories(folder + "/index.058.nti");
    RunResult run = unpack(bytes);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, begin + " File " + folder + "/index.058.nti NOT created.\n");
    EXPECT_EQ(snapshot(folder), (Files{{"index.058.nti", directory}}));

    fs::remove(folder + "/index.058.nti");
    fs::create_directories(folder + "/west_00001.nm2");
    run = unpack(bytes);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, begin + indexLine(58) + memberLine(0) + " File " + folder + "/west_00001.nm2 NOT created.\n");
    EXPECT_EQ(snapshot(folder),
              (Files{{"index.058.nti", index}, {"west_00000.nm2", route}, {"west_00001.nm2", directory}}));

    // The folder can't be made: a link that leads nowhere.
    fs::remove_all(folder);
    fs::create_symlink("nowhere", folder);
    run = unpack(bytes);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, begin + " File " + folder + "/index.058.nti NOT created.\n");
    EXPECT_FALSE(fs::exists(dir / "nowhere"));
    EXPECT_EQ(readFile(archive), bytes);
}

TEST_F(Unpacker, FullDiskFailsWithTheMembersName) {
    const Bytes big = memberBytes("BIGG", 16, 300000, 4);
    const std::vector<Bytes> members{index, route, big, more};
    const Bytes bytes = archiveOf(members);
    const std::string begin = start() + sizes(bytes.size(), 3);
    writeFile(archive, bytes);

    RunResult run = unveskal({archive}, testsupport::limitedTo(0));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, begin + "   - nti file [index.058.nti] Error write file " + folder + "/index.058.nti.\n");
    EXPECT_EQ(snapshot(folder), (Files{{"index.058.nti", ""}}));

    for (const long long limit : {100LL, 300005LL}) {
        run = unveskal({archive}, testsupport::limitedTo(limit));
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, begin + indexLine(58) + memberLine(0) + "   - nm2 file #00001 [west_00001.nm2] Error write file " +
                               folder + "/west_00001.nm2.\n")
            << limit;
        Files files = snapshot(folder);
        const Bytes written = files["west_00001.nm2"];
        EXPECT_LE(written.size(), static_cast<std::size_t>(limit));
        EXPECT_EQ(written, big.substr(0, written.size()));
        files.erase("west_00001.nm2");
        EXPECT_EQ(files, (Files{{"index.058.nti", index}, {"west_00000.nm2", route}}));
    }

    // Every member fits exactly.
    run = unveskal({archive}, testsupport::limitedTo(static_cast<long long>(big.size())));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, begin + memberLines(members));
    EXPECT_EQ(differences(snapshot(folder), extracted(members)), "");
    EXPECT_EQ(readFile(archive), bytes);
}

// Before a member too long to pass through memory is copied, what has been
// said so far goes out, its line included. The run is held in that write of
// the second long member, #00002: the first long member, #00001, is then
// copied or being copied, and the archive is read no further.
class HeldUnpacker : public Unpacker {
protected:
    RunResult unpackHeld(const std::function<void(int pid)>& whilePaused) {
        writeFile(archive, bytes);
        RunOptions options;
        options.workingDir = dir.path();
        options.timeoutSeconds = 20;
        return testsupport::runPausedAfter(UNVESKAL_PATH, {archive}, options, firstLong.size(), whilePaused);
    }

    const Bytes longA = memberBytes("LONG", 16, 200000, 4);
    const Bytes longB = memberBytes("LONG", 17, 200000, 5);
    const std::vector<Bytes> members{index, route, longA, longB, more};
    const Bytes bytes = archiveOf(members);
    // What has gone out when the copy of #00001 begins; the next write
    // carries the line of #00002.
    const std::string firstLong =
        start() + sizes(bytes.size(), 4) + indexLine(58) + memberLine(0) + "   - nm2 file #00001 [west_00001.nm2]";
    const std::string secondLong = firstLong + " - Ok\n   - nm2 file #00002 [west_00002.nm2]";
    const std::size_t longBStart = 12 + index.size() + route.size() + longA.size();
};

TEST_F(HeldUnpacker, ArchiveEndingEarlyIsAReadError) {
    // The archive loses its tail inside #00002 before that is read.
    const RunResult run = unpackHeld(
        [&](int) { ASSERT_EQ(::truncate(archive.c_str(), static_cast<off_t>(longBStart + 1000)), 0); });
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, secondLong + " Error read file " + archive + ".\n");
    EXPECT_EQ(differences(snapshot(folder), {{"index.058.nti", index},
                                             {"west_00000.nm2", route},
                                             {"west_00001.nm2", longA},
                                             {"west_00002.nm2", longB.substr(0, 1000)}}),
              "");

    // Ending exactly where the member begins reads nothing of it.
    const RunResult atStart =
        unpackHeld([&](int) { ASSERT_EQ(::truncate(archive.c_str(), static_cast<off_t>(longBStart)), 0); });
    EXPECT_EQ(atStart.status, 1);
    EXPECT_EQ(atStart.err, secondLong + " Error read file " + archive + ".\n");
    EXPECT_EQ(readFile(folder + "/west_00002.nm2"), "");
    EXPECT_FALSE(testsupport::fileExists(folder + "/west_00003.nm2"));
}

TEST_F(HeldUnpacker, InterruptKeepsWhatWasWritten) {
    const RunResult run = unpackHeld([&](int pid) {
        // Held with #00001 complete, waiting to say so and that #00002 begins.
        EXPECT_TRUE(testsupport::waitUntilWriting(pid));
        EXPECT_TRUE(testsupport::signalAndWait(pid, SIGTERM));
    });
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.status, 1);
    // Text gathered but not yet sent goes out before the interrupt's message.
    EXPECT_EQ(run.err, secondLong + " Interrupted.\n");
    EXPECT_EQ(differences(snapshot(folder), {{"index.058.nti", index},
                                             {"west_00000.nm2", route},
                                             {"west_00001.nm2", longA},
                                             {"west_00002.nm2", ""}}),
              "");
    EXPECT_EQ(readFile(archive), bytes);
}

TEST_F(Unpacker, ArchiveIsNeverDeletedNorOverwritten) {
    const std::vector<Bytes> members{index, route, more};
    const Bytes bytes = archiveOf(members);

    // The folder is a link to the archive's own directory: emptying it
    // spares the archive, and the members land beside it.
    writeFile(archive, bytes);
    writeFile(dir / "old.txt", "old");
    fs::create_symlink(".", folder);
    RunResult run = unveskal({archive});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, unpacked(members));
    Files expected = extracted(members);
    expected["west.nm3"] = bytes;
    expected["west.nm2"] = "-> .";
    EXPECT_EQ(snapshot(dir.path()), expected);

    // Another name of the archive inside the folder stays, also when it is
    // the name of a member file; a link to it goes as a link.
    fs::remove(folder);
    fs::create_directory(folder);
    fs::create_symlink(archive, folder + "/link.nm3");
    fs::create_hard_link(archive, folder + "/copy.nm3");
    fs::create_hard_link(archive, folder + "/west_00001.nm2");
    run = unveskal({archive});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, start() + sizes(bytes.size(), 2) + indexLine(58) + memberLine(0) + " File " + folder +
                           "/west_00001.nm2 NOT created.\n");
    EXPECT_EQ(snapshot(folder), (Files{{"index.058.nti", index},
                                       {"west_00000.nm2", route},
                                       {"copy.nm3", bytes},
                                       {"west_00001.nm2", bytes}}));
    EXPECT_EQ(readFile(archive), bytes);

    // An archive named like the index file it holds, its folder a link back.
    const std::string named = dir / "index.058.nti";
    fs::rename(archive, named);
    fs::create_symlink(".", dir / "index.058.nm2");
    run = unveskal({named});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, start(named, dir / "index.058.nm2") + sizes(bytes.size(), 2) + " File " + dir.path() +
                           "/index.058.nm2/index.058.nti NOT created.\n");
    EXPECT_EQ(readFile(named), bytes);
}

TEST_F(Unpacker, EmptyingSparesTheArchiveAndTheLinksOfItsName) {
    const std::vector<Bytes> members{index, route, more};
    const Bytes bytes = archiveOf(members);
    struct Case {
        std::string archive;                                      // where the bytes are
        std::vector<std::pair<std::string, std::string>> links;  // name, target
        std::string operand;
        std::string folder;
        std::string baseName;
    };
    const std::vector<Case> cases{
        // The name leads into a folder that its folder name leads to,
        {"d/real.nm3", {{"west.nm3", "d/real.nm3"}, {"west.nm2", "d"}}, "west.nm3", "west.nm2", "west"},
        // or straight into its folder;
        {"west.nm2/real.nm3", {{"west.nm3", "west.nm2/real.nm3"}}, "west.nm3", "west.nm2", "west"},
        // the folder is the name's own, and the name a link elsewhere.
        {"b/real.nm3", {{"a/w.nm2", "."}, {"a/w.nm3", "../b/real.nm3"}}, "a/w.nm3", "a/w.nm2", "w"},
    };
    for (const Case& row : cases) {
        const testsupport::ScratchDir here;
        fs::create_directories(fs::path(here / row.archive).parent_path());
        writeFile(here / row.archive, bytes);
        for (const auto& [name, target] : row.links) {
            fs::create_directories(fs::path(here / name).parent_path());
            fs::create_symlink(target, here / name);
        }
        writeFile(here / row.folder + "/old.txt", "old");

        const RunResult run = unveskal({row.operand}, testsupport::inFolder(here.path()));
        SCOPED_TRACE(row.operand + " -> " + row.archive);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, start(row.operand, here / row.folder) + sizes(bytes.size(), 2) +
                               memberLines(members, row.baseName));
        EXPECT_EQ(readFile(here / row.operand), bytes);
        for (const auto& [name, target] : row.links) EXPECT_TRUE(fs::is_symlink(here / name)) << name;
        EXPECT_FALSE(fs::exists(here / row.folder + "/old.txt"));
        for (const auto& [name, member] : extracted(members, row.baseName)) {
            EXPECT_EQ(readFile(here / row.folder + "/" + name), member) << name;
        }
    }
}

TEST_F(Unpacker, UnreadableWorkingDirectory) {
    fs::create_directory(dir / "doomed");
    const RunResult run = testsupport::runProgram(
        "/bin/sh", {"-c", "cd doomed && rmdir ../doomed && exec \"$0\" west.nm3", UNVESKAL_PATH}, testsupport::inFolder(dir.path()));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, console::bannerText() + "NM3 file name : west.nm3\n File west.nm3 NOT found.\n");

    // An absolute path needs no working directory.
    writeFile(archive, archiveOf({index, route}));
    fs::create_directory(dir / "doomed");
    const RunResult absolute = testsupport::runProgram(
        "/bin/sh", {"-c", "cd doomed && rmdir ../doomed && exec \"$0\" \"$1\"", UNVESKAL_PATH, archive}, testsupport::inFolder(dir.path()));
    EXPECT_EQ(absolute.status, 0);
    EXPECT_EQ(readFile(folder + "/west_00000.nm2"), route);
}

// Random atlases packed by veskal and unpacked again: every member comes
// back byte for byte, in the packer's order.
class RoundTrip : public Unpacker {
protected:
    struct Atlas {
        Bytes index;
        Bytes route;
        std::map<std::string, Bytes> further;
    };

    static std::string randomName(std::mt19937& random) {
        static const std::string letters = "aAbBkKmMyYzZ09_- .~";
        static const std::vector<std::string> extensions{".nm2", ".NM2", ".Nm2", ".nM2"};
        std::string name;
        const std::size_t length = 1 + random() % 12;
        for (std::size_t i = 0; i < length; ++i) name += letters[random() % letters.size()];
        return name + extensions[random() % extensions.size()];
    }

    static Bytes randomMember(std::mt19937& random, std::size_t bodySize) {
        const auto version = static_cast<std::uint16_t>(16 + random() % 65520);
        return memberBytes("MMMM", version, bodySize, static_cast<unsigned>(random()));
    }

    // `count` further members of up to `maxSmall` bytes each, and `large`
    // ones of one to three MiB.
    static Atlas makeAtlas(unsigned seed, std::size_t count, std::size_t maxSmall, std::size_t large) {
        std::mt19937 random(seed);
        Atlas atlas;
        const auto version = static_cast<std::uint16_t>(58 + random() % 2000);
        const std::size_t indexBody = random() % 5000;
        atlas.index = memberBytes("NIDX", version, indexBody, seed);
        atlas.route = memberBytes("ROUT", 16, random() % 70000, seed + 1);
        // Names that fold alike, and the smallest member there is.
        for (const char* name : {"Road.nm2", "ROAD.nm2", "road.NM2", "road_.nm2", "Road[.nm2"}) {
            atlas.further[name] = randomMember(random, random() % 300);
        }
        atlas.further["tiny.nm2"] = randomMember(random, 0);
        while (atlas.further.size() < count) atlas.further[randomName(random)] = randomMember(random, random() % maxSmall);
        for (std::size_t i = 0; i < large; ++i) {
            atlas.further[formatText("Large%zu.NM2", i)] = randomMember(random, (1 + random() % 3) << 20);
        }
        return atlas;
    }

    void packAndUnpack(const Atlas& atlas, const std::string& name) {
        const std::string atlasDir = dir / (name + "-atlas");
        fs::create_directory(atlasDir);
        writeFile(atlasDir + "/Atlas.nti", atlas.index);
        writeFile(atlasDir + "/Route.Nm2", atlas.route);
        for (const auto& [file, bytes] : atlas.further) writeFile(atlasDir + "/" + file, bytes);
        // Not members.
        writeFile(atlasDir + "/notes.txt", "notes");
        fs::create_directory(atlasDir + "/folder.nm2");

        const std::string packed = dir / (name + ".nm3");
        const RunResult pack = testsupport::runProgram(
            VESKAL_PATH, {"-i:Atlas.nti", "-r:Route.Nm2", "-o:" + packed, atlasDir}, testsupport::inFolder(dir.path()));
        ASSERT_EQ(pack.status, 0) << pack.err;
        const Bytes bytes = readFile(packed);

        std::vector<std::string> order;
        for (const auto& entry : atlas.further) order.push_back(entry.first);
        std::sort(order.begin(), order.end(), packedBefore);
        std::vector<Bytes> members{atlas.index, atlas.route};
        for (const std::string& file : order) members.push_back(atlas.further.at(file));

        const RunResult run = unveskal({packed});
        const std::string folderPath = dir / (name + ".nm2");
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, start(packed, folderPath) + sizes(bytes.size(), members.size() - 1) +
                               memberLines(members, name));
        EXPECT_EQ(differences(snapshot(folderPath), extracted(members, name)), "") << name;
        EXPECT_EQ(readFile(packed), bytes);
    }
};

TEST_F(RoundTrip, RandomAtlasesComeBackByteForByte) {
    packAndUnpack(makeAtlas(1, 40, 20000, 2), "Atlas One");
    packAndUnpack(makeAtlas(2, 60, 3000, 1), "atlas-2");
    packAndUnpack(makeAtlas(3, 25, 120000, 1), "THREE");
}

TEST_F(RoundTrip, ManySmallMembersAreNumberedInOrder) {
    packAndUnpack(makeAtlas(4, 700, 40, 0), "many");
}

}  // namespace
