// What the command line asks a program to do.
#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "packer/job.h"
#include "unpacker/job.h"

namespace cli {

// Which arguments are options: '-' alone where '/' begins an absolute path,
// '-' or '/' where paths begin otherwise.
enum class OptionStyle { dash, dashOrSlash };

// The usage line, and status 1.
struct Help {};

template <typename Job>
struct CommandLine {
    std::variant<Help, Job> action;
    // Arguments with a letter the program doesn't know, in the order met;
    // each is reported and the scan goes on.
    std::vector<std::string> unknown;
};

// `arguments` without the program's own name. Options are read up to the
// first argument that is not one, the operand; a help letter ('?', 'h',
// 'H') ends the scan at once, whatever stands before or after it.
[[nodiscard]] CommandLine<packer::Job> readPackCommandLine(const std::vector<std::string>& arguments,
                                                           OptionStyle style);
// Without an operand the unpacker has nothing to do: help.
[[nodiscard]] CommandLine<unpacker::Job> readUnpackCommandLine(const std::vector<std::string>& arguments,
                                                               OptionStyle style);

}  // namespace cli
