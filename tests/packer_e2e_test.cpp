// The built veskal, run in fresh folders: its whole transcript, its exit
// status, the archive's bytes, and inputs left as they were.
#include <gtest/gtest.h>

#include <filesystem>
#include <csignal>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

#include "console/frame.h"
#include "support/archives.h"
#include "support/paused.h"
#include "support/run.h"
#include "support/scratch.h"

namespace {

namespace fs = std::filesystem;
using testsupport::archiveOf;
using testsupport::Bytes;
using testsupport::memberBytes;
using testsupport::readFile;
using testsupport::RunOptions;
using testsupport::RunResult;
using testsupport::snapshot;
using testsupport::writeFile;

const std::string usage =
    "usage:\n veskal [ -? | -h | -i:indexfile.nti -r:routefile.nm2 -o:outfile.nm3 [foldername] ]\n\n";

class Packer : public ::testing::Test {
protected:
    Packer() {
        fs::create_directory(atlas);
        writeFile(atlas + "/atlas.nti", index);
        writeFile(atlas + "/route.nm2", route);
    }

    RunResult veskal(const std::vector<std::string>& args, RunOptions options = {}) {
        if (options.workingDir.empty()) options.workingDir = dir.path();
        return testsupport::runProgram(VESKAL_PATH, args, options);
    }

    // The usual run: the atlas folder as operand, the archive beside it.
    RunResult packAtlas(RunOptions options = {}) {
        return veskal({"-i:atlas.nti", "-r:route.nm2", "-o:" + out, atlas}, options);
    }

    // Transcript up to the member lines of a run from the scratch folder.
    std::string start(const std::string& atlasDir) const {
        return console::bannerText() + " - working Dir: " + dir.path() + "\n - atlas Dir  : " + atlasDir + "\n";
    }
    std::string start() const {
        return start(atlas) + " - indexFile: " + atlas + "/atlas.nti\n - routeFile: " + atlas +
               "/route.nm2\n - outFile  : " + out + "\n";
    }
    std::string indexLine() const { return "   -   nti file [" + atlas + "/atlas.nti] - Ok\n"; }
    std::string routeLine() const { return "   - route file [" + atlas + "/route.nm2] - Ok\n"; }
    static std::string nm2Line(const std::string& path) { return "   -   nm2 file [" + path + "] - Ok\n"; }

    testsupport::ScratchDir dir;
    const std::string atlas = dir / "atlas";
    const std::string out = dir / "out.nm3";
    const Bytes index = memberBytes("NIDX", 58, 30, 1);
    const Bytes route = memberBytes("RTE0", 16, 50, 2);
};

TEST_F(Packer, WorkedExampleComesOutToTheByte) {
    writeFile(atlas + "/atlas.nti", Bytes("NIDX\x3a\0" "ab", 8));
    writeFile(atlas + "/route.nm2", Bytes("ROUT\x10\x00wxyz", 10));
    writeFile(atlas + "/more.nm2", Bytes("MORE\x10\x00z", 7));
    const auto before = snapshot(atlas);

    const RunResult run = packAtlas();
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, start() + indexLine() + routeLine() + nm2Line(atlas + "/more.nm2"));
    EXPECT_EQ(readFile(out), Bytes("GNM3\0\0\0\0\x19\0\0\0"
                                   "NIDX\x3a\0ab"
                                   "ROUT\x10\0wxyz"
                                   "MORE\x10\0z"
                                   "\x08\0\0\0\x12\0\0\0",
                                   45));
    EXPECT_EQ(snapshot(atlas), before);
}

TEST_F(Packer, IndexAndRouteAloneGiveAOneEntryFooter) {
    const RunResult run = packAtlas();
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, start() + indexLine() + routeLine());
    EXPECT_EQ(readFile(out), archiveOf({index, route}));
}

