// The atlas folder's further .nm2 files, and the one order they are packed
// in on every machine.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fs/file_system.h"

namespace packer {

// Whether `name` ends in ".nm2", in any case.
[[nodiscard]] bool matchesNm2(std::string_view name);

// The entries of `atlasDir` whose names match *.nm2, in listing order:
// ASCII letters folded to upper case, compared byte by byte; names that fold
// alike ordered by their exact bytes. nullopt when the folder can't be
// listed.
[[nodiscard]] std::optional<std::vector<fs::Entry>> listNm2Entries(fs::FileSystem& files, const std::string& atlasDir,
                                                                   fs::Detail detail = fs::Detail::names);

}  // namespace packer
