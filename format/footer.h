// From the archive's size and header to the extents of its members.
#pragma once

#include <cstdint>
#include <vector>

namespace format {

// Footer entries are counted in 32 bits: a file large enough to claim more
// claims too many.
inline constexpr std::uint64_t maxFooterSize = 0xFFFFFFFFu;

// Whether the file has room for the header, the members and at least one
// byte after them.
[[nodiscard]] bool membersFit(std::uint64_t fileSize, std::uint32_t offsetFooter);

// The number of footer entries that the bytes after the members are taken
// to hold: with L such bytes, (L + 1) / 4, so a footer one byte short of a
// whole entry still counts it. Only meaningful when membersFit.
[[nodiscard]] std::uint64_t footerSizeOf(std::uint64_t fileSize, std::uint32_t offsetFooter);

// Whether the file holds every byte of the footer's `footerSize` entries;
// false when the last one is cut short.
[[nodiscard]] bool footerComplete(std::uint64_t fileSize, std::uint32_t offsetFooter, std::uint64_t footerSize);

// Follows the footer's member starts piece by piece, so that a footer out of
// order is found without holding more of it than has been read. The starts,
// with offsetFooter appended as the last entry, must never decrease: then
// every member lies inside the payload in order and every length is the
// difference of two neighbouring entries.
struct FooterOrder {
    std::uint32_t offsetFooter = 0;
    std::uint32_t previous = 0;  // the last start seen
};

// Whether `starts`, the next entries of the footer, keep it in order.
[[nodiscard]] bool continuesInOrder(FooterOrder& order, const std::vector<std::uint32_t>& starts);

}  // namespace format