TEST_F(Packer, FurtherFilesAreSortedAndTheRouteAndIndexStoredOnce) {
    // The route file is named in another case on the command line's side of
    // things: what counts is that the listing meets the same file.
    const std::map<std::string, Bytes> files{{"b.nm2", memberBytes("BBBB", 16, 6)},
                                             {"A.nm2", memberBytes("AAAA", 17, 7)},
                                             {"a.NM2", memberBytes("aaaa", 18, 0)},
                                             {"_z.Nm2", memberBytes("ZZZZ", 0xFFFF, 9)},
                                             {"c d.nm2", memberBytes("CCCC", 16, 10)},
                                             {"-e.nm2", memberBytes("EEEE", 16, 11)}};
    for (const auto& [name, bytes] : files) writeFile(atlas + "/" + name, bytes);
    writeFile(atlas + "/notes.txt", "not a member");
    writeFile(atlas + "/old.nm3", "not a member");
    fs::create_directory(atlas + "/dir.nm2");
    fs::create_symlink("route.nm2", atlas + "/zlink-to-route.nm2");
    fs::create_symlink("dir.nm2", atlas + "/zlink-to-dir.nm2");
    fs::create_hard_link(atlas + "/atlas.nti", atlas + "/index-again.nm2");

    const RunResult run = veskal({"-i:C:/ignored/atlas.nti", "-r:/elsewhere/route.nm2", "-o:" + out, atlas + "/"});
    const std::vector<std::string> order{"-e.nm2", "A.nm2", "a.NM2", "b.nm2", "c d.nm2", "_z.Nm2"};
    std::string lines;
    std::vector<Bytes> members{index, route};
    for (const std::string& name : order) {
        lines += nm2Line(atlas + "/" + name);
        members.push_back(files.at(name));
    }
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, start() + indexLine() + routeLine() + lines);
    EXPECT_EQ(readFile(out), archiveOf(members));
}

TEST_F(Packer, TableGrowsPastFiveHundredTwelveMembers) {
    std::vector<Bytes> members{index, route};
    for (int i = 0; i < 1100; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "m%05d.nm2", i);
        members.push_back(memberBytes("MMMM", 16, static_cast<std::size_t>(i % 13), static_cast<unsigned>(i)));
        writeFile(atlas + "/" + name, members.back());
    }
    const RunResult run = packAtlas();
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(readFile(out), archiveOf(members));
}

TEST_F(Packer, OptionLettersAndValues) {
    writeFile(atlas + "/other.nti", memberBytes("NIDX", 99, 3));
    // Upper-case letters, bare letters ignored, later values replacing
    // earlier ones, an unknown option reported before the banner, the output
    // taken from the current folder.
    const RunResult run = veskal({"-I:wrong.nti", "-i", "-x", "-I:other.nti", "-R:route.nm2", "-O:x.nm3", "-o", "atlas"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "unknown option -x\n" + start(atlas) + " - indexFile: " + atlas + "/other.nti\n - routeFile: " +
                           atlas + "/route.nm2\n - outFile  : " + dir.path() + "/x.nm3\n   -   nti file [" + atlas +
                           "/other.nti] - Ok\n" + routeLine());
    EXPECT_EQ(readFile(dir / "x.nm3"), archiveOf({memberBytes("NIDX", 99, 3), route}));
}

TEST_F(Packer, HelpPrintsTheUsageLine) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"-?"}, {"-h"}, {"-H"}, {"-help"}, {"-i:a.nti", "-H", "atlas"}}) {
        const RunResult run = veskal(args);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, console::bannerText() + usage) << args.front();
    }
    const RunResult unknown = veskal({"-", "-?"});
    EXPECT_EQ(unknown.err, "unknown option -\n" + console::bannerText() + usage);
    EXPECT_FALSE(testsupport::fileExists(out));
}

