#include "unpacker/archive_reader.h"

#include <algorithm>
#include <new>
#include <optional>

#include "format/footer.h"
#include "format/records.h"

namespace unpacker {

namespace {

// Footer entries read and checked at a time.
constexpr std::uint64_t footerPiece = 16384;

// Exactly `size` bytes from the current position; false when fewer are
// there or the read fails.
[[nodiscard]] bool readWhole(fs::File& file, unsigned char* bytes, std::size_t size) {
    const std::optional<std::size_t> got = file.read(bytes, size);
    return got && *got == size;
}

// The header and its tag.
[[nodiscard]] ArchiveFault readHeader(fs::File& archive, ArchiveLayout& layout) {
    if (!archive.seek(0)) return ArchiveFault::seekStart;
    format::ArchiveHeaderBytes bytes{};
    if (!readWhole(archive, bytes.data(), bytes.size())) return ArchiveFault::shortHeader;
    const format::ArchiveHeader header = format::decodeArchiveHeader(bytes);
    if (header.tag != format::archiveTag) return ArchiveFault::notArchive;
    layout.tagChecked = true;
    layout.offsetFooter = header.offsetFooter;
    return ArchiveFault::none;
}

// The footer's length from the file's size, then the footer, read and
// checked in pieces: the table grows only by entries found in order, so a
// huge footer is refused at its first wrong entry. A footer cut short is
// reported as short whatever its entries are, as reading all of it first
// would.
[[nodiscard]] ArchiveFault readFooter(fs::File& archive, ArchiveLayout& layout) {
    const std::optional<std::uint64_t> fileSize = archive.seekEnd();
    if (!fileSize) return ArchiveFault::seekEnd;
    layout.fileSize = *fileSize;
    layout.sized = true;
    if (!format::membersFit(layout.fileSize, layout.offsetFooter)) return ArchiveFault::badFileSize;
    layout.footerSize = format::footerSizeOf(layout.fileSize, layout.offsetFooter);
    layout.counted = true;
    if (layout.footerSize == 0 || layout.footerSize > format::maxFooterSize) return ArchiveFault::badFooterSize;
    if (!archive.seek(format::archiveHeaderSize + std::uint64_t{layout.offsetFooter})) return ArchiveFault::seekFooter;

    const bool complete = format::footerComplete(layout.fileSize, layout.offsetFooter, layout.footerSize);
    format::FooterOrder order{layout.offsetFooter, 0};
    std::vector<unsigned char> bytes(std::min(footerPiece, layout.footerSize) * format::footerEntrySize);
    std::vector<std::uint32_t> piece;
    for (std::uint64_t done = 0; done < layout.footerSize;) {
        const std::uint64_t now = std::min(footerPiece, layout.footerSize - done);
        if (!readWhole(archive, bytes.data(), now * format::footerEntrySize)) return ArchiveFault::shortFooter;
        piece.clear();
        for (std::uint64_t k = 0; k < now; ++k) {
            piece.push_back(format::decodeFooterEntry(bytes.data() + k * format::footerEntrySize));
        }
        if (!format::continuesInOrder(order, piece)) {
            return complete ? ArchiveFault::invalidFooter : ArchiveFault::shortFooter;
        }
        // Room for every entry found in order so far and one more for
        // offsetFooter; a small address space meets its limit here.
        if (layout.memberStarts.size() + piece.size() + 1 > layout.memberStarts.max_size()) {
            return ArchiveFault::noTableMemory;
        }
        try {
            layout.memberStarts.insert(layout.memberStarts.end(), piece.begin(), piece.end());
        } catch (const std::bad_alloc&) {
            return ArchiveFault::noTableMemory;
        }
        done += now;
    }
    try {
        layout.memberStarts.push_back(layout.offsetFooter);
    } catch (const std::bad_alloc&) {
        return ArchiveFault::noTableMemory;
    }
    return ArchiveFault::none;
}

// The index member's header, and back to its first byte.
[[nodiscard]] ArchiveFault readIndexHeader(fs::File& archive, ArchiveLayout& layout) {
    if (!archive.seek(format::archiveHeaderSize)) return ArchiveFault::seekIndexFirst;
    format::MemberHeaderBytes bytes{};
    if (!readWhole(archive, bytes.data(), bytes.size())) return ArchiveFault::shortIndexHeader;
    const format::MemberHeader header = format::decodeMemberHeader(bytes);
    if (header.tag != format::indexTag) return ArchiveFault::badIndexTag;
    layout.indexVersion = header.version;
    if (!archive.seek(format::archiveHeaderSize)) return ArchiveFault::seekIndexSecond;
    return ArchiveFault::none;
}

}  // namespace

ArchiveLayout readArchive(fs::File& archive) {
    ArchiveLayout layout;
    for (const auto step : {readHeader, readFooter, readIndexHeader}) {
        layout.fault = step(archive, layout);
        if (layout.fault != ArchiveFault::none) break;
    }
    return layout;
}

}  // namespace unpacker
