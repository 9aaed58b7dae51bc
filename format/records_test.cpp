#include "format/records.h"

#include <gtest/gtest.h>

#include <vector>

#include "testing/scratch.h"

namespace {

using namespace testsupport;

TEST(Records, ArchiveHeaderIsLittleEndian) {
    format::ArchiveHeader header;
    header.offsetFooter = 0x0A0B0C0D;
    const format::ArchiveHeaderBytes bytes = format::encodeArchiveHeader(header);
    EXPECT_EQ(Bytes(bytes.begin(), bytes.end()), Bytes("GNM3\0\0\0\0\x0D\x0C\x0B\x0A", 12));

    format::ArchiveHeaderBytes other = bytes;
    other[4] = 0x7F;  // the reserved field is carried but means nothing
    const format::ArchiveHeader decoded = format::decodeArchiveHeader(other);
    EXPECT_EQ(decoded.tag, format::archiveTag);
    EXPECT_EQ(decoded.offsetFooter, 0x0A0B0C0Du);
}

TEST(Records, MemberHeaderAndFooterEntries) {
    const format::MemberHeader member = format::decodeMemberHeader({'N', 'I', 'D', 'X', 0x3A, 0x01});
    EXPECT_EQ(member.tag, format::indexTag);
    EXPECT_EQ(member.version, 0x013A);

    const format::FooterEntryBytes entry = format::encodeFooterEntry(0xFFFFFFFEu);
    EXPECT_EQ(Bytes(entry.begin(), entry.end()), Bytes("\xFE\xFF\xFF\xFF"));
    EXPECT_EQ(format::decodeFooterEntry(entry.data()), 0xFFFFFFFEu);
}

}  // namespace
