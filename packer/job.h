// What the command line asks the packer to pack.
#pragma once

#include <optional>
#include <string>

namespace packer {

struct Job {
    std::string index;                    // the -i: value, as given
    std::string route;                    // the -r: value
    std::string out;                      // the -o: value
    std::optional<std::string> atlasDir;  // the operand; the working directory without one
};

}  // namespace packer
