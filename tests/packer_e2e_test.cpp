// The built veskal, for what needs a process: its exit status, signals, a
// file size limit, FIFOs and links on a real disk, sparse files and a working
// directory that is gone. Everything else is tested in-process beside the
// packer's code.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

#include "testing/archives.h"
#include "testing/paused.h"
#include "testing/run.h"
#include "testing/scratch.h"
#include "testing/transcripts.h"

namespace {

namespace stdfs = std::filesystem;
using namespace testsupport;

class Packer : public ::testing::Test {
protected:
    Packer() {
        stdfs::create_directory(atlas);
        writeFile(nti, index);
        writeFile(routeFile, route);
    }

    RunResult veskal(const std::vector<std::string>& args, RunOptions options = {}) {
        if (options.workingDir.empty()) options.workingDir = dir.path();
        return testsupport::runProgram(VESKAL_PATH, args, options);
    }

    // The usual run: the atlas folder as operand, the archive beside it.
    RunResult packAtlas(RunOptions options = {}) {
        return veskal({"-i:atlas.nti", "-r:route.nm2", "-o:" + out, atlas}, options);
    }

    // The usual run's transcript up to the lines of `packed` members.
    std::string said(const std::vector<std::string>& packed) const {
        return banner + testsupport::packerSaid(dir.path(), atlas, {nti, routeFile, out}, packed);
    }

    testsupport::ScratchDir dir;
    const std::string atlas = dir / "atlas";
    const std::string nti = atlas + "/atlas.nti";
    const std::string routeFile = atlas + "/route.nm2";
    const std::string out = dir / "out.nm3";
    const Bytes index = memberBytes("NIDX", 58, 30, 1);
    const Bytes route = memberBytes("RTE0", 16, 50, 2);
};

TEST_F(Packer, ExitStatusAndUsage) {
    RunResult run = veskal({"-x", "-i:atlas.nti", "-r:route.nm2", "-o:" + out, atlas});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "unknown option -x\n" + said({nti, routeFile}));
    EXPECT_EQ(readFile(out), archiveOf({index, route}));

    stdfs::remove(out);
    run = veskal({"-", "-?", "-i:atlas.nti", "-r:route.nm2", "-o:" + out, atlas});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "unknown option -\n" + banner +
                  "usage:\n veskal [ -? | -h | -i:indexfile.nti -r:routefile.nm2 -o:outfile.nm3 [foldername] ]\n\n");
    EXPECT_FALSE(testsupport::fileExists(out));
}

TEST_F(Packer, UnreadableWorkingDirectory) {
    stdfs::create_directory(dir / "doomed");
    const RunResult run = testsupport::runProgram(
        "/bin/sh", {"-c", "cd doomed && rmdir ../doomed && exec \"$0\" -i:a -r:b -o:c", VESKAL_PATH},
        testsupport::inFolder(dir.path()));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, banner + " Can't locate current working directory\n");
}

TEST_F(Packer, FifosAndDanglingLinksOnADisk) {
    const auto before = snapshot(atlas);
    // A FIFO never holds the run.
    ASSERT_EQ(::mkfifo((atlas + "/pipe.nti").c_str(), 0600), 0);
    RunResult run = veskal({"-i:pipe.nti", "-r:route.nm2", "-o:" + out, atlas}, testsupport::timeoutAfter(10));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, banner + testsupport::packerSaid(dir.path(), atlas, {atlas + "/pipe.nti", routeFile, out}) +
                           " Error open file " + atlas + "/pipe.nti.\n");
    EXPECT_FALSE(testsupport::fileExists(out));

    ASSERT_EQ(::mkfifo((atlas + "/pipe.nm2").c_str(), 0600), 0);
    run = packAtlas(testsupport::timeoutAfter(10));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, said({nti, routeFile}) + " Error open file " + atlas + "/pipe.nm2.\n");
    EXPECT_FALSE(testsupport::fileExists(out));

    stdfs::remove(atlas + "/pipe.nm2");
    stdfs::create_symlink("nowhere", atlas + "/dangling.nm2");
    run = packAtlas();
    EXPECT_EQ(run.err, said({nti, routeFile}) + " Error open file " + atlas + "/dangling.nm2.\n");
    EXPECT_FALSE(testsupport::fileExists(out));
    // The output's link leads to a new .nm2 name in the atlas.
    stdfs::create_symlink("atlas/new.nm2", dir / "dangling.nm3");
    run = veskal({"-i:atlas.nti", "-r:route.nm2", "-o:dangling.nm3", atlas});
    EXPECT_TRUE(run.err.ends_with(" Error open file " + atlas + "/new.nm2.\n")) << run.err;
    EXPECT_FALSE(testsupport::fileExists(atlas + "/new.nm2"));
    for (const auto& [name, bytes] : before) EXPECT_EQ(readFile(atlas + "/" + name), bytes) << name;
}

