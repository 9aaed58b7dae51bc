// The block copies that move every member's bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <new>

#include "fs/file_system.h"

namespace fs {

// How a block copy went: `copied` counts what reached the target.
struct CopyResult {
    enum class Outcome { complete, readError, writeError };
    Outcome outcome = Outcome::complete;
    std::uint64_t copied = 0;
};

// Members up to this size travel through memory in one piece, where the cost
// of a copy is its system calls rather than its bytes.
inline constexpr std::uint64_t smallCopy = 128 * 1024;

// The page size that the placement of copies is reckoned in.
inline constexpr std::size_t pageSize = 4096;

// A buffer of fixed size that starts on a page boundary and whose bytes are
// always written before they are read, so it is never filled with zeros:
// pages that are never used cost no memory.
class Block {
public:
    explicit Block(std::size_t size)
        : bytes_(static_cast<unsigned char*>(::operator new[](size, std::align_val_t{pageSize}))), size_(size) {}
    [[nodiscard]] unsigned char* data() { return bytes_.get(); }
    [[nodiscard]] const unsigned char* data() const { return bytes_.get(); }
    [[nodiscard]] std::size_t size() const { return size_; }

private:
    struct Release {
        void operator()(unsigned char* bytes) const { ::operator delete[](bytes, std::align_val_t{pageSize}); }
    };
    std::unique_ptr<unsigned char[], Release> bytes_;
    std::size_t size_;
};

// Whether bytes copied from position `from` of one file to position `to` of
// another land a little ahead of where they come from within a page, where
// the processor's copy stalls on every byte (bench/README.md has the
// figures).
[[nodiscard]] bool landsJustAhead(std::uint64_t from, std::uint64_t to);

// A file written in order from its current position through a buffer: small
// pieces gather and reach the file in large writes, each byte written from
// the same place in a page of the buffer as it takes in the file.
class BlockWriter {
public:
    // The size of the programs' blocks.
    static constexpr std::size_t capacity = 1024 * 1024;

    // `block`, a whole number of pages, is allocated by the caller, which
    // can then have every buffer before it creates anything.
    BlockWriter(fs::FileSystem& files, fs::File& file, Block block)
        : files_(files), file_(file), block_(std::move(block)) {}

    [[nodiscard]] bool write(const void* data, std::size_t size);
    // Writes what has gathered, a part-filled block too; the file's position
    // is then the writer's.
    [[nodiscard]] bool flush();
    [[nodiscard]] std::size_t blockSize() const { return block_.size(); }
    [[nodiscard]] fs::File& file() { return file_; }
    [[nodiscard]] fs::FileSystem& files() { return files_; }
    // Where the next byte lands, counted from the file's position when the
    // writer took it.
    [[nodiscard]] std::uint64_t position() const { return flushed_ + (end_ - begin_); }
    // Records bytes placed in the file past the writer, which holds none.
    void passed(std::uint64_t size);
    // The whole block, for bytes on their way straight to the file; nothing
    // may be gathered.
    [[nodiscard]] unsigned char* passage() { return block_.data(); }

    // Room after the gathered bytes, to be filled in place and then
    // committed; a full block is written by the next write or copy.
    [[nodiscard]] unsigned char* spare() { return block_.data() + end_; }
    [[nodiscard]] std::size_t spareSize() const { return block_.size() - end_; }
    void commit(std::size_t size) { end_ += size; }

    // Whether large sources may move file to file inside the kernel; cleared
    // when the kernel refuses, and the writer's buffer serves instead.
    bool kernelCopy = true;

private:
    fs::FileSystem& files_;
    fs::File& file_;
    Block block_;
    // The gathered bytes, from the place in the block's first page that the
    // next byte takes in its page of the file.
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    std::uint64_t flushed_ = 0;
};

// Copies from the current position of `source`, `from`, into `target` until
// `limit` bytes are copied or `source` ends; `expected` is what the source
// held from there when it was opened. An end before `limit` is not an error
// here: `copied` tells the caller. A source of more than smallCopy bytes
// moves file to file inside the kernel, after what the writer holds, where
// the kernel can: one copy of each byte instead of two, into a new file and
// over an old one alike. Where that copy would land just ahead of its
// source, the bytes pass through the writer's buffer placed half a page from
// both ends instead. Smaller sources gather in the writer's buffer.
[[nodiscard]] CopyResult copyBlocks(fs::File& source, std::uint64_t from, BlockWriter& target, std::uint64_t limit,
                                    std::uint64_t expected);

// A file read in order from its current position through a buffer that
// reads ahead as far as it is told.
class BlockReader {
public:
    // The size of the programs' blocks.
    static constexpr std::size_t capacity = 1024 * 1024;

    // `block` is allocated by the caller.
    BlockReader(fs::FileSystem& files, fs::File& file, Block block)
        : files_(files), file_(file), block_(std::move(block)) {}

    // Holds at least `size` bytes (at most a block) at data(), reading up to
    // `ahead` bytes in all when it has to read. Fewer are held only where the
    // file ends; false on a read error.
    [[nodiscard]] bool fill(std::size_t size, std::size_t ahead);
    [[nodiscard]] std::size_t blockSize() const { return block_.size(); }
    [[nodiscard]] const unsigned char* data() const { return block_.data() + begin_; }
    [[nodiscard]] std::size_t held() const { return end_ - begin_; }
    void consume(std::size_t size) { begin_ += size; }
    [[nodiscard]] fs::File& file() { return file_; }
    [[nodiscard]] fs::FileSystem& files() { return files_; }

    // Whether members may move file to file inside the kernel; cleared when
    // the kernel refuses, and the reader's own buffer serves instead.
    bool kernelCopy = true;

private:
    fs::FileSystem& files_;
    fs::File& file_;
    Block block_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
};

// Copies the next `length` bytes of `source` to the current position of
// `target`: what the reader holds first, then file to file inside the kernel,
// or through the reader's buffer where the kernel refuses. `copied` is short
// of `length` only where the source ends.
[[nodiscard]] CopyResult copyBlocks(BlockReader& source, fs::File& target, std::uint64_t length);

}  // namespace fs
