#include "console/copy.h"

#include <algorithm>

namespace console {

namespace {

// Largest piece handed to the kernel at once.
constexpr std::uint64_t kernelPiece = std::uint64_t{1} << 30;

CopyResult copyBuffered(platform::File& source, platform::File& target, std::uint64_t limit, CopyBuffer& buffer,
                        CopyResult result) {
    while (result.copied < limit) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.bytes.size(), limit - result.copied));
        const std::optional<std::size_t> got = source.read(buffer.bytes.data(), want);
        if (!got) {
            result.status = CopyResult::Status::readError;
            return result;
        }
        if (*got == 0) break;
        if (!target.write(buffer.bytes.data(), *got)) {
            result.status = CopyResult::Status::writeError;
            return result;
        }
        result.copied += *got;
        if (*got < want) break;
    }
    return result;
}

}  // namespace

CopyResult copyBlocks(platform::File& source, platform::File& target, std::uint64_t limit, CopyBuffer& buffer) {
    CopyResult result;
    if (buffer.kernelCopy) {
        while (result.copied < limit) {
            const auto piece = static_cast<std::size_t>(std::min(kernelPiece, limit - result.copied));
            const platform::KernelCopy moved = platform::kernelCopy(source, target, piece);
            if (moved.status == platform::KernelCopy::Status::copied) {
                result.copied += moved.bytes;
                continue;
            }
            // An end of file or a refusal: the buffered copy carries on from
            // here and finds out which it was. Some file systems report an end
            // where there is data, so even an end is confirmed by a plain read.
            break;
        }
    }
    return copyBuffered(source, target, limit, buffer, result);
}

}  // namespace console
