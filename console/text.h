// Message formatting and the one stream every message goes to.
#pragma once

#include <string>

namespace console {

// printf-style formatting into a string of whatever length it needs.
std::string formatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Writes `text` to the standard error stream, unbuffered, as one piece.
void say(const std::string& text);

}  // namespace console
