// The frame both programs share: option scanning, banner and usage line.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace console {

inline constexpr int helpRequested = -1;

// Told every option with its selecting letter (the argument's second
// character, '\0' for a lone prefix); returns false when the letter is
// unknown.
using OptionHandler = std::function<bool(char letter, std::string_view argument)>;

struct ScanResult {
    // The operand's index in argv; 0 when there is none, helpRequested for
    // help.
    int operand = 0;
    // Arguments with an unknown letter, in the order met.
    std::vector<std::string> unknown;
};

// Scans argv[1] ... argv[argc-1] up to the first operand; the help letters
// end the scan at once.
ScanResult scanOptions(int argc, const char* const* argv, const OptionHandler& handler);

// "unknown option %s\n" lines for the arguments a scan didn't know.
std::string unknownOptionsText(const ScanResult& scan);

std::string bannerText();

// The usage line: `usageFormat` receives the file name and the extension of
// `programPath` through its two leading "%s%s".
std::string usageText(std::string_view programPath, const char* usageFormat);

}  // namespace console
