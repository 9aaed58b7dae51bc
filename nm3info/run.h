// A whole run of nm3info, on the file system and the streams it is given.
#pragma once

#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/transcript.h"
#include "fs/file_system.h"

namespace nm3info {

struct Streams {
    fs::File* out;  // standard output; nullptr when it was closed
    cli::Transcript& errors;
};

// `arguments` with the program's own name first. The exit status: 0 when
// every archive is sound (or for help and the version), 1 when one is
// damaged or unreadable or standard output takes no more (said nowhere), 2
// for a command line that can't be run.
[[nodiscard]] int run(const std::vector<std::string>& arguments, fs::FileSystem& files, const Streams& streams,
                      cli::OptionStyle style);

}  // namespace nm3info
