// The block copy that moves every member's bytes.
#pragma once

#include <cstdint>
#include <limits>
#include <vector>

#include "fs/file_system.h"

namespace console {

// The run's one copy buffer, reused for every member, so memory stays the
// same whatever the members' sizes.
struct CopyBuffer {
    static constexpr std::size_t defaultSize = 256 * 1024;
    std::vector<unsigned char> bytes = std::vector<unsigned char>(defaultSize);
    // Whether the kernel may move the bytes file to file; the buffer serves
    // where it can't.
    bool kernelCopy = true;
};

inline constexpr std::uint64_t noLimit = std::numeric_limits<std::uint64_t>::max();

struct CopyResult {
    enum class Status { complete, readError, writeError };
    Status status = Status::complete;
    std::uint64_t copied = 0;
};

// Copies from the current position of `source` to the current position of
// `target` until `limit` bytes are copied or `source` ends. An end before
// `limit` is not an error here: `copied` tells the caller.
CopyResult copyBlocks(fs::FileSystem& files, fs::File& source, fs::File& target, std::uint64_t limit,
                      CopyBuffer& buffer);

// Members up to this size travel through memory, where the cost of a copy is
// its system calls rather than its bytes; larger ones move file to file.
inline constexpr std::uint64_t smallCopy = 128 * 1024;

// A file written in order through a buffer: small pieces gather and reach the
// file in large writes.
class BlockWriter {
public:
    static constexpr std::size_t capacity = 1024 * 1024;

    explicit BlockWriter(fs::File& file) : file_(file), bytes_(capacity) {}

    bool write(const void* data, std::size_t size);
    // Writes what has gathered; the file's position is then the writer's.
    bool flush();
    fs::File& file() { return file_; }

    // Room at the end of the gathered bytes, to be filled in place and then
    // committed.
    unsigned char* spare() { return bytes_.data() + used_; }
    std::size_t spareSize() const { return bytes_.size() - used_; }
    void commit(std::size_t size) { used_ += size; }

private:
    fs::File& file_;
    std::vector<unsigned char> bytes_;
    std::size_t used_ = 0;
};

// copyBlocks into a BlockWriter, for a source whose size was `expected`
// bytes from its current position when it was opened: a small one is read
// straight into the writer's buffer.
CopyResult copyBlocks(fs::FileSystem& files, fs::File& source, BlockWriter& target, std::uint64_t limit,
                      std::uint64_t expected, CopyBuffer& buffer);

}  // namespace console
