// The file a run writes, or the archive it reads, is never shared: not with
// another run at the same time (each holds a lock without waiting for one),
// nor with the run's own standard output or error streams.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "testing/archives.h"
#include "testing/run.h"
#include "testing/scratch.h"
#include "testing/transcripts.h"

namespace {

namespace stdfs = std::filesystem;
using namespace testsupport;

class Unshared : public ::testing::Test {
protected:
    Unshared() {
        stdfs::create_directory(atlas);
        writeFile(atlas + "/atlas.nti", members[0]);
        writeFile(atlas + "/route.nm2", members[1]);
        writeFile(atlas + "/big.nm2", members[2]);
    }

    // `command` run by the shell in the scratch folder, "$0" the packer and
    // "$1" the unpacker.
    RunResult shell(const std::string& command) const {
        return testsupport::runProgram("/bin/sh", {"-c", command, VESKAL_PATH, UNVESKAL_PATH},
                                       testsupport::inFolder(dir.path()));
    }

    // What the packer says when it refuses to make `out` (as placed).
    std::string refused(const std::string& out) const {
        return banner + testsupport::packerSaid(dir.path(), atlas, {atlas + "/atlas.nti", atlas + "/route.nm2", out}) +
               " Error: Can't create file: " + out + "\n";
    }

    testsupport::ScratchDir dir;
    const std::string atlas = dir / "atlas";
    const std::vector<Bytes> members{memberBytes("NIDX", 60, 70, 1), memberBytes("RTE1", 16, 40, 2),
                                     memberBytes("MAP2", 17, 300 * 1024, 3)};
};

// The output is a file behind a standard stream: the run says so and
// changes nothing, so the file holds the transcript and no archive bytes.
TEST_F(Unshared, AStandardStreamIsNeverTheOutput) {
    const std::string out = dir / "out.nm3";
    const std::string log = dir / "log";
    struct Row {
        std::string command;
        std::string placed;  // the output as the run names it
        std::string file;    // the stream's file
    };
    const std::vector<Row> rows{
        {"\"$0\" -i:atlas.nti -r:route.nm2 -o:out.nm3 atlas 2>out.nm3", out, out},
        {"\"$0\" -i:atlas.nti -r:route.nm2 -o:out.nm3 atlas 2>>out.nm3", out, out},
        {"\"$0\" -i:atlas.nti -r:route.nm2 -o:/dev/stderr atlas 2>log", "/dev/stderr", log},
        {"\"$0\" -i:atlas.nti -r:route.nm2 -o:/proc/self/fd/2 atlas 2>log", "/proc/self/fd/2", log},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.command);
        stdfs::remove(out);
        stdfs::remove(log);
        const RunResult run = shell(row.command);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(readFile(row.file), refused(row.placed));
    }
    // The standard output, which the packer never writes to.
    const RunResult run = shell("\"$0\" -i:atlas.nti -r:route.nm2 -o:out.nm3 atlas >out.nm3");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, refused(out));
    EXPECT_EQ(readFile(out), "");

    // The unpacker's archive as its standard output: not opened.
    const Bytes archive = archiveOf(members);
    writeFile(dir / "west.nm3", archive);
    const RunResult unpacked = shell("\"$1\" west.nm3 >>west.nm3");
    EXPECT_EQ(unpacked.status, 1);
    EXPECT_EQ(unpacked.err, banner + testsupport::unpackerNamed("west.nm3", dir / "west.nm2") + " File " +
                                (dir / "west.nm3") + " NOT found.\n");
    EXPECT_EQ(readFile(dir / "west.nm3"), archive);
}

// Another run holds the file (this test process's own lock stands for it):
// the packer changes nothing, the unpacker opens nothing.
TEST_F(Unshared, AFileAnotherRunHoldsIsLeftAlone) {
    const std::string out = dir / "out.nm3";
    const Bytes older = archiveOf({members[0], members[1]});
    writeFile(out, older);
    for (const int lock : {LOCK_SH, LOCK_EX}) {
        const int held = ::open(out.c_str(), O_RDONLY);
        ASSERT_GE(held, 0);
        ASSERT_EQ(::flock(held, lock), 0);
        const RunResult run = shell("\"$0\" -i:atlas.nti -r:route.nm2 -o:out.nm3 atlas");
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, refused(out));
        EXPECT_EQ(readFile(out), older);
        if (lock == LOCK_EX) {
            const RunResult unpacked = shell("\"$1\" out.nm3");
            EXPECT_EQ(unpacked.status, 1);
            EXPECT_TRUE(unpacked.err.ends_with(" File " + out + " NOT found.\n")) << unpacked.err;
        }
        ::close(held);
    }
    EXPECT_FALSE(stdfs::exists(dir / "out.nm2/index.060.nti"));
}

// A pack writing over an archive while an unpack reads it, again and again:
// whichever comes second is refused, and an unpack that succeeds gives the
// members of one archive, the older or the new, never a mix.
TEST_F(Unshared, APackAndAnUnpackAtOnceNeverMixArchives) {
    const std::string out = dir / "out.nm3";
    // Members long enough for the two runs to overlap.
    const std::vector<Bytes> newMembers{members[0], members[1], memberBytes("MAP2", 17, 4 << 20, 3)};
    writeFile(atlas + "/big.nm2", newMembers[2]);
    const std::vector<Bytes> olderMembers{memberBytes("NIDX", 61, 90000, 5), memberBytes("OLD1", 16, 3 << 20, 6),
                                          memberBytes("OLD2", 16, 100000, 7)};
    const Bytes older = archiveOf(olderMembers);
    const Bytes newer = archiveOf(newMembers);
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        writeFile(out, older);
        stdfs::remove_all(dir / "out.nm2");
        const RunResult run = shell(
            "\"$0\" -i:atlas.nti -r:route.nm2 -o:out.nm3 atlas 2>/dev/null & "
            "\"$1\" out.nm3 2>/dev/null; echo $? >unpacked; wait $!; echo $? >packed");
        ASSERT_EQ(run.status, 0);
        const bool packed = readFile(dir / "packed") == "0\n";
        EXPECT_TRUE(readFile(out) == (packed ? newer : older));
        if (readFile(dir / "unpacked") != "0\n") continue;
        // The index's version names it: 60 the new one's, 61 the older's.
        const bool fromNew = stdfs::exists(dir / "out.nm2/index.060.nti");
        const std::vector<Bytes>& expected = fromNew ? newMembers : olderMembers;
        EXPECT_TRUE(readFile(dir / (fromNew ? "out.nm2/index.060.nti" : "out.nm2/index.061.nti")) == expected[0]);
        EXPECT_TRUE(readFile(dir / "out.nm2/out_00000.nm2") == expected[1]);
        EXPECT_TRUE(readFile(dir / "out.nm2/out_00001.nm2") == expected[2]);
    }
}

}  // namespace
