// The frame of a run that both programs share: what the command line asked
// for, the banner, then the usage line or the program's work, and the exit
// status.
#pragma once

#include <functional>
#include <string>
#include <variant>
#include <vector>

#include "cli/command_line.h"
#include "console/failure.h"
#include "console/transcript.h"

namespace cli {

struct Program {
    std::string path;        // the program's own file, as the usage line names it
    const char* usage;       // its usage format, taking the file name and extension
    const char* interrupted; // what an interrupt says
};

// Says the unknown options and the banner; for help, the usage line and
// status 1; otherwise runs `work` with interrupts caught, says its failure
// if it has one, and gives 1 for a failure, 0 for success.
template <typename Job>
int run(const Program& program, const CommandLine<Job>& line, console::Transcript& transcript,
        const std::function<console::Outcome(const Job&)>& work);

// The arguments after the program's own name.
std::vector<std::string> operandsOf(int argc, const char* const* argv);

}  // namespace cli
