// How a step of a run reports that the run must end: with the one message
// the run then prints before it exits with status 1.
#pragma once

#include <optional>
#include <string>

namespace console {

struct Failure {
    std::string message;
};

// Nothing when the step succeeded.
using Outcome = std::optional<Failure>;

}  // namespace console
