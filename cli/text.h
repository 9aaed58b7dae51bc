// Message formatting.
#pragma once

#include <string>

namespace cli {

// printf-style formatting into a string of whatever length it needs.
[[nodiscard]] std::string formatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace cli
