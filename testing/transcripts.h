// What the programs say, written out independently of them, and the files
// an unpacking leaves.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "testing/archives.h"

namespace testsupport {

// The banner the built programs print first.
extern const std::string banner;

// The packer's lines from `workingDir`: the atlas folder; the index, route
// and output files as placed, when `named` gives them; a finished line for
// each of `packed` (the index, the route file, the further files).
std::string packerSaid(const std::string& workingDir, const std::string& atlas,
                       const std::vector<std::string>& named = {}, const std::vector<std::string>& packed = {});

// The unpacker's lines: the operand as given and the folder; once the header
// passed, the file size and, when measured, the footer's count; a finished
// line for each of `members` extracted, the index first.
std::string unpackerNamed(const std::string& operand, const std::string& folder);
std::string unpackerSizes(std::uint64_t fileSize, std::optional<std::uint64_t> count);
std::string extractedLines(const std::vector<Bytes>& members, const std::string& baseName = "west");
// What extracting `members` makes in `folder`, the folder included.
Files extractedFiles(const std::string& folder, const std::vector<Bytes>& members,
                     const std::string& baseName = "west");

}  // namespace testsupport
