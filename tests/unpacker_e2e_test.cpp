// The built unveskal, for what needs a process: its exit status, signals, a
// file size limit, an archive cut short while it is read, links on a real
// disk and a working directory that is gone. Everything else is tested
// in-process beside the unpacker's code.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <functional>

#include "testing/archives.h"
#include "testing/paused.h"
#include "testing/run.h"
#include "testing/scratch.h"
#include "testing/transcripts.h"

namespace {

namespace stdfs = std::filesystem;
using namespace testsupport;

class Unpacker : public ::testing::Test {
protected:
    RunResult unveskal(const std::vector<std::string>& args, RunOptions options = {}) {
        if (options.workingDir.empty()) options.workingDir = dir.path();
        return testsupport::runProgram(UNVESKAL_PATH, args, options);
    }

    // The transcript up to the sizes of the archive of `count` + 1 members.
    std::string start(std::uint64_t fileSize, std::uint64_t count) const {
        return banner + testsupport::unpackerNamed(archive, folder) + testsupport::unpackerSizes(fileSize, count);
    }
    // The scratch folder once `members` are extracted from their archive.
    static Files unpacked(const std::vector<Bytes>& members) {
        Files files = testsupport::extractedFiles("west.nm2", members);
        files["west.nm3"] = archiveOf(members);
        return files;
    }
    static constexpr const char* firstTwo =
        "   - nti file [index.058.nti] - Ok\n   - nm2 file #00000 [west_00000.nm2] - Ok\n";

    testsupport::ScratchDir dir;
    const std::string archive = dir / "west.nm3";
    const std::string folder = dir / "west.nm2";
    const Bytes index = memberBytes("NIDX", 58, 30, 1);
    const Bytes route = memberBytes("RTE0", 16, 50, 2);
    const Bytes more = memberBytes("MORE", 16, 14, 3);
};

TEST_F(Unpacker, ExitStatusAndUsage) {
    const std::vector<Bytes> members{index, route, more};
    writeFile(archive, archiveOf(members));
    RunResult run = unveskal({"-x", "-Q:y", archive, "-h", "other.nm3"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "unknown option -x\nunknown option -Q:y\n" + start(archiveOf(members).size(), 2) +
                           testsupport::extractedLines(members));
    EXPECT_EQ(snapshot(dir.path()), unpacked(members));

    stdfs::remove_all(folder);
    run = unveskal({"-", "-i:west.nti", "-h", archive});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "unknown option -\nunknown option -i:west.nti\n" + banner +
                           "usage:\n unveskal [ -? | -h | filename.nm3 ]\n\n");
    EXPECT_FALSE(testsupport::fileExists(folder));
}

TEST_F(Unpacker, DanglingFolderLinkOnADisk) {
    // The folder can't be made: a link that leads nowhere.
    const Bytes bytes = archiveOf({index, route, more});
    writeFile(archive, bytes);
    stdfs::create_symlink("nowhere", folder);
    const RunResult run = unveskal({archive});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, start(bytes.size(), 2) + " File " + folder + "/index.058.nti NOT created.\n");
    EXPECT_FALSE(stdfs::exists(dir / "nowhere"));
    EXPECT_EQ(readFile(archive), bytes);
}

TEST_F(Unpacker, FullDiskFailsWithTheMembersName) {
    const Bytes big = memberBytes("BIGG", 16, 300000, 4);
    const std::vector<Bytes> members{index, route, big, more};
    const Bytes bytes = archiveOf(members);
    const std::string begin = start(bytes.size(), 3);
    writeFile(archive, bytes);

    RunResult run = unveskal({archive}, testsupport::limitedTo(0));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, begin + "   - nti file [index.058.nti] Error write file " + folder + "/index.058.nti.\n");
    EXPECT_EQ(snapshot(folder), (Files{{"index.058.nti", ""}}));

    for (const long long limit : {100LL, 300005LL}) {
        run = unveskal({archive}, testsupport::limitedTo(limit));
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, begin + firstTwo + "   - nm2 file #00001 [west_00001.nm2] Error write file " + folder +
                               "/west_00001.nm2.\n")
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
    EXPECT_EQ(run.err, begin + testsupport::extractedLines(members));
    EXPECT_EQ(differences(snapshot(dir.path()), unpacked(members)), "");
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
    const std::string firstLong = start(bytes.size(), 4) + firstTwo + "   - nm2 file #00001 [west_00001.nm2]";
    const std::string secondLong = firstLong + " - Ok\n   - nm2 file #00002 [west_00002.nm2]";
    const std::size_t longBStart = 12 + index.size() + route.size() + longA.size();
};

TEST_F(HeldUnpacker, ArchiveEndingEarlyIsAReadError) {
    // The archive loses its tail inside #00002 before that is read.
    const RunResult run =
        unpackHeld([&](int) { ASSERT_EQ(::truncate(archive.c_str(), static_cast<off_t>(longBStart + 1000)), 0); });
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
    EXPECT_EQ(
        differences(
            snapshot(folder),
            {{"index.058.nti", index}, {"west_00000.nm2", route}, {"west_00001.nm2", longA}, {"west_00002.nm2", ""}}),
        "");
    EXPECT_EQ(readFile(archive), bytes);
}

TEST_F(Unpacker, UnreadableWorkingDirectory) {
    stdfs::create_directory(dir / "doomed");
    const RunResult run = testsupport::runProgram(
        "/bin/sh", {"-c", "cd doomed && rmdir ../doomed && exec \"$0\" west.nm3", UNVESKAL_PATH},
        testsupport::inFolder(dir.path()));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, banner + "NM3 file name : west.nm3\n File west.nm3 NOT found.\n");

    // An absolute path needs no working directory.
    writeFile(archive, archiveOf({index, route}));
    stdfs::create_directory(dir / "doomed");
    const RunResult absolute = testsupport::runProgram(
        "/bin/sh", {"-c", "cd doomed && rmdir ../doomed && exec \"$0\" \"$1\"", UNVESKAL_PATH, archive},
        testsupport::inFolder(dir.path()));
    EXPECT_EQ(absolute.status, 0);
    EXPECT_EQ(readFile(folder + "/west_00000.nm2"), route);
}

}  // namespace
