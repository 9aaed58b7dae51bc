// One member's bytes written out.
#pragma once

#include <cstdint>
#include <string>

#include "fs/file_system.h"

namespace nm3info {

struct Extracted {
    bool outputGone = false;  // the output took no more
    std::string reason;       // why the member can't be had; empty when it was written, or the output went
};

// Checks `archive` as unveskal does and writes member `number` (numbered as
// in the listing) to `out` with the programs' block copy.
[[nodiscard]] Extracted extractMember(fs::FileSystem& files, fs::File& archive, std::uint64_t number, fs::File& out);

}  // namespace nm3info
