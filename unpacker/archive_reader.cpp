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
// checked in pieces, each handed to `visit` once it is found in order: a
// huge footer is refused at its first wrong entry. A footer cut short is
// reported as short whatever its entries are, as reading all of it first
// would.
[[nodiscard]] ArchiveFault readFooter(fs::File& archive, ArchiveLayout& layout, const MemberEnds& visit) {
    const std::optional<std::uint64_t> fileSize = archive.seekEnd();
    if (!fileSize) return ArchiveFault::seekEnd;
    layout.fileSize = *fileSize;
    layout.sized = true;
    if (!format::membersFit(layout.fileSize, layout.offsetFooter)) return ArchiveFault::badFileSize;
    layout.footerSize = format::footerSizeOf(layout.fileSize, layout.offsetFooter);
    layout.counted = true;
    if (layout.footerSize == 0 || layout.footerSize > format::maxFooterSize) return ArchiveFault::badFooterSize;

    const std::uint64_t footerStart = format::archiveHeaderSize + std::uint64_t{layout.offsetFooter};
    const bool complete = format::footerComplete(layout.fileSize, layout.offsetFooter, layout.footerSize);
    format::FooterOrder order{layout.offsetFooter, 0};
    std::vector<unsigned char> bytes(std::min(footerPiece, layout.footerSize) * format::footerEntrySize);
    std::vector<std::uint32_t> piece;
    for (std::uint64_t done = 0; done < layout.footerSize;) {
        // Each piece from its own place: the visit may have read elsewhere.
        if (!archive.seek(footerStart + done * format::footerEntrySize)) return ArchiveFault::seekFooter;
        const std::uint64_t now = std::min(footerPiece, layout.footerSize - done);
        if (!readWhole(archive, bytes.data(), now * format::footerEntrySize)) return ArchiveFault::shortFooter;
        piece.clear();
        for (std::uint64_t k = 0; k < now; ++k) {
            piece.push_back(format::decodeFooterEntry(bytes.data() + k * format::footerEntrySize));
        }
        if (!format::continuesInOrder(order, piece)) {
            return complete ? ArchiveFault::invalidFooter : ArchiveFault::shortFooter;
        }
        if (const ArchiveFault stop = visit(piece); stop != ArchiveFault::none) return stop;
        done += now;
    }
    return visit({layout.offsetFooter});
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

ArchiveLayout scanArchive(fs::File& archive, const MemberEnds& visit) {
    ArchiveLayout layout;
    layout.fault = readHeader(archive, layout);
    if (layout.fault == ArchiveFault::none) layout.fault = readFooter(archive, layout, visit);
    if (layout.fault == ArchiveFault::none) layout.fault = readIndexHeader(archive, layout);
    return layout;
}

ArchiveLayout readArchive(fs::File& archive) {
    std::vector<std::uint32_t> ends;
    ArchiveLayout layout = scanArchive(archive, [&](const std::vector<std::uint32_t>& piece) {
        // A small address space meets its limit here.
        if (ends.size() + piece.size() > ends.max_size()) return ArchiveFault::noTableMemory;
        try {
            ends.insert(ends.end(), piece.begin(), piece.end());
        } catch (const std::bad_alloc&) {
            return ArchiveFault::noTableMemory;
        }
        return ArchiveFault::none;
    });
    layout.memberStarts = std::move(ends);
    return layout;
}

}  // namespace unpacker
