// The packer interrupted right after every system call of every kind, in a
// test build (see inject.cpp) whose Nth call of a kind is followed by SIGINT:
// the signal needs a real process. Every other failure point of both
// programs is tried in-process (packer/pack_faults_test.cpp,
// unpacker/unpack_faults_test.cpp).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "testing/archives.h"
#include "testing/run.h"
#include "testing/scratch.h"

namespace {

namespace stdfs = std::filesystem;
using namespace testsupport;

RunResult runInterrupted(const std::vector<std::string>& args, const std::string& plan) {
    ::setenv("VESKAL_INTERRUPT", plan.c_str(), 1);
    RunResult result = testsupport::runProgram(VESKAL_FAULTS_PATH, args, testsupport::timeoutAfter(30));
    ::unsetenv("VESKAL_INTERRUPT");
    return result;
}

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

// A small atlas, with one member large enough for the copy from file to file.
struct Atlas {
    Atlas() {
        stdfs::create_directory(folder);
        stdfs::create_directory(folder + "/maps.nm2");
        for (const auto& [name, bytes] : members) writeFile(folder + "/" + name, bytes);
    }

    testsupport::ScratchDir dir;
    const std::string folder = dir / "atlas";
    const std::vector<std::pair<std::string, Bytes>> members{
        {"atlas.nti", memberBytes("NIDX", 60, 700, 1)},
        {"route.nm2", memberBytes("RTE1", 16, 40, 2)},
        {"big.nm2", memberBytes("MAP2", 17, 300 * 1024, 3)},
        {"small.nm2", memberBytes("MAP2", 18, 0, 4)},
    };
};

// An interrupt right after every call of every kind, writes to the standard
// error stream included: the run ends with status 1 and its transcript up to
// then followed by " Interrupted." once, nothing said twice; the older file
// at the output's name is either untouched or gone, never emptied or left
// holding an archive, and no other name of it keeps any bytes.
class PackerInterrupts : public ::testing::TestWithParam<const char*> {
protected:
    Atlas atlas;
};

TEST_P(PackerInterrupts, NoMomentLeavesAnArchiveOrAnEmptiedFile) {
    const std::string kind = GetParam();
    const std::string out = atlas.dir / "atlas.nm3";
    const std::string otherName = atlas.dir / "other-name";
    const std::vector<std::string> args{"-i:atlas.nti", "-r:route.nm2", "-o:" + out, atlas.folder};
    const Files inputs = snapshot(atlas.folder);
    const Bytes older = "an older archive";
    const auto prepare = [&] {
        stdfs::remove(out);
        stdfs::remove(otherName);
        writeFile(out, older);
        stdfs::create_hard_link(out, otherName);
    };

    prepare();
    const RunResult faultless = runInterrupted(args, "none:0");
    ASSERT_EQ(faultless.status, 0) << faultless.err;
    const std::string interrupted = " Interrupted.\n";

    int interruptions = 0;
    for (int n = 1;; ++n) {
        ASSERT_LT(n, 500) << "the run never runs out of " << kind << " calls";
        prepare();
        const RunResult run = runInterrupted(args, kind + ":" + std::to_string(n));
        SCOPED_TRACE(kind + ":" + std::to_string(n));
        EXPECT_FALSE(run.timedOut);
        EXPECT_EQ(snapshot(atlas.folder), inputs) << "an input changed";
        if (run.status == 0) {
            EXPECT_EQ(run.err, faultless.err);
            break;
        }
        ++interruptions;
        EXPECT_EQ(run.status, 1) << run.err;
        ASSERT_TRUE(run.err.ends_with(interrupted)) << run.err;
        EXPECT_EQ(occurrences(run.err, interrupted), 1u) << run.err;
        const std::string before = run.err.substr(0, run.err.size() - interrupted.size());
        EXPECT_EQ(faultless.err.compare(0, before.size(), before), 0) << "said twice or astray:\n" << run.err;
        const Bytes other = readFile(otherName);
        if (stdfs::exists(out)) {
            EXPECT_EQ(readFile(out), older) << "emptied or rewritten, and left";
        } else {
            EXPECT_EQ(other, "") << "another name keeps the archive's bytes";
        }
    }
    EXPECT_GT(interruptions, 0) << "no " << kind << " call was ever made";
}

INSTANTIATE_TEST_SUITE_P(Kinds, PackerInterrupts,
                         ::testing::Values("open", "create", "read", "write", "seek", "close", "list", "say"));

// The output's name a link that leads nowhere yet: the file the run makes
// at its end is gone after an interrupt at any moment, as after a failure.
TEST(PackerInterruptsThroughALink, TheFileMadeAtTheLinksEndIsRemoved) {
    Atlas atlas;
    const std::string link = atlas.dir / "atlas.nm3";
    const std::string made = atlas.dir / "made.nm3";
    stdfs::create_symlink("made.nm3", link);
    const std::vector<std::string> args{"-i:atlas.nti", "-r:route.nm2", "-o:" + link, atlas.folder};
    for (const char* kind : {"create", "write", "say"}) {
        for (int n = 1;; ++n) {
            ASSERT_LT(n, 500);
            stdfs::remove(made);
            if (!stdfs::is_symlink(link)) stdfs::create_symlink("made.nm3", link);
            const RunResult run = runInterrupted(args, kind + (":" + std::to_string(n)));
            SCOPED_TRACE(kind + (":" + std::to_string(n)));
            if (run.status == 0) break;
            EXPECT_EQ(run.status, 1) << run.err;
            EXPECT_FALSE(stdfs::exists(made)) << "the file made through the link is left";
        }
    }
}

}  // namespace
