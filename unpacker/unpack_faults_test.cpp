// The unpacker driven through every failure point in memory, into a fresh
// folder and into a used one whose old files must go and whose sub-folder
// stays: for each kind of call, the 1st, 2nd, ... call fails, until a run no
// longer makes that many. A failed run ends after exactly one of the
// unpacker's messages, its transcript up to it being the start of the run
// without faults, with the archive as it was, no old file left and nothing
// written after the failure. A folder that can't be listed or emptied, and a
// status the run can do without, must give the run without faults (old
// files that couldn't go aside).
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <tuple>

#include "packer/pack.h"
#include "testing/fault_loop.h"
#include "testing/recording_guard.h"
#include "testing/text_transcript.h"
#include "unpacker/unpack.h"

namespace {

using Tree = std::map<std::string, std::string>;

const std::string archivePath = "/maps/west.nm3";
const std::string folder = "/maps/west.nm2";

struct UnpackRun {
    bool failed = false;
    std::string said;
};

UnpackRun unpackOn(fs::FileSystem& files) {
    testsupport::TextTranscript transcript;
    const cli::Outcome failed = unpacker::unpack(unpacker::Job{"west.nm3"}, files, transcript);
    return {failed.has_value(), transcript.text() + (failed ? failed->message : "")};
}

// The archive the packer makes of the atlas.
std::string packed(const testsupport::FaultAtlas& atlas) {
    testsupport::MemoryFileSystem files;
    files.setCurrentDir("/");
    atlas.addTo(files, "/atlas");
    testsupport::TextTranscript transcript;
    testsupport::RecordingGuard guard;
    const cli::Outcome failed = packer::pack(packer::Job{"atlas.nti", "route.nm2", "/west.nm3", std::string("/atlas")},
                                             files, transcript, guard);
    return failed ? failed->message : files.bytesOf("/west.nm3").value_or("");
}

enum class Folder { fresh, used };

const Tree stale{{folder + "/west_00003.nm2", "old"}, {folder + "/notes.txt", "old"}};

class UnpackFaults : public ::testing::TestWithParam<std::tuple<testsupport::CallKind, Folder>> {};

TEST_P(UnpackFaults, EveryFailurePointEndsCleanly) {
    const auto [kind, folderState] = GetParam();
    const testsupport::FaultAtlas atlas;
    const std::string archive = packed(atlas);
    const auto prepared = [&] {
        auto files = std::make_unique<testsupport::MemoryFileSystem>();
        files->addFile(archivePath, archive);
        files->setCurrentDir("/maps");
        if (folderState == Folder::used) {
            files->addDir(folder + "/kept");
            for (const auto& [path, bytes] : stale) files->addFile(path, bytes);
        }
        return files;
    };
    // Members in the packer's order: index, route file, then by name.
    Tree extracted{{"/maps", "<dir>"},
                   {archivePath, archive},
                   {folder, "<dir>"},
                   {folder + "/index.060.nti", atlas.members[0].second},
                   {folder + "/west_00000.nm2", atlas.members[1].second},
                   {folder + "/west_00001.nm2", atlas.members[2].second},
                   {folder + "/west_00002.nm2", atlas.members[3].second}};
    if (folderState == Folder::used) extracted[folder + "/kept"] = "<dir>";

    const auto faultlessFiles = prepared();
    const UnpackRun faultless = unpackOn(*faultlessFiles);
    ASSERT_FALSE(faultless.failed) << faultless.said;
    ASSERT_EQ(testsupport::summary(faultlessFiles->snapshot()), testsupport::summary(extracted));

    // The name given shows when the archive's full path can't be formed.
    std::vector<std::string> paths{archivePath, "west.nm3"};
    for (const char* name : {"/index.060.nti", "/west_00000.nm2", "/west_00001.nm2", "/west_00002.nm2"}) {
        paths.push_back(folder + name);
    }
    std::vector<std::string> messages = testsupport::messagesFor(
        {" File %s NOT found.\n", " Error seek 0 file %s.\n", " Error reading header file %s.\n",
         " Error seek SEEK_END file %s.\n", " Error seek offsetFooter file %s.\n", " Error read footer file %s.\n",
         " Error seek nti-begin (1) file %s.\n", " Error fread nti header file %s.\n",
         " Error seek nti-begin (2) file %s.\n", " File %s NOT created.\n", " Error write file %s.\n",
         " Error read file %s.\n"},
        paths);
    messages.emplace_back(" This path is NOT directory.\n");

    int failurePoints = 0;
    for (std::uint64_t n = 1;; ++n) {
        ASSERT_LT(n, 1000u) << "the run never runs out of " << testsupport::nameOf(kind) << " calls";
        const auto files = prepared();
        testsupport::FaultyFileSystem faulty(*files, kind, n);
        const UnpackRun run = unpackOn(faulty);
        SCOPED_TRACE(std::string(testsupport::nameOf(kind)) + " " + std::to_string(n) + ": " +
                     faulty.fault().value_or(""));
        EXPECT_EQ(files->openFiles(), 0u);
        EXPECT_EQ(files->bytesOf(archivePath), archive) << "the archive changed";
        const Tree left = files->snapshot();
        if (!faulty.fault()) {
            EXPECT_FALSE(run.failed);
            EXPECT_EQ(run.said, faultless.said);
            break;
        }
        ++failurePoints;
        Tree staleLeft;
        for (const auto& [path, bytes] : stale) {
            if (left.count(path) != 0) staleLeft.insert({path, bytes});
        }
        // Emptying passes over what it can't list or delete.
        const bool emptying = kind == testsupport::CallKind::list || kind == testsupport::CallKind::remove;
        const bool archiveClosed = kind == testsupport::CallKind::close && faulty.fault()->ends_with(archivePath);
        if (emptying || archiveClosed || (kind == testsupport::CallKind::status && !run.failed)) {
            EXPECT_FALSE(run.failed) << run.said;
            EXPECT_EQ(run.said, faultless.said);
            if (emptying && folderState == Folder::used) {
                EXPECT_FALSE(staleLeft.empty()) << "old files went after all";
            }
            Tree expected = extracted;
            expected.insert(staleLeft.begin(), staleLeft.end());
            EXPECT_EQ(testsupport::summary(left), testsupport::summary(expected));
            continue;
        }
        EXPECT_TRUE(run.failed) << run.said;
        testsupport::expectOneMessage(run.said, faultless.said, messages);
        EXPECT_EQ(faulty.changesAfterFault(), std::vector<std::string>{}) << "written after the failure";
        // A run that failed before emptying the folder leaves it whole.
        EXPECT_TRUE(staleLeft.empty() || staleLeft == stale) << "some old files stayed";
        // What was extracted before the failure stays as it was written.
        for (const auto& [path, bytes] : left) {
            if (path.starts_with(folder + "/") && bytes != "<dir>" && extracted.count(path) != 0) {
                EXPECT_TRUE(extracted.at(path).starts_with(bytes)) << path;
            }
        }
    }
    if (kind != testsupport::CallKind::remove || folderState == Folder::used) {
        EXPECT_GT(failurePoints, 0) << "no " << testsupport::nameOf(kind) << " call was ever made";
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, UnpackFaults,
                         ::testing::Combine(::testing::ValuesIn(testsupport::everyCallKind),
                                            ::testing::Values(Folder::fresh, Folder::used)),
                         [](const auto& info) {
                             return std::string(testsupport::nameOf(std::get<0>(info.param))) +
                                    (std::get<1>(info.param) == Folder::fresh ? "_freshFolder" : "_usedFolder");
                         });

}  // namespace
