// The frame of a run that both programs share: what the command line asked
// for, the banner, then the usage line or the program's work, and the exit
// status.
#pragma once

#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/outcome.h"
#include "cli/transcript.h"
#include "fs/file_system.h"

namespace cli {

// What the frame needs of a program.
template <typename Job>
struct Program {
    const char* usage;        // its usage format, taking the file name and extension
    const char* interrupted;  // what an interrupt says
    CommandLine<Job> (*read)(const std::vector<std::string>& arguments, OptionStyle style);
    cli::Outcome (*work)(const Job& job, fs::FileSystem& files, cli::Transcript& transcript);
};

// Says the unknown options and the banner of `arguments` (the program's own
// name first); for help, the usage line and status 1; otherwise runs the job
// on `files` with interrupts caught, says its failure if it has one, and
// gives 1 for a failure, 0 for success.
template <typename Job>
[[nodiscard]] int run(const Program<Job>& program, const std::vector<std::string>& arguments, fs::FileSystem& files,
                      cli::Transcript& transcript);

// The same on the machine's own file system and terminal.
template <typename Job>
[[nodiscard]] int run(const Program<Job>& program, const std::vector<std::string>& arguments);

}  // namespace cli
