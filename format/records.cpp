#include "format/records.h"

#include <algorithm>

namespace format {

namespace {

void putU32(unsigned char* out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<unsigned char>(value >> (8 * i));
}

std::uint32_t getU32(const unsigned char* in) {
    return std::uint32_t{in[0]} | std::uint32_t{in[1]} << 8 | std::uint32_t{in[2]} << 16 | std::uint32_t{in[3]} << 24;
}

}  // namespace

ArchiveHeaderBytes encodeArchiveHeader(const ArchiveHeader& header) {
    ArchiveHeaderBytes bytes{};
    std::copy(header.tag.begin(), header.tag.end(), bytes.begin());
    putU32(bytes.data() + 4, header.reserved);
    putU32(bytes.data() + 8, header.offsetFooter);
    return bytes;
}

ArchiveHeader decodeArchiveHeader(const ArchiveHeaderBytes& bytes) {
    ArchiveHeader header;
    std::copy(bytes.begin(), bytes.begin() + 4, header.tag.begin());
    header.reserved = getU32(bytes.data() + 4);
    header.offsetFooter = getU32(bytes.data() + 8);
    return header;
}

MemberHeader decodeMemberHeader(const MemberHeaderBytes& bytes) {
    MemberHeader header;
    std::copy(bytes.begin(), bytes.begin() + 4, header.tag.begin());
    header.version = static_cast<std::uint16_t>(bytes[4] | bytes[5] << 8);
    return header;
}

FooterEntryBytes encodeFooterEntry(std::uint32_t offset) {
    FooterEntryBytes bytes{};
    putU32(bytes.data(), offset);
    return bytes;
}

std::uint32_t decodeFooterEntry(const unsigned char* bytes) { return getU32(bytes); }

}  // namespace format
