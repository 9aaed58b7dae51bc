#include "format/io.h"

namespace archive {

bool writeFinalHeader(fs::File& archive, std::uint32_t offsetFooter) {
    ArchiveHeader header;
    header.offsetFooter = offsetFooter;
    const ArchiveHeaderBytes bytes = encodeArchiveHeader(header);
    return archive.seek(0) && archive.write(bytes.data(), bytes.size());
}

std::optional<ArchiveHeader> readArchiveHeader(fs::File& archive) {
    ArchiveHeaderBytes bytes{};
    const std::optional<std::size_t> got = archive.read(bytes.data(), bytes.size());
    if (!got || *got != bytes.size()) return std::nullopt;
    return decodeArchiveHeader(bytes);
}

std::optional<MemberHeaderBytes> readMemberHeader(fs::File& member) {
    MemberHeaderBytes bytes{};
    const std::optional<std::size_t> got = member.read(bytes.data(), bytes.size());
    if (!got || *got != bytes.size()) return std::nullopt;
    return bytes;
}

bool readFooter(fs::File& archive, std::uint32_t count, std::vector<std::uint32_t>& memberStarts) {
    // Read in pieces so that a footer claiming far more entries than the
    // file holds costs no more memory than the file's own size.
    constexpr std::uint32_t piece = 16384;
    std::vector<unsigned char> bytes(static_cast<std::size_t>(std::min(count, piece)) * footerEntrySize);
    memberStarts.clear();
    for (std::uint32_t done = 0; done < count;) {
        const std::uint32_t now = std::min(piece, count - done);
        const std::size_t size = std::size_t{now} * footerEntrySize;
        const std::optional<std::size_t> got = archive.read(bytes.data(), size);
        if (!got || *got != size) return false;
        for (std::uint32_t i = 0; i < now; ++i) memberStarts.push_back(decodeFooterEntry(bytes.data() + i * footerEntrySize));
        done += now;
    }
    return true;
}

}  // namespace archive
