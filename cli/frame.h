// The frame both programs share: unknown options, banner and usage line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "cli/command_line.h"

namespace cli {

// "unknown option %s\n" lines for the arguments a scan didn't know.
[[nodiscard]] std::string unknownOptionsText(const std::vector<std::string>& unknown);

[[nodiscard]] std::string bannerText();

// The usage line: `usageFormat` receives the file name and the extension of
// `programPath` through its two leading "%s%s".
[[nodiscard]] std::string usageText(std::string_view programPath, const char* usageFormat);

}  // namespace cli
