#include "fs/copy.h"

#include <algorithm>
#include <cstring>

namespace fs {

namespace {

using Moved = fs::KernelCopy::Outcome;

// Moves up to `size` bytes file to file inside the kernel. Stops early at the
// source's end or when the kernel refuses (then `kernelCopy` is cleared and
// the caller's buffer carries on); `result` counts what moved.
void moveInKernel(fs::FileSystem& files, fs::File& source, fs::File& target, std::uint64_t size, bool& kernelCopy,
                  CopyResult& result) {
    for (std::uint64_t moved = 0; moved < size;) {
        const auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(fs::kernelPiece, size - moved));
        const fs::KernelCopy step = files.copy(source, target, piece);
        switch (step.outcome) {
        case Moved::copied:
            moved += step.bytes;
            result.copied += step.bytes;
            continue;
        case Moved::refused: kernelCopy = false; return;
        case Moved::endOfFile:
            // Confirmed by a plain read, which the caller makes next.
            return;
        case Moved::readError: result.outcome = CopyResult::Outcome::readError; return;
        case Moved::writeError: result.outcome = CopyResult::Outcome::writeError; return;
        }
    }
}

// Copies through the writer's block, each piece read to half a page past its
// place in the source's page and written from there: neither copy lands just
// ahead of its source when the whole copy would.
void copyApart(fs::File& source, std::uint64_t from, BlockWriter& target, std::uint64_t limit, std::uint64_t expected,
               CopyResult& result) {
    while (result.copied < limit) {
        const std::size_t shift = (from + result.copied + pageSize / 2) % pageSize;
        const auto want =
            static_cast<std::size_t>(std::min<std::uint64_t>(target.blockSize() - shift, limit - result.copied));
        unsigned char* const piece = target.passage() + shift;
        const std::optional<std::size_t> got = source.readSome(piece, want);
        if (!got) {
            result.outcome = CopyResult::Outcome::readError;
            return;
        }
        if (*got == 0) return;
        if (!target.file().write(piece, *got)) {
            result.outcome = CopyResult::Outcome::writeError;
            return;
        }
        target.passed(*got);
        result.copied += *got;
        if (*got < want && result.copied == expected) return;
    }
}

}  // namespace

bool landsJustAhead(std::uint64_t from, std::uint64_t to) {
    constexpr std::uint64_t stallsWithin = 32;
    const std::uint64_t ahead = (to - from) % pageSize;
    return ahead != 0 && ahead < stallsWithin;
}

bool BlockWriter::write(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        if (spareSize() == 0 && !flush()) return false;
        const std::size_t now = std::min(size, spareSize());
        std::memcpy(spare(), bytes, now);
        commit(now);
        bytes += now;
        size -= now;
    }
    return true;
}

bool BlockWriter::flush() {
    if (end_ == begin_) return true;
    const bool written = file_.write(block_.data() + begin_, end_ - begin_);
    passed(end_ - begin_);
    return written;
}

void BlockWriter::passed(std::uint64_t size) {
    flushed_ += size;
    begin_ = end_ = static_cast<std::size_t>(flushed_ % pageSize);
}

CopyResult copyBlocks(fs::File& source, std::uint64_t from, BlockWriter& target, std::uint64_t limit,
                      std::uint64_t expected) {
    CopyResult result;
    if (expected > smallCopy) {
        if (!target.flush()) {
            result.outcome = CopyResult::Outcome::writeError;
            return result;
        }
        if (landsJustAhead(from, target.position())) {
            copyApart(source, from, target, limit, expected, result);
            return result;
        }
        if (target.kernelCopy) {
            moveInKernel(target.files(), source, target.file(), limit, target.kernelCopy, result);
            target.passed(result.copied);
            if (result.outcome != CopyResult::Outcome::complete) return result;
        }
    }
    while (result.copied < limit) {
        if (target.spareSize() == 0 && !target.flush()) {
            result.outcome = CopyResult::Outcome::writeError;
            return result;
        }
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(target.spareSize(), limit - result.copied));
        const std::optional<std::size_t> got = source.readSome(target.spare(), want);
        if (!got) {
            result.outcome = CopyResult::Outcome::readError;
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

bool BlockReader::fill(std::size_t size, std::size_t ahead) {
    size = std::min(size, blockSize());
    if (held() >= size) return true;
    if (begin_ > 0) {
        std::memmove(block_.data(), data(), held());
        end_ = held();
        begin_ = 0;
    }
    const std::size_t want = std::min(std::max(size, ahead), blockSize()) - end_;
    const std::optional<std::size_t> got = file_.read(block_.data() + end_, want);
    if (!got) return false;
    end_ += *got;
    return true;
}

CopyResult copyBlocks(BlockReader& source, fs::File& target, std::uint64_t length) {
    CopyResult result;
    const auto write = [&](std::size_t size) {
        if (!target.write(source.data(), size)) {
            result.outcome = CopyResult::Outcome::writeError;
            return false;
        }
        source.consume(size);
        result.copied += size;
        return true;
    };
    if (!write(static_cast<std::size_t>(std::min<std::uint64_t>(source.held(), length)))) return result;
    if (source.kernelCopy) {
        moveInKernel(source.files(), source.file(), target, length - result.copied, source.kernelCopy, result);
    }
    while (result.outcome == CopyResult::Outcome::complete && result.copied < length) {
        const auto now = static_cast<std::size_t>(std::min<std::uint64_t>(source.blockSize(), length - result.copied));
        if (!source.fill(now, now)) {
            result.outcome = CopyResult::Outcome::readError;
            break;
        }
        if (source.held() == 0) break;
        if (!write(std::min(source.held(), now))) break;
    }
    return result;
}

}  // namespace fs
