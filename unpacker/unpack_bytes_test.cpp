// Every truncation and every single-byte change of a few archives the packer
// made, unpacked in memory: each run must give the outcome the bytes call
// for, worked out independently of the unpacker (fuzz/unpack_oracle.h).
#include <gtest/gtest.h>

#include "packer/pack.h"
#include "testing/memory_file_system.h"
#include "testing/recording_guard.h"
#include "testing/scratch.h"
#include "testing/text_transcript.h"
#include "testing/unpack_oracle.h"

namespace {

using namespace testsupport;

// The archive the packer makes of an atlas holding `members` (index and
// route file first).
std::string packed(const std::vector<std::pair<std::string, std::string>>& members) {
    testsupport::MemoryFileSystem files;
    files.setCurrentDir("/");
    for (const auto& [name, bytes] : members) files.addFile("/atlas/" + name, bytes);
    testsupport::TextTranscript transcript;
    testsupport::RecordingGuard guard;
    const cli::Outcome failed = packer::pack(
        packer::Job{members[0].first, members[1].first, "/out.nm3", std::string("/atlas")}, files, transcript, guard);
    return failed ? failed->message : files.bytesOf("/out.nm3").value_or("");
}

TEST(UnpackDamagedArchives, EveryTruncationAndByteChangeGivesTheOutcomeItsBytesCallFor) {
    const std::string archives[] = {
        packed({{"a.nti", memberBytes("NIDX", 60, 5, 1)}, {"r.nm2", memberBytes("RTE1", 16, 3, 2)}}),
        packed({{"a.nti", memberBytes("NIDX", 61, 0, 1)},
                {"r.nm2", memberBytes("RTE1", 16, 7, 2)},
                {"m0.nm2", memberBytes("MAP2", 17, 0, 3)},
                {"m1.nm2", memberBytes("MAP2", 18, 9, 4)}}),
    };
    for (const std::string& archive : archives) {
        ASSERT_TRUE(archive.starts_with("GNM3")) << archive;
        ASSERT_EQ(oracle::checkUnpack(archive), "");
        for (std::size_t size = 0; size < archive.size(); ++size) {
            EXPECT_EQ(oracle::checkUnpack(archive.substr(0, size)), "") << "cut to " << size << " bytes";
        }
        for (std::size_t at = 0; at < archive.size(); ++at) {
            const auto byte = static_cast<unsigned char>(archive[at]);
            for (const unsigned value : {0x00u, 0xFFu, byte ^ 0x01u, byte ^ 0x80u}) {
                std::string changed = archive;
                changed[at] = static_cast<char>(value);
                EXPECT_EQ(oracle::checkUnpack(changed), "") << "byte " << at << " set to " << value;
            }
        }
    }
}

}  // namespace
