// The block copies that move every member's bytes.
#pragma once

#include <cstdint>
#include <limits>
#include <memory>

#include "fs/file_system.h"

namespace fs {

inline constexpr std::uint64_t noLimit = std::numeric_limits<std::uint64_t>::max();

struct CopyResult {
    enum class Status { complete, readError, writeError };
    Status status = Status::complete;
    std::uint64_t copied = 0;
};

// Members up to this size travel through memory in one piece, where the cost
// of a copy is its system calls rather than its bytes.
inline constexpr std::uint64_t smallCopy = 128 * 1024;

// A buffer of fixed size whose bytes are always written before they are
// read, so it is never filled with zeros: pages that are never used cost no
// memory.
class Block {
public:
    explicit Block(std::size_t size) : bytes_(new unsigned char[size]), size_(size) {}
    unsigned char* data() { return bytes_.get(); }
    const unsigned char* data() const { return bytes_.get(); }
    std::size_t size() const { return size_; }

private:
    std::unique_ptr<unsigned char[]> bytes_;
    std::size_t size_;
};

// A file written in order from its current position through a buffer: small
// pieces gather and reach the file in whole blocks, so that every write but
// the last starts at a block boundary when the file was written from byte 0.
// Writes at such boundaries fill whole pages of the page cache instead of
// splitting every page between two writes.
class BlockWriter {
public:
    static constexpr std::size_t capacity = 1024 * 1024;

    explicit BlockWriter(fs::File& file) : file_(file), block_(capacity) {}

    bool write(const void* data, std::size_t size);
    // Writes what has gathered, a part-filled block too; the file's position
    // is then the writer's.
    bool flush();
    fs::File& file() { return file_; }

    // Room at the end of the gathered bytes, to be filled in place and then
    // committed; a full block is written by the next write or copy.
    unsigned char* spare() { return block_.data() + used_; }
    std::size_t spareSize() const { return block_.size() - used_; }
    void commit(std::size_t size) { used_ += size; }

private:
    fs::File& file_;
    Block block_;
    std::size_t used_ = 0;
};

// Copies from the current position of `source` into `target` until `limit`
// bytes are copied or `source` ends; `expected` is what the source held from
// its current position when it was opened. An end before `limit` is not an
// error here: `copied` tells the caller. Every byte passes through the
// writer's buffer: whole-block writes from memory measured faster for the
// archive than moving the bytes file to file inside the kernel.
CopyResult copyBlocks(fs::File& source, BlockWriter& target, std::uint64_t limit, std::uint64_t expected);

// A file read in order from its current position through a buffer that
// reads ahead as far as it is told.
class BlockReader {
public:
    static constexpr std::size_t capacity = 1024 * 1024;

    BlockReader(fs::FileSystem& files, fs::File& file) : files_(files), file_(file), block_(capacity) {}

    // Holds at least `size` bytes (at most capacity) at data(), reading up to
    // `ahead` bytes in all when it has to read. Fewer are held only where the
    // file ends; false on a read error.
    bool fill(std::size_t size, std::size_t ahead);
    const unsigned char* data() const { return block_.data() + begin_; }
    std::size_t held() const { return end_ - begin_; }
    void consume(std::size_t size) { begin_ += size; }
    fs::File& file() { return file_; }
    fs::FileSystem& files() { return files_; }

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
CopyResult copyBlocks(BlockReader& source, fs::File& target, std::uint64_t length);

}  // namespace fs
