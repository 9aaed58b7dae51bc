#include "format/footer.h"

#include "format/records.h"

namespace format {

bool membersFit(std::uint64_t fileSize, std::uint32_t offsetFooter) {
    return fileSize > format::archiveHeaderSize && fileSize - format::archiveHeaderSize > offsetFooter;
}

std::uint64_t footerSizeOf(std::uint64_t fileSize, std::uint32_t offsetFooter) {
    return (fileSize - offsetFooter - (format::archiveHeaderSize - 1)) / format::footerEntrySize;
}

bool footerComplete(std::uint64_t fileSize, std::uint32_t offsetFooter, std::uint64_t footerSize) {
    return fileSize - format::archiveHeaderSize - offsetFooter >= footerSize * format::footerEntrySize;
}

bool continuesInOrder(FooterOrder& order, const std::vector<std::uint32_t>& starts) {
    for (const std::uint32_t start : starts) {
        if (start < order.previous || start > order.offsetFooter) return false;
        order.previous = start;
    }
    return true;
}

}  // namespace format
