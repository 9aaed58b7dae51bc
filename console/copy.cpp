#include "console/copy.h"

#include <algorithm>
#include <cstring>


namespace console {

namespace {

// Largest piece handed to the kernel at once.
constexpr std::uint64_t kernelPiece = std::uint64_t{1} << 30;

CopyResult copyBuffered(fs::File& source, fs::File& target, std::uint64_t limit, CopyBuffer& buffer,
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

CopyResult copyBlocks(fs::FileSystem& files, fs::File& source, fs::File& target, std::uint64_t limit,
                      CopyBuffer& buffer) {
    CopyResult result;
    if (buffer.kernelCopy) {
        while (result.copied < limit) {
            const auto piece = static_cast<std::size_t>(std::min(kernelPiece, limit - result.copied));
            const fs::KernelCopy moved = files.copy(source, target, piece);
            if (moved.status == fs::KernelCopy::Status::copied) {
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

bool BlockWriter::write(const void* data, std::size_t size) {
    if (size > spareSize() && !flush()) return false;
    if (size > spareSize()) return file_.write(data, size);
    std::memcpy(spare(), data, size);
    commit(size);
    return true;
}

bool BlockWriter::flush() {
    const bool written = file_.write(bytes_.data(), used_);
    used_ = 0;
    return written;
}

CopyResult copyBlocks(fs::FileSystem& files, fs::File& source, BlockWriter& target, std::uint64_t limit,
                      std::uint64_t expected, CopyBuffer& buffer) {
    CopyResult result;
    if (expected > smallCopy) {
        if (!target.flush()) {
            result.status = CopyResult::Status::writeError;
            return result;
        }
        return copyBlocks(files, source, target.file(), limit, buffer);
    }
    while (result.copied < limit) {
        if (target.spareSize() == 0 && !target.flush()) {
            result.status = CopyResult::Status::writeError;
            return result;
        }
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(target.spareSize(), limit - result.copied));
        const std::optional<std::size_t> got = source.readSome(target.spare(), want);
        if (!got) {
            result.status = CopyResult::Status::readError;
            return result;
        }
        if (*got == 0) break;
        target.commit(*got);
        result.copied += *got;
        // A short read that ends where the file ended when it was opened is
        // its end; anything else is asked again.
        if (*got < want && result.copied == expected) break;
    }
    return result;
}

}  // namespace console
