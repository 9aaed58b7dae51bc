// Both programs with one allocation failing, for every allocation a run
// makes: the run ends with its one message for memory, having left no
// archive bytes, no file open and no output registered for an interrupt;
// the packer's inputs and the unpacker's archive stay as they were. Its own
// program, as it replaces operator new for the whole process.
#include <gtest/gtest.h>

#include "packer/pack.h"
#include "testing/allocations.h"
#include "testing/archives.h"
#include "testing/fault_loop.h"
#include "testing/memory_file_system.h"
#include "testing/recording_guard.h"
#include "testing/text_transcript.h"
#include "unpacker/unpack.h"

namespace {

using namespace testsupport;

struct Said {
    bool failed = false;
    std::string said;
};

Said saidOf(const testsupport::TextTranscript& transcript, const cli::Outcome& failed) {
    return {failed.has_value(), transcript.text() + (failed ? failed->message : "")};
}

std::unique_ptr<testsupport::MemoryFileSystem> tree(const FaultAtlas& atlas, const std::string& old) {
    auto files = std::make_unique<testsupport::MemoryFileSystem>();
    files->setCurrentDir("/maps");
    atlas.addTo(*files, "/maps/atlas");
    files->addFile("/maps/atlas.nm3", old);
    return files;
}

// Runs `procedure` on a fresh tree with allocation 1, 2, ... failing until
// a run no longer makes that many; `check` sees each failed run.
template <typename Make, typename Procedure, typename Check>
void everyAllocationFails(Make make, Procedure procedure, Check check) {
    const auto clean = make();
    testsupport::TextTranscript cleanTranscript;
    testsupport::RecordingGuard cleanGuard;
    const cli::Outcome cleanOutcome = procedure(*clean, cleanTranscript, cleanGuard);
    const Said faultless = saidOf(cleanTranscript, cleanOutcome);
    ASSERT_FALSE(faultless.failed) << faultless.said;
    int failures = 0;
    for (std::uint64_t n = 1;; ++n) {
        ASSERT_LT(n, 100000u);
        const auto files = make();
        testsupport::TextTranscript transcript;
        testsupport::RecordingGuard guard;
        cli::Outcome outcome;
        bool failed = false;
        {
            const FailingAllocation failing(n);
            outcome = procedure(*files, transcript, guard);
            failed = failing.failed();
        }
        const Said run = saidOf(transcript, outcome);
        SCOPED_TRACE("allocation " + std::to_string(n));
        EXPECT_EQ(files->openFiles(), 0u);
        EXPECT_TRUE(guard.guarded().empty());
        if (!failed) {
            EXPECT_EQ(run.said, faultless.said);
            break;
        }
        ++failures;
        check(run, faultless, *files);
    }
    EXPECT_GT(failures, 10);
}

TEST(ShortOfMemory, ThePackerEndsWithItsMessageAndLeavesNoArchive) {
    const FaultAtlas atlas;
    const std::string older = "an older archive";
    const std::string inputs = summary(tree(atlas, older)->snapshot());
    const auto withoutOutput = [](std::map<std::string, std::string> files) {
        files.erase("/maps/atlas.nm3");
        return summary(files);
    };
    everyAllocationFails(
        [&] { return tree(atlas, older); },
        [](fs::FileSystem& files, cli::Transcript& transcript, packer::OutputGuard& guard) {
            return packer::pack(packer::Job{"atlas.nti", "route.nm2", "/maps/atlas.nm3", std::string("atlas")}, files,
                                transcript, guard);
        },
        [&](const Said& run, const Said& faultless, testsupport::MemoryFileSystem& files) {
            EXPECT_TRUE(run.failed);
            testsupport::expectOneMessage(run.said, faultless.said,
                                          {" Error allocate memory for footer file /maps/atlas.nm3.\n"});
            // The older archive is there as it was, or gone.
            const std::optional<std::string> output = files.bytesOf("/maps/atlas.nm3");
            if (output) {
                EXPECT_EQ(*output, older);
                EXPECT_EQ(summary(files.snapshot()), inputs);
            } else {
                EXPECT_EQ(withoutOutput(files.snapshot()), withoutOutput(tree(atlas, older)->snapshot()));
            }
        });
}

TEST(ShortOfMemory, TheUnpackerEndsWithItsMessageAndLeavesTheArchive) {
    const FaultAtlas atlas;
    std::vector<testsupport::Bytes> members;
    for (const auto& [name, bytes] : atlas.members) members.push_back(bytes);
    const testsupport::Bytes archive = testsupport::archiveOf(members);
    everyAllocationFails([&] { return tree(atlas, archive); },
                         [](fs::FileSystem& files, cli::Transcript& transcript, packer::OutputGuard&) {
                             return unpacker::unpack(unpacker::Job{"atlas.nm3"}, files, transcript);
                         },
                         [&](const Said& run, const Said& faultless, testsupport::MemoryFileSystem& files) {
                             EXPECT_TRUE(run.failed);
                             testsupport::expectOneMessage(run.said, faultless.said,
                                                           {" Error allocate memory for footer file /maps/atlas.nm3.\n",
                                                            " Error allocate memory for footer file atlas.nm3.\n"});
                             EXPECT_EQ(files.bytesOf("/maps/atlas.nm3"), archive);
                         });
}

}  // namespace
