// Message formatting and the one stream every message goes to.
#pragma once

#include <string>

namespace console {

// printf-style formatting into a string of whatever length it needs.
std::string formatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Adds `text` to what the run says on the standard error stream. Text
// gathers up to a few KiB and goes out in one write; flushSaid() sends it at
// once, and it is sent when the program ends or is interrupted.
void say(const std::string& text);
void flushSaid();

}  // namespace console
