// The block copy that moves every member's bytes.
#pragma once

#include <cstdint>
#include <limits>
#include <vector>

#include "platform/platform.h"

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
CopyResult copyBlocks(platform::File& source, platform::File& target, std::uint64_t limit, CopyBuffer& buffer);

}  // namespace console
