// nm3info's command line: short options that may be bundled ("-tj"), long
// ones ("--extract=3" or "--extract 3"), options anywhere among the
// archives until "--".
#pragma once

#include <string>
#include <variant>
#include <vector>

#include "cli/command_line.h"
#include "nm3info/job.h"

namespace nm3info {

struct Help {};
struct Version {};
// A command line that can't be run, and why.
struct Misuse {
    std::string message;
};

using Action = std::variant<Job, Help, Version, Misuse>;

// `arguments` without the program's own name. Help or version anywhere
// before "--" wins over everything else on the line; with `dashOrSlash`,
// "/?" is help too.
[[nodiscard]] Action readCommandLine(const std::vector<std::string>& arguments, cli::OptionStyle style);

}  // namespace nm3info
