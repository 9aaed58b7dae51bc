// The packer driven through every failure point in memory: for each kind of
// call, the 1st, 2nd, ... call of that kind fails, until a run no longer
// makes that many. A failed run ends after exactly one of the packer's
// messages, its transcript up to it being the start of the run without
// faults, with the atlas as it was, no archive left and nothing written
// after the failure but the archive's own removal. Closing a member it only
// read and a status it can do without must give the run without faults.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>

#include "packer/pack.h"
#include "testing/archives.h"
#include "testing/fault_loop.h"
#include "testing/recording_guard.h"
#include "testing/text_transcript.h"
#include "unpacker/unpack.h"

namespace {

using namespace testsupport;

const std::string out = "/maps/atlas.nm3";

struct PackRun {
    bool failed = false;
    std::string said;  // the transcript, the failure's message included
};

PackRun packOn(fs::FileSystem& files) {
    testsupport::TextTranscript transcript;
    testsupport::RecordingGuard guard;
    const cli::Outcome failed =
        packer::pack(packer::Job{"atlas.nti", "route.nm2", out, std::string("atlas")}, files, transcript, guard);
    return {failed.has_value(), transcript.text() + (failed ? failed->message : "")};
}

std::unique_ptr<testsupport::MemoryFileSystem> atlasOnDisk(const FaultAtlas& atlas) {
    auto files = std::make_unique<testsupport::MemoryFileSystem>();
    files->addDir("/maps");
    files->setCurrentDir("/maps");
    atlas.addTo(*files, "/maps/atlas");
    return files;
}

class PackFaults : public ::testing::TestWithParam<testsupport::CallKind> {};

TEST_P(PackFaults, EveryFailurePointEndsCleanly) {
    const testsupport::CallKind kind = GetParam();
    const FaultAtlas atlas;
    const auto faultlessFiles = atlasOnDisk(atlas);
    const std::map<std::string, std::string> inputs = faultlessFiles->snapshot();
    const PackRun faultless = packOn(*faultlessFiles);
    ASSERT_FALSE(faultless.failed) << faultless.said;
    const std::map<std::string, std::string> packed = faultlessFiles->snapshot();

    std::vector<std::string> paths{out, "/maps/atlas"};
    for (const auto& [name, bytes] : atlas.members) paths.push_back("/maps/atlas/" + name);
    std::vector<std::string> messages = testsupport::messagesFor(
        {" Error: Can't create file: %s\n", " Error open file %s.\n", " Error read nti header file %s.\n",
         " Error read nm2 header file %s.\n", " Error write file %s.\n", " Error read file %s.\n",
         " Path not found: %s\n", " This path is NOT directory: %s\n", " Error: Can't access file: %s\n"},
        paths);
    messages.emplace_back(" Can't locate current working directory\n");
    const std::vector<std::string> archiveRemoval{"truncate " + out, "emptyFile " + out, "remove " + out};

    int failurePoints = 0;
    for (std::uint64_t n = 1;; ++n) {
        ASSERT_LT(n, 1000u) << "the run never runs out of " << testsupport::nameOf(kind) << " calls";
        const auto files = atlasOnDisk(atlas);
        testsupport::FaultyFileSystem faulty(*files, kind, n);
        const PackRun run = packOn(faulty);
        SCOPED_TRACE(std::string(testsupport::nameOf(kind)) + " " + std::to_string(n) + ": " +
                     faulty.fault().value_or(""));
        EXPECT_EQ(files->openFiles(), 0u);
        if (!faulty.fault()) {
            EXPECT_FALSE(run.failed);
            EXPECT_EQ(run.said, faultless.said);
            break;
        }
        ++failurePoints;
        // Closing a member only read loses nothing; a status the run can do
        // without may fail unnoticed, but then the run is the faultless one.
        const bool memberClosed =
            kind == testsupport::CallKind::close && faulty.fault()->find(out) == std::string::npos;
        if (memberClosed || (kind == testsupport::CallKind::status && !run.failed)) {
            EXPECT_FALSE(run.failed) << run.said;
            EXPECT_EQ(run.said, faultless.said);
            EXPECT_EQ(summary(files->snapshot()), summary(packed));
            continue;
        }
        EXPECT_TRUE(run.failed) << run.said;
        testsupport::expectOneMessage(run.said, faultless.said, messages);
        EXPECT_EQ(summary(files->snapshot()), summary(inputs)) << "an input changed, or an archive was left";
        for (const std::string& change : faulty.changesAfterFault()) {
            EXPECT_NE(std::find(archiveRemoval.begin(), archiveRemoval.end(), change), archiveRemoval.end())
                << "written after the failure: " << change;
        }
    }
    // The packer removes only after a failure, so no faultless run does.
    if (kind != testsupport::CallKind::remove) {
        EXPECT_GT(failurePoints, 0) << "no " << testsupport::nameOf(kind) << " call was ever made";
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, PackFaults, ::testing::ValuesIn(testsupport::everyCallKind),
                         [](const auto& info) { return std::string(testsupport::nameOf(info.param)); });

}  // namespace

namespace {

// Whether the unpacker takes `archive` for one.
bool unpacks(const Bytes& archive) {
    testsupport::MemoryFileSystem files;
    files.addFile("/a.nm3", archive);
    testsupport::TextTranscript transcript;
    return !unpacker::unpack(unpacker::Job{"/a.nm3"}, files, transcript);
}

// A run ended at any moment by a signal that can't be caught, the output
// left as it is right then, over an older file: what is left is the older
// file, the new archive, or a file the unpacker refuses, never one it takes
// for an archive of other members. The older files: archives longer and
// shorter than the new one, and one whose bytes past the new archive's end
// would read as one more footer entry.
TEST(PackKilled, AnyMomentLeavesTheOldFileTheNewArchiveOrOneThatIsRefused) {
    const FaultAtlas atlas;
    const auto clean = atlasOnDisk(atlas);
    ASSERT_FALSE(packOn(*clean).failed);
    const Bytes archive = clean->bytesOf(out).value_or("");
    Bytes oneEntryMore = archive + archive.substr(8, 4);
    oneEntryMore[4] = 1;  // the reserved word, which no reader looks at
    const std::vector<Bytes> olderFiles{
        testsupport::archiveOf(
            {memberBytes("NIDX", 60, 900000, 5), memberBytes("OLD1", 16, 400000, 9), memberBytes("OLD2", 16, 5, 8)}),
        testsupport::archiveOf({memberBytes("NIDX", 58, 3, 7), memberBytes("OLD3", 16, 0, 6)}), oneEntryMore};
    ASSERT_TRUE(unpacks(oneEntryMore));
    for (const Bytes& older : olderFiles) {
        SCOPED_TRACE(older.size());
        const auto files = atlasOnDisk(atlas);
        files->addFile(out, older);
        std::set<Bytes> leftovers;
        testsupport::FaultyFileSystem watched(*files, testsupport::CallKind::open, 0);
        watched.beforeEveryCall([&] { leftovers.insert(files->bytesOf(out).value_or("")); });
        const PackRun run = packOn(watched);
        ASSERT_FALSE(run.failed) << run.said;
        ASSERT_EQ(files->bytesOf(out), archive);
        EXPECT_GT(leftovers.size(), 2u);
        for (const Bytes& leftover : leftovers) {
            if (leftover == older || leftover == archive) continue;
            EXPECT_FALSE(unpacks(leftover)) << "a leftover of " << leftover.size() << " bytes unpacks";
        }
    }
}

}  // namespace
