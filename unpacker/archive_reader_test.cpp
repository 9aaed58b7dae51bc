// What the reader finds in archives whole and damaged, as far as it gets.
#include "unpacker/archive_reader.h"

#include <gtest/gtest.h>

#include "testing/archives.h"
#include "testing/memory_file_system.h"

namespace {

using namespace testsupport;
using unpacker::ArchiveFault;

unpacker::ArchiveLayout read(const Bytes& bytes) {
    testsupport::MemoryFileSystem files;
    files.addFile("/a.nm3", bytes);
    const std::unique_ptr<fs::File> file = files.openRead("/a.nm3", nullptr);
    return unpacker::readArchive(*file);
}

TEST(ArchiveReader, FindsAsMuchAsTheBytesHold) {
    const Bytes nti = memberBytes("NIDX", 61, 2);
    const Bytes route = memberBytes("RTE1", 16, 4);
    struct Row {
        Bytes bytes;
        ArchiveFault fault;
        int stepsSaid;  // 0 nothing, 1 the tag, 2 and the size, 3 and the count
        std::uint64_t footerSize;
    };
    const Row rows[] = {
        {archiveOf({nti, route}), ArchiveFault::none, 3, 1},
        {Bytes("GNM3\0\0\0\0\0\0\0", 11), ArchiveFault::shortHeader, 0, 0},
        {"GNM4" + archiveOf({nti, route}).substr(4), ArchiveFault::notArchive, 0, 0},
        {headerOf(20) + nti + route, ArchiveFault::badFileSize, 2, 0},
        {headerOf(18) + nti + route + "ab", ArchiveFault::badFooterSize, 3, 0},
        {headerOf(18) + nti + route + Bytes("\x08\0\0", 3), ArchiveFault::shortFooter, 3, 1},
        {headerOf(18) + nti + route + u32le(19), ArchiveFault::invalidFooter, 3, 1},
        {headerOf(0) + u32le(0), ArchiveFault::shortIndexHeader, 3, 1},
        {archiveOf({memberBytes("NIDY", 61, 2), route}), ArchiveFault::badIndexTag, 3, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.bytes.size());
        const unpacker::ArchiveLayout layout = read(row.bytes);
        EXPECT_EQ(layout.fault, row.fault);
        EXPECT_EQ(int{layout.tagChecked} + int{layout.sized} + int{layout.counted}, row.stepsSaid);
        if (row.stepsSaid >= 2) {
            EXPECT_EQ(layout.fileSize, row.bytes.size());
        }
        EXPECT_EQ(layout.footerSize, row.footerSize);
    }
    const unpacker::ArchiveLayout whole = read(archiveOf({nti, route}));
    EXPECT_EQ(whole.memberStarts, (std::vector<std::uint32_t>{8, 18}));
    EXPECT_EQ(whole.indexVersion, 61);
}

// A footer longer than one piece that is read at a time, whole and with its
// last entry out of order.
TEST(ArchiveReader, ReadsALongFooterPieceByPiece) {
    std::vector<Bytes> members{memberBytes("NIDX", 60, 0)};
    for (int k = 0; k < 40000; ++k) members.push_back(memberBytes("MMMM", 16, k % 3));
    const Bytes bytes = archiveOf(members);
    const unpacker::ArchiveLayout layout = read(bytes);
    ASSERT_EQ(layout.fault, ArchiveFault::none);
    ASSERT_EQ(layout.memberStarts.size(), 40001u);
    EXPECT_EQ(unpacker::memberLength(layout.memberStarts, 0), 6u);
    EXPECT_EQ(unpacker::memberLength(layout.memberStarts, 40000), 6u + 39999 % 3);
    Bytes disordered = bytes;
    disordered.replace(disordered.size() - 4, 4, u32le(5));
    EXPECT_EQ(read(disordered).fault, ArchiveFault::invalidFooter);
}

}  // namespace
