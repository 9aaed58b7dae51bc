// From the archive's size and header to the extents of its members.
#pragma once

#include <cstdint>
#include <vector>

namespace unpacker {

// Whether the file has room for the header, the members and at least one
// byte after them.
bool membersFit(std::uint64_t fileSize, std::uint32_t offsetFooter);

// The number of footer entries that the bytes after the members are taken
// to hold: with L such bytes, (L + 1) / 4, so a footer one byte short of a
// whole entry still counts it. Only meaningful when membersFit.
std::uint64_t footerSizeOf(std::uint64_t fileSize, std::uint32_t offsetFooter);

// Whether the member starts, with offsetFooter appended as the last entry,
// never decrease: then every member lies inside the payload in order and
// every length is the difference of two neighbouring entries.
bool footerInOrder(const std::vector<std::uint32_t>& memberStarts);

}  // namespace unpacker
