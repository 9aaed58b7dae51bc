#include "cli/command_line.h"

#include <cstddef>
#include <string_view>

namespace cli {

namespace {

bool isOption(std::string_view argument, OptionStyle style) {
    if (argument.empty()) return false;
    return argument.front() == '-' || (style == OptionStyle::dashOrSlash && argument.front() == '/');
}

// The option's letter: its second character, '\0' for a lone prefix.
char letterOf(std::string_view argument) { return argument.size() > 1 ? argument[1] : '\0'; }

bool isHelp(char letter) { return letter == '?' || letter == 'h' || letter == 'H'; }

// Where the scan of `arguments` stopped: at help, at the operand's index,
// or at the end; `known` is told every other option and says whether its
// letter is one of the program's.
struct Scan {
    bool help = false;
    std::optional<std::size_t> operand;
    std::vector<std::string> unknown;
};

template <typename Known>
Scan scan(const std::vector<std::string>& arguments, OptionStyle style, Known known) {
    Scan result;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (!isOption(argument, style)) {
            result.operand = i;
            return result;
        }
        const char letter = letterOf(argument);
        if (isHelp(letter)) {
            result.help = true;
            return result;
        }
        if (!known(letter, argument)) result.unknown.push_back(argument);
    }
    return result;
}

}  // namespace

CommandLine<packer::Job> readPackCommandLine(const std::vector<std::string>& arguments, OptionStyle style) {
    packer::Job job;
    Scan result = scan(arguments, style, [&](char letter, std::string_view argument) {
        std::string* value = nullptr;
        switch (letter) {
        case 'i':
        case 'I': value = &job.index; break;
        case 'r':
        case 'R': value = &job.route; break;
        case 'o':
        case 'O': value = &job.out; break;
        default: return false;
        }
        // A letter not followed directly by ':' is ignored.
        if (argument.size() > 2 && argument[2] == ':') *value = argument.substr(3);
        return true;
    });
    if (result.help) return {Help{}, std::move(result.unknown)};
    if (result.operand) job.atlasDir = arguments[*result.operand];
    return {std::move(job), std::move(result.unknown)};
}

CommandLine<unpacker::Job> readUnpackCommandLine(const std::vector<std::string>& arguments, OptionStyle style) {
    Scan result = scan(arguments, style, [](char, std::string_view) { return false; });
    if (result.help || !result.operand) return {Help{}, std::move(result.unknown)};
    return {unpacker::Job{arguments[*result.operand]}, std::move(result.unknown)};
}

}  // namespace cli
