// Reads and checks what an archive says of itself before any member is
// copied: its header, its size, its footer and the index member's header.
// It says nothing: the caller tells what was found, and the fault if there
// is one.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "fs/file_system.h"

namespace unpacker {

// Where reading stopped; `none` when the archive passed every check.
enum class ArchiveFault {
    none,
    seekStart,         // can't go to byte 0
    shortHeader,       // fewer than 12 bytes
    notArchive,        // the tag is not "GNM3"
    seekEnd,           // the size can't be had
    badFileSize,       // no room for the members and a footer
    badFooterSize,     // the footer counts no entry, or more than 32 bits can
    noTableMemory,     // the footer's entries can't be held
    seekFooter,        // can't go to the footer
    shortFooter,       // the footer ends early
    invalidFooter,     // its entries are out of order or past the members
    seekIndexFirst,    // can't go to the index member
    shortIndexHeader,  // the index member has no whole header
    badIndexTag,       // its tag is not "NIDX"
    seekIndexSecond,   // can't go back to its first byte
    stopped,           // the caller's visit of the member ends stopped the reading
};

// What was found, as far as reading got: the tag once `tagChecked`, the
// size once `sized`, the footer's count once `counted`, and the rest when
// there is no fault.
struct ArchiveLayout {
    ArchiveFault fault = ArchiveFault::none;
    bool tagChecked = false;
    bool sized = false;
    bool counted = false;
    std::uint64_t fileSize = 0;
    std::uint64_t footerSize = 0;
    std::uint32_t offsetFooter = 0;
    // The footer's member starts, then offsetFooter as the last entry: entry
    // j is where member j ends (0 the index, k + 1 nm2 member k).
    std::vector<std::uint32_t> memberStarts;
    std::uint16_t indexVersion = 0;
};

// Reads `archive` from byte 0 and leaves it at the index member's first
// byte. A hostile footer costs no more memory than the part of it read
// before it is refused.
[[nodiscard]] ArchiveLayout readArchive(fs::File& archive);

// What a reading does with the member ends: a piece of them at a time, in
// order, each piece checked (entry j is where member j ends; the last piece
// is offsetFooter alone). Anything but `none` ends the reading with it.
using MemberEnds = std::function<ArchiveFault(const std::vector<std::uint32_t>& ends)>;

// Reads and checks `archive` as readArchive does, but hands the member ends
// to `visit` instead of keeping them, so that its memory stays the same
// whatever the footer's length; `visit` may read anywhere in the archive.
// `memberStarts` stays empty.
[[nodiscard]] ArchiveLayout scanArchive(fs::File& archive, const MemberEnds& visit);

// The length of member m (0 the index, k + 1 nm2 member k).
[[nodiscard]] inline std::uint64_t memberLength(const std::vector<std::uint32_t>& memberStarts, std::size_t m) {
    return memberStarts[m] - (m == 0 ? 0 : memberStarts[m - 1]);
}

}  // namespace unpacker
