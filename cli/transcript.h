// Where a run says what it does: the standard error stream for the programs,
// a string in the tests.
#pragma once

#include <string_view>

namespace cli {

class Transcript {
public:
    virtual ~Transcript() = default;
    virtual void say(std::string_view text) = 0;
    // Sends on what has gathered, so that it shows while a long step runs.
    virtual void flush() {}
};

}  // namespace cli
