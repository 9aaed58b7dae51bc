// Message formatting.
#pragma once

#include <string>

namespace console {

// printf-style formatting into a string of whatever length it needs.
std::string formatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace console
