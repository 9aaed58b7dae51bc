// A transcript kept in memory, for reading what a run said.
#pragma once

#include <string>
#include <string_view>

#include "cli/transcript.h"

namespace testsupport {

class TextTranscript : public cli::Transcript {
public:
    void say(std::string_view text) override { text_ += text; }
    [[nodiscard]] const std::string& text() const { return text_; }

private:
    std::string text_;
};

}  // namespace testsupport