TEST_F(Packer, FullDiskFailsTheRunAndRemovesTheArchive) {
    // Large enough to reach the archive in several writes.
    const Bytes more = memberBytes("MORE", 16, 3000000, 5);
    writeFile(atlas + "/more.nm2", more);
    const std::size_t payload = index.size() + route.size() + more.size();
    const long long end = static_cast<long long>(12 + payload + 8);
    // Limits that stop the header, the index, the route file, the large
    // member at its first and a later write, and the footer; with no old
    // archive and over an old archive longer than the limit.
    for (const bool overwriting : {false, true}) {
        for (const long long limit : {0LL, 11LL, 20LL, 12LL + 40, 12LL + 100, 12LL + 100000, 12LL + 2000000,
                                      static_cast<long long>(12 + payload), end - 1}) {
            if (overwriting) writeFile(out, Bytes(static_cast<std::size_t>(limit) + 1000, 'o'));
            const RunResult run = packAtlas(testsupport::limitedTo(limit));
            EXPECT_EQ(run.status, 1) << limit;
            EXPECT_TRUE(run.err.ends_with(" Error write file " + out + ".\n")) << limit << run.err;
            EXPECT_FALSE(testsupport::fileExists(out)) << limit;
        }
    }
    // The last member ends exactly at the limit: only the footer fails.
    const RunResult footer = packAtlas(testsupport::limitedTo(static_cast<long long>(12 + payload)));
    EXPECT_EQ(footer.err, said({nti, routeFile, atlas + "/more.nm2"}) + " Error write file " + out + ".\n");
    const RunResult member = packAtlas(testsupport::limitedTo(12 + 100000));
    EXPECT_EQ(member.err,
              said({nti, routeFile}) + "   -   nm2 file [" + atlas + "/more.nm2] Error write file " + out + ".\n");
    // The archive ends exactly at the limit, also over a longer old one.
    const Bytes archive = archiveOf({index, route, more});
    for (const bool overwriting : {false, true}) {
        if (overwriting) writeFile(out, Bytes(static_cast<std::size_t>(end) + 1000, 'o'));
        EXPECT_EQ(packAtlas(testsupport::limitedTo(end)).status, 0);
        EXPECT_EQ(readFile(out), archive);
    }
}

TEST_F(Packer, AnOldArchiveIsWrittenOverAndCutToTheNewLength) {
    const Bytes archive = archiveOf({index, route});
    // Longer, shorter and as long as the new archive.
    for (const std::size_t oldSize : {std::size_t{5000000}, std::size_t{3}, archive.size()}) {
        writeFile(out, Bytes(oldSize, 'o'));
        stdfs::create_hard_link(out, dir / "other-name");
        const RunResult run = packAtlas();
        EXPECT_EQ(run.status, 0) << oldSize;
        EXPECT_EQ(readFile(out), archive) << oldSize;
        // The same file under its other name: written in place, not replaced.
        EXPECT_EQ(readFile(dir / "other-name"), archive) << oldSize;
        stdfs::remove(dir / "other-name");
    }
}

TEST_F(Packer, PayloadBeyondFourGibibytesIsRefusedAtOnce) {
    // Sparse members: sizes without the bytes on disk.
    const std::uint64_t limit = 0xFFFFFFFFull;
    writeFile(atlas + "/big.nm2", memberBytes("BIGG", 16, 0));
    ASSERT_EQ(::truncate((atlas + "/big.nm2").c_str(), static_cast<off_t>(limit + 1 - index.size() - route.size())), 0);
    RunResult run = packAtlas(testsupport::timeoutAfter(20));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, said({nti, routeFile}) + " Error archive exceeds 4 GiB file " + atlas + "/big.nm2.\n");
    EXPECT_FALSE(testsupport::fileExists(out));

    ASSERT_EQ(::truncate((atlas + "/route.nm2").c_str(), static_cast<off_t>(5 * limit)), 0);
    run = packAtlas(testsupport::timeoutAfter(20));
    EXPECT_EQ(run.err, said({nti}) + " Error archive exceeds 4 GiB file " + atlas + "/route.nm2.\n");
    EXPECT_FALSE(testsupport::fileExists(out));
}

TEST_F(Packer, InterruptRemovesTheUnfinishedArchive) {
    // Members long enough that their lines go out before they are copied.
    writeFile(atlas + "/a.nm2", memberBytes("AAAA", 16, 300000, 7));
    writeFile(atlas + "/b.nm2", memberBytes("BBBB", 16, 300000, 8));
    const std::string firstLong = said({nti, routeFile}) + "   -   nm2 file [" + atlas + "/a.nm2]";
    const std::string secondLong = firstLong + " - Ok\n   -   nm2 file [" + atlas + "/b.nm2]";
    const auto before = snapshot(atlas);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        writeFile(out, "an older archive");
        stdfs::remove(dir / "other-name.nm3");
        stdfs::create_hard_link(out, dir / "other-name.nm3");
        RunOptions options;
        options.workingDir = dir.path();
        options.timeoutSeconds = 20;
        // Held while it says that b.nm2 comes next: a.nm2 is in the archive.
        const RunResult run = testsupport::runPausedAfter(
            VESKAL_PATH, {"-i:atlas.nti", "-r:route.nm2", "-o:" + out, atlas}, options, firstLong.size(), [&](int pid) {
                EXPECT_TRUE(testsupport::waitUntilWriting(pid));
                EXPECT_TRUE(testsupport::signalAndWait(pid, signal));
            });
        EXPECT_FALSE(run.timedOut);
        EXPECT_EQ(run.status, 1) << signal;
        EXPECT_EQ(run.err, secondLong + " Interrupted.\n") << signal;
        EXPECT_FALSE(testsupport::fileExists(out)) << signal;
        EXPECT_EQ(readFile(dir / "other-name.nm3"), "") << signal;
    }
    EXPECT_EQ(snapshot(atlas), before);
}

}  // namespace
