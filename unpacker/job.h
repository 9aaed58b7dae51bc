// What the command line asks the unpacker to unpack.
#pragma once

#include <string>

namespace unpacker {

struct Job {
    std::string archive;  // the operand, as given
};

}  // namespace unpacker
