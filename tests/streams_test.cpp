// Both programs run with their standard streams closed, going nowhere, or
// slow to take what is said: the files they write come out exactly as in an
// ordinary run, and what they say is either all there or dropped, never
// written into a file of theirs.
#include <gtest/gtest.h>

#include <filesystem>

#include "testing/archives.h"
#include "testing/run.h"
#include "testing/scratch.h"

namespace {

namespace stdfs = std::filesystem;
using namespace testsupport;
using Errors = RunOptions::Errors;

struct StreamCase {
    const char* name;
    bool unpack;
    std::vector<int> closed;
    Errors errors;
};

void PrintTo(const StreamCase& row, std::ostream* os) { *os << row.name; }

class Streams : public ::testing::TestWithParam<StreamCase> {
protected:
    Streams() {
        stdfs::create_directory(atlas);
        for (std::size_t i = 0; i < members.size(); ++i) testsupport::writeFile(atlas + "/" + names[i], members[i]);
        testsupport::writeFile(archive, archiveOf(members));
    }

    RunResult run(RunOptions options) const {
        options.workingDir = dir.path();
        if (GetParam().unpack) return testsupport::runProgram(UNVESKAL_PATH, {archive}, options);
        return testsupport::runProgram(VESKAL_PATH, {"-i:atlas.nti", "-r:route.nm2", "-o:" + out, atlas}, options);
    }

    // What the run wrote.
    testsupport::Files written() const {
        if (GetParam().unpack) return snapshot(dir / "west.nm2");
        return {{"out.nm3", readFile(out)}};
    }

    testsupport::ScratchDir dir;
    const std::string atlas = dir / "atlas";
    const std::string out = dir / "out.nm3";
    const std::string archive = dir / "west.nm3";
    const std::vector<std::string> names{"atlas.nti", "route.nm2", "big.nm2", "small.nm2"};
    // A member long enough that what was said goes out before it is copied.
    const std::vector<Bytes> members{memberBytes("NIDX", 60, 70, 1), memberBytes("RTE1", 16, 40, 2),
                                     memberBytes("MAP2", 17, 300 * 1024, 3), memberBytes("MAP2", 18, 9, 4)};
};

TEST_P(Streams, FilesComeOutAsInAnOrdinaryRun) {
    const RunResult ordinary = run({});
    ASSERT_EQ(ordinary.status, 0) << ordinary.err;
    const testsupport::Files expected = written();
    stdfs::remove(out);
    stdfs::remove_all(dir / "west.nm2");

    RunOptions options;
    options.closed = GetParam().closed;
    options.errors = GetParam().errors;
    options.timeoutSeconds = 20;
    const RunResult result = run(options);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(written(), expected);
    const bool heard = GetParam().errors == Errors::stalled;
    EXPECT_EQ(result.err, heard ? ordinary.err : "");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Streams,
    ::testing::Values(StreamCase{"PackerWithEveryStreamClosed", false, {0, 1, 2}, Errors::collected},
                      StreamCase{"PackerWithStandardErrorClosed", false, {2}, Errors::collected},
                      StreamCase{"PackerIntoAPipeNobodyReads", false, {}, Errors::brokenPipe},
                      StreamCase{"PackerIntoAFullNonBlockingPipe", false, {}, Errors::stalled},
                      StreamCase{"UnpackerWithInputAndStandardErrorClosed", true, {0, 2}, Errors::collected},
                      StreamCase{"UnpackerIntoAFullNonBlockingPipe", true, {}, Errors::stalled}),
    [](const ::testing::TestParamInfo<StreamCase>& info) { return std::string(info.param.name); });

}  // namespace
