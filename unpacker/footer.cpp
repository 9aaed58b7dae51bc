#include "unpacker/footer.h"

#include <algorithm>

#include "archive/records.h"

namespace unpacker {

bool membersFit(std::uint64_t fileSize, std::uint32_t offsetFooter) {
    return fileSize > archive::archiveHeaderSize && fileSize - archive::archiveHeaderSize > offsetFooter;
}

std::uint64_t footerSizeOf(std::uint64_t fileSize, std::uint32_t offsetFooter) {
    return (fileSize - offsetFooter - (archive::archiveHeaderSize - 1)) / archive::footerEntrySize;
}

bool footerInOrder(const std::vector<std::uint32_t>& memberStarts) {
    return std::is_sorted(memberStarts.begin(), memberStarts.end());
}

}  // namespace unpacker