TEST_F(Packer, OptionsAfterTheOperandAreNeverSeen) {
    const RunResult run = veskal({atlas, "-i:atlas.nti", "-r:route.nm2", "-o:" + out, "-h"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, start(atlas) + " Error: You must have -i: parameter\n");
}

TEST_F(Packer, MissingOptionsAreReportedInOrder) {
    const std::string begin = start(dir.path());
    EXPECT_EQ(veskal({}).err, begin + " Error: You must have -i: parameter\n");
    EXPECT_EQ(veskal({"-i:", "-r:r"}).err, begin + " Error: You must have -i: parameter\n");
    EXPECT_EQ(veskal({"-i:a", "-o:x"}).err, begin + " Error: You must have -r: parameter\n");
    const RunResult run = veskal({"-i:a", "-r:b"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, begin + " Error: You must have -o: parameter\n");
}

TEST_F(Packer, AtlasFolderChecks) {
    writeFile(dir / "plain", "x");
    RunResult run = veskal({"-i:a.nti", "-r:b.nm2", "-o:" + out, "plain"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, start(dir / "plain") + " This path is NOT directory: " + dir / "plain" + "\n");

    run = veskal({"-i:a.nti", "-r:b.nm2", "-o:" + out, "./gone/../missing/"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, start(dir / "missing") + " Path not found: " + dir / "missing" + "\n");

    // The root keeps its separator and its members hang right below it.
    run = veskal({"-i:veskal-no-such.nti", "-r:b.nm2", "-o:" + out, "/"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, start("/") + " - indexFile: /veskal-no-such.nti\n - routeFile: /b.nm2\n - outFile  : " + out +
                           "\n Error: Can't access file: /veskal-no-such.nti\n");
    EXPECT_FALSE(testsupport::fileExists(out));
}

TEST_F(Packer, UnreadableWorkingDirectory) {
    fs::create_directory(dir / "doomed");
    const RunResult run = testsupport::runProgram(
        "/bin/sh", {"-c", "cd doomed && rmdir ../doomed && exec \"$0\" -i:a -r:b -o:c", VESKAL_PATH}, testsupport::inFolder(dir.path()));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, console::bannerText() + " Can't locate current working directory\n");
}

TEST_F(Packer, InputsThatCantBeReadOrOpened) {
    const auto before = snapshot(atlas);
    RunResult run = veskal({"-i:none.nti", "-r:route.nm2", "-o:" + out, atlas});
    EXPECT_EQ(run.err, start(atlas) + " - indexFile: " + atlas + "/none.nti\n - routeFile: " + atlas +
                           "/route.nm2\n - outFile  : " + out + "\n Error: Can't access file: " + atlas + "/none.nti\n");
    run = veskal({"-i:atlas.nti", "-r:none.nm2", "-o:" + out, atlas});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.ends_with(" Error: Can't access file: " + atlas + "/none.nm2\n"));

    // A FIFO never holds the run; a directory is no member.
    ASSERT_EQ(::mkfifo((atlas + "/pipe.nti").c_str(), 0600), 0);
    fs::create_directory(atlas + "/folder.nm2");
    run = veskal({"-i:pipe.nti", "-r:route.nm2", "-o:" + out, atlas}, testsupport::timeoutAfter(10));
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.ends_with(" - outFile  : " + out + "\n Error open file " + atlas + "/pipe.nti.\n"));
    run = veskal({"-i:atlas.nti", "-r:folder.nm2", "-o:" + out, atlas});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, start(atlas) + " - indexFile: " + atlas + "/atlas.nti\n - routeFile: " + atlas +
                           "/folder.nm2\n - outFile  : " + out + "\n" + indexLine() + " Error open file " + atlas +
                           "/folder.nm2.\n");
    EXPECT_FALSE(testsupport::fileExists(out));

    ASSERT_EQ(::mkfifo((atlas + "/pipe.nm2").c_str(), 0600), 0);
    run = packAtlas(testsupport::timeoutAfter(10));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, start() + indexLine() + routeLine() + " Error open file " + atlas + "/pipe.nm2.\n");
    EXPECT_FALSE(testsupport::fileExists(out));

    fs::remove(atlas + "/pipe.nm2");
    fs::create_symlink("nowhere", atlas + "/dangling.nm2");
    run = packAtlas();
    EXPECT_EQ(run.err, start() + indexLine() + routeLine() + " Error open file " + atlas + "/dangling.nm2.\n");
    EXPECT_FALSE(testsupport::fileExists(out));
    for (const auto& [name, bytes] : before) EXPECT_EQ(readFile(atlas + "/" + name), bytes) << name;
}

TEST_F(Packer, OutputThatCantBeCreated) {
    const std::string target = dir / "no-such-dir/out.nm3";
    const RunResult run = veskal({"-i:atlas.nti", "-r:route.nm2", "-o:" + target, atlas});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, start(atlas) + " - indexFile: " + atlas + "/atlas.nti\n - routeFile: " + atlas +
                           "/route.nm2\n - outFile  : " + target + "\n Error: Can't create file: " + target + "\n");
}

