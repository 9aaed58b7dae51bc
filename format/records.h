// The NM3 archive's records: the 12-byte archive header, the 6-byte header
// that opens every member file, and the 4-byte footer entries. All integers
// are little-endian; offsets count from the first byte after the header.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace format {

using Tag = std::array<unsigned char, 4>;

inline constexpr Tag archiveTag{'G', 'N', 'M', '3'};
inline constexpr Tag indexTag{'N', 'I', 'D', 'X'};

inline constexpr std::size_t archiveHeaderSize = 12;
inline constexpr std::size_t memberHeaderSize = 6;
inline constexpr std::size_t footerEntrySize = 4;

// Offsets are unsigned 32-bit, so all members together hold at most this
// many bytes.
inline constexpr std::uint64_t maxPayload = 0xFFFFFFFFu;

inline constexpr std::uint16_t minIndexVersion = 58;
inline constexpr std::uint16_t minNm2Version = 16;

struct ArchiveHeader {
    Tag tag = archiveTag;
    std::uint32_t reserved = 0;
    std::uint32_t offsetFooter = 0;
};

struct MemberHeader {
    Tag tag{};
    std::uint16_t version = 0;
};

using ArchiveHeaderBytes = std::array<unsigned char, archiveHeaderSize>;
using MemberHeaderBytes = std::array<unsigned char, memberHeaderSize>;
using FooterEntryBytes = std::array<unsigned char, footerEntrySize>;

[[nodiscard]] ArchiveHeaderBytes encodeArchiveHeader(const ArchiveHeader& header);
[[nodiscard]] ArchiveHeader decodeArchiveHeader(const ArchiveHeaderBytes& bytes);

[[nodiscard]] MemberHeader decodeMemberHeader(const MemberHeaderBytes& bytes);

[[nodiscard]] FooterEntryBytes encodeFooterEntry(std::uint32_t offset);
[[nodiscard]] std::uint32_t decodeFooterEntry(const unsigned char* bytes);

}  // namespace format
