// How a step of a run reports that the run must end: with the one message
// the run then says before it ends with status 1.
#pragma once

#include <optional>
#include <string>

namespace cli {

struct Failure {
    std::string message;
};

// Nothing when the step succeeded.
using Outcome = std::optional<Failure>;

}  // namespace cli