TEST_F(Packer, MemberHeadersAreChecked) {
    struct Case {
        std::string file;
        Bytes bytes;
        std::string message;  // the last line of the transcript
        std::string doneBefore;
    };
    const std::vector<Case> cases{
        {"atlas.nti", Bytes("NIDX\x3a", 5), " Error read nti header file " + atlas + "/atlas.nti.\n", ""},
        {"atlas.nti", memberBytes("NIDX", 57, 10), " Non valid version [0x39] index file [" + atlas + "/atlas.nti].\n",
         ""},
        {"route.nm2", Bytes(), " Error read nm2 header file " + atlas + "/route.nm2.\n", indexLine()},
        {"route.nm2", memberBytes("RRRR", 15, 10), " Non valid version [0xf] route file [" + atlas + "/route.nm2].\n",
         indexLine()},
        {"x.nm2", Bytes("XXXX\x10", 5), " Error read nm2 header file " + atlas + "/x.nm2.\n", indexLine() + routeLine()},
        {"x.nm2", memberBytes("XXXX", 15, 1),
         " Non valid version [0xf] route file [" + atlas + "/x.nm2].\n", indexLine() + routeLine()},
    };
    for (const Case& c : cases) {
        const Bytes original = testsupport::fileExists(atlas + "/" + c.file) ? readFile(atlas + "/" + c.file) : Bytes();
        writeFile(atlas + "/" + c.file, c.bytes);
        // An existing archive is emptied when the output is created and then
        // deleted with the unfinished archive.
        writeFile(out, "an older archive");
        const RunResult run = packAtlas();
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, start() + c.doneBefore + c.message);
        EXPECT_FALSE(testsupport::fileExists(out)) << c.message;
        EXPECT_EQ(readFile(atlas + "/" + c.file), c.bytes);
        if (c.file == "x.nm2") {
            fs::remove(atlas + "/x.nm2");
        } else {
            writeFile(atlas + "/" + c.file, original);
        }
    }
}

TEST_F(Packer, FailureBeforeTheOutputIsCreatedLeavesAnOldArchiveAlone) {
    writeFile(out, "an older archive");
    const RunResult run = veskal({"-i:none.nti", "-r:route.nm2", "-o:" + out, atlas});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(readFile(out), "an older archive");
}

