// Reading and writing the archive's records on open files.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "format/records.h"
#include "fs/file_system.h"

namespace archive {

// Seeks to byte 0 and writes the header again with the final offsetFooter.
bool writeFinalHeader(fs::File& archive, std::uint32_t offsetFooter);

// The 12 header bytes from the current position; nullopt when fewer are
// there or the read fails.
std::optional<ArchiveHeader> readArchiveHeader(fs::File& archive);

// The 6-byte member header from the current position; nullopt when fewer are
// there or the read fails.
std::optional<MemberHeaderBytes> readMemberHeader(fs::File& member);

// Reads `count` entries from the current position into `memberStarts`;
// false when fewer are there or the read fails.
bool readFooter(fs::File& archive, std::uint32_t count, std::vector<std::uint32_t>& memberStarts);

}  // namespace archive
