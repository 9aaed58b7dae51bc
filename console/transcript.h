// Where a run says what it does.
#pragma once

#include <string>
#include <string_view>

namespace console {

class Transcript {
public:
    virtual ~Transcript() = default;
    virtual void say(std::string_view text) = 0;
    // Sends on what has gathered, so that it shows while a long step runs.
    virtual void flush() {}
};

// The standard error stream, through the platform's buffer.
Transcript& terminal();

}  // namespace console
