#include <gtest/gtest.h>

#include <vector>

#include "format/io.h"
#include "format/records.h"
#include "fs/memory_file_system.h"
#include "support/scratch.h"

namespace {

using testsupport::Bytes;

TEST(Records, ArchiveHeaderIsLittleEndian) {
    archive::ArchiveHeader header;
    header.offsetFooter = 0x0A0B0C0D;
    const archive::ArchiveHeaderBytes bytes = archive::encodeArchiveHeader(header);
    EXPECT_EQ(Bytes(bytes.begin(), bytes.end()), Bytes("GNM3\0\0\0\0\x0D\x0C\x0B\x0A", 12));

    archive::ArchiveHeaderBytes other = bytes;
    other[4] = 0x7F;  // the reserved field is carried but means nothing
    const archive::ArchiveHeader decoded = archive::decodeArchiveHeader(other);
    EXPECT_EQ(decoded.tag, archive::archiveTag);
    EXPECT_EQ(decoded.offsetFooter, 0x0A0B0C0Du);
}

TEST(Records, MemberHeaderAndFooterEntries) {
    const archive::MemberHeader member = archive::decodeMemberHeader({'N', 'I', 'D', 'X', 0x3A, 0x01});
    EXPECT_EQ(member.tag, archive::indexTag);
    EXPECT_EQ(member.version, 0x013A);

    const archive::FooterEntryBytes entry = archive::encodeFooterEntry(0xFFFFFFFEu);
    EXPECT_EQ(Bytes(entry.begin(), entry.end()), Bytes("\xFE\xFF\xFF\xFF"));
    EXPECT_EQ(archive::decodeFooterEntry(entry.data()), 0xFFFFFFFEu);
}

TEST(ArchiveIo, HeaderAndFooterRoundTripThroughAFile) {
    fs::MemoryFileSystem files;
    const std::string path = "/a.nm3";
    const std::unique_ptr<fs::File> file = files.create(path);
    ASSERT_TRUE(file);
    // More entries than one read piece holds.
    std::vector<std::uint32_t> starts;
    for (std::uint32_t i = 0; i < 40000; ++i) starts.push_back(i * 7 + 6);
    const archive::ArchiveHeaderBytes provisional = archive::encodeArchiveHeader({});
    ASSERT_TRUE(file->write(provisional.data(), provisional.size()));
    for (const std::uint32_t start : starts) {
        const archive::FooterEntryBytes entry = archive::encodeFooterEntry(start);
        ASSERT_TRUE(file->write(entry.data(), entry.size()));
    }
    ASSERT_TRUE(archive::writeFinalHeader(*file, 123456));

    ASSERT_TRUE(file->seek(0));
    const std::optional<archive::ArchiveHeader> header = archive::readArchiveHeader(*file);
    ASSERT_TRUE(header);
    EXPECT_EQ(header->offsetFooter, 123456u);
    std::vector<std::uint32_t> read;
    ASSERT_TRUE(archive::readFooter(*file, static_cast<std::uint32_t>(starts.size()), read));
    EXPECT_EQ(read, starts);

    // A footer that claims one entry more than the file holds.
    ASSERT_TRUE(file->seek(archive::archiveHeaderSize));
    EXPECT_FALSE(archive::readFooter(*file, static_cast<std::uint32_t>(starts.size() + 1), read));
    ASSERT_TRUE(file->close());
    EXPECT_EQ(files.bytesOf(path)->size(), 12 + 4 * starts.size());
}

TEST(ArchiveIo, ShortHeadersAreReported) {
    fs::MemoryFileSystem files;
    files.addFile("/short", Bytes("GNM3\0\0\0\0\0\0\0", 11));
    const std::unique_ptr<fs::File> file = files.openRead("/short", nullptr);
    ASSERT_TRUE(file);
    EXPECT_FALSE(archive::readArchiveHeader(*file));
    ASSERT_TRUE(file->seek(6));
    EXPECT_FALSE(archive::readMemberHeader(*file));
    ASSERT_TRUE(file->seek(5));
    EXPECT_TRUE(archive::readMemberHeader(*file));
}

}  // namespace
