#include "format/footer.h"

#include "format/records.h"

namespace archive {

bool membersFit(std::uint64_t fileSize, std::uint32_t offsetFooter) {
    return fileSize > archive::archiveHeaderSize && fileSize - archive::archiveHeaderSize > offsetFooter;
}

std::uint64_t footerSizeOf(std::uint64_t fileSize, std::uint32_t offsetFooter) {
    return (fileSize - offsetFooter - (archive::archiveHeaderSize - 1)) / archive::footerEntrySize;
}

bool footerComplete(std::uint64_t fileSize, std::uint32_t offsetFooter, std::uint64_t footerSize) {
    return fileSize - archive::archiveHeaderSize - offsetFooter >= footerSize * archive::footerEntrySize;
}

bool continuesInOrder(FooterOrder& order, const std::vector<std::uint32_t>& starts) {
    for (const std::uint32_t start : starts) {
        if (start < order.previous || start > order.offsetFooter) return false;
        order.previous = start;
    }
    return true;
}

}  // namespace archive