TEST_F(Packer, OutputNamingAnInputIsRefusedBeforeAnythingIsTouched) {
    writeFile(atlas + "/more.nm2", memberBytes("MORE", 16, 4));
    fs::create_hard_link(atlas + "/more.nm2", dir / "alias.nm3");
    fs::create_symlink(atlas + "/atlas.nti", dir / "index-link.nm3");
    // Links to a further member: relative, in a chain, absolute from
    // elsewhere; and one that leads to a new .nm2 name in the atlas.
    fs::create_symlink("atlas/more.nm2", dir / "more-link.nm3");
    fs::create_symlink("more-link.nm3", dir / "chain.nm3");
    fs::create_directory(dir / "elsewhere");
    fs::create_symlink(atlas + "/more.nm2", dir / "elsewhere/far.nm3");
    fs::create_symlink("atlas/new.nm2", dir / "dangling.nm3");
    const auto before = snapshot(dir.path());

    const std::vector<std::pair<std::string, std::string>> cases{
        {atlas + "/atlas.nti", atlas + "/atlas.nti"},
        {"atlas/./route.nm2", atlas + "/route.nm2"},
        {dir / "index-link.nm3", atlas + "/atlas.nti"},
        {dir / "alias.nm3", atlas + "/more.nm2"},
        {atlas + "/NEW.NM2", atlas + "/NEW.NM2"},
        {"more-link.nm3", atlas + "/more.nm2"},
        {"chain.nm3", atlas + "/more.nm2"},
        {"elsewhere/far.nm3", atlas + "/more.nm2"},
        {"dangling.nm3", atlas + "/new.nm2"},
    };
    for (const auto& [target, input] : cases) {
        const RunResult run = veskal({"-i:atlas.nti", "-r:route.nm2", "-o:" + target, atlas});
        EXPECT_EQ(run.status, 1) << target;
        EXPECT_TRUE(run.err.ends_with(" Error open file " + input + ".\n")) << run.err;
        EXPECT_EQ(snapshot(dir.path()), before) << target;
    }
    EXPECT_FALSE(testsupport::fileExists(atlas + "/NEW.NM2"));
    EXPECT_FALSE(testsupport::fileExists(atlas + "/new.nm2"));

    // An archive inside the atlas folder is fine when it isn't an .nm2 name.
    const RunResult run = veskal({"-i:atlas.nti", "-r:route.nm2", "-o:atlas/atlas.nm3", "atlas"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(readFile(atlas + "/atlas.nm3"), archiveOf({index, route, readFile(atlas + "/more.nm2")}));
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
    EXPECT_EQ(footer.err, start() + indexLine() + routeLine() + nm2Line(atlas + "/more.nm2") + " Error write file " +
                              out + ".\n");
    const RunResult member = packAtlas(testsupport::limitedTo(12 + 100000));
    EXPECT_EQ(member.err, start() + indexLine() + routeLine() + "   -   nm2 file [" + atlas +
                              "/more.nm2] Error write file " + out + ".\n");
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
        fs::create_hard_link(out, dir / "other-name");
        const RunResult run = packAtlas();
        EXPECT_EQ(run.status, 0) << oldSize;
        EXPECT_EQ(readFile(out), archive) << oldSize;
        // The same file under its other name: written in place, not replaced.
        EXPECT_EQ(readFile(dir / "other-name"), archive) << oldSize;
        fs::remove(dir / "other-name");
    }
}

TEST_F(Packer, PayloadBeyondFourGibibytesIsRefusedAtOnce) {
    // Sparse members: sizes without the bytes on disk.
    const std::uint64_t limit = 0xFFFFFFFFull;
    writeFile(atlas + "/big.nm2", memberBytes("BIGG", 16, 0));
    ASSERT_EQ(::truncate((atlas + "/big.nm2").c_str(), static_cast<off_t>(limit + 1 - index.size() - route.size())), 0);
    RunResult run = packAtlas(testsupport::timeoutAfter(20));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, start() + indexLine() + routeLine() + " Error archive exceeds 4 GiB file " + atlas + "/big.nm2.\n");
    EXPECT_FALSE(testsupport::fileExists(out));

    ASSERT_EQ(::truncate((atlas + "/route.nm2").c_str(), static_cast<off_t>(5 * limit)), 0);
    run = packAtlas(testsupport::timeoutAfter(20));
    EXPECT_EQ(run.err, start() + indexLine() + " Error archive exceeds 4 GiB file " + atlas + "/route.nm2.\n");
    EXPECT_FALSE(testsupport::fileExists(out));
}

TEST_F(Packer, FailureLeavesNoArchiveBytesUnderAnotherName) {
    writeFile(atlas + "/bad.nm2", memberBytes("BADD", 15, 4));
    const std::string target = dir / "target.nm3";
    for (const bool symbolic : {true, false}) {
        writeFile(target, "an older archive");
        if (symbolic) {
            fs::create_symlink(target, out);
        } else {
            fs::create_hard_link(target, out);
        }
        const RunResult run = packAtlas();
        EXPECT_EQ(run.status, 1);
        EXPECT_TRUE(run.err.ends_with(" Non valid version [0xf] route file [" + atlas + "/bad.nm2].\n")) << run.err;
        EXPECT_FALSE(fs::exists(fs::symlink_status(out))) << symbolic;
        EXPECT_EQ(readFile(target), "") << symbolic;
    }
}

TEST_F(Packer, InterruptRemovesTheUnfinishedArchive) {
    // Members long enough that their lines go out before they are copied.
    writeFile(atlas + "/a.nm2", memberBytes("AAAA", 16, 300000, 7));
    writeFile(atlas + "/b.nm2", memberBytes("BBBB", 16, 300000, 8));
    const std::string firstLong = start() + indexLine() + routeLine() + "   -   nm2 file [" + atlas + "/a.nm2]";
    const std::string secondLong = firstLong + " - Ok\n   -   nm2 file [" + atlas + "/b.nm2]";
    const auto before = snapshot(atlas);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        writeFile(out, "an older archive");
        fs::remove(dir / "other-name.nm3");
        fs::create_hard_link(out, dir / "other-name.nm3");
        RunOptions options;
        options.workingDir = dir.path();
        options.timeoutSeconds = 20;
        // Held while it says that b.nm2 comes next: a.nm2 is in the archive.
        const RunResult run = testsupport::runPausedAfter(
            VESKAL_PATH, {"-i:atlas.nti", "-r:route.nm2", "-o:" + out, atlas}, options, firstLong.size(),
            [&](int pid) {
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
