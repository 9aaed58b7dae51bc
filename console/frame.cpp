#include "console/frame.h"

#include "console/text.h"
#include "platform/platform.h"

namespace console {

ScanResult scanOptions(int argc, const char* const* argv, const OptionHandler& handler) {
    ScanResult scan;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (!platform::startsOption(argument)) {
            scan.operand = i;
            return scan;
        }
        const char letter = argument.size() > 1 ? argument[1] : '\0';
        if (letter == '?' || letter == 'h' || letter == 'H') {
            scan.operand = helpRequested;
            return scan;
        }
        if (!handler(letter, argument)) scan.unknown.emplace_back(argument);
    }
    return scan;
}

std::string unknownOptionsText(const ScanResult& scan) {
    std::string text;
    for (const std::string& argument : scan.unknown) text += formatText("unknown option %s\n", argument.c_str());
    return text;
}

std::string bannerText() {
    return formatText("\n\n%s\n%s: %s\n\n", "NM3 atlas archive packer and unpacker", "Research version", "0.2.3");
}

std::string usageText(std::string_view programPath, const char* usageFormat) {
    const platform::PathParts parts = platform::splitPath(programPath);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    return formatText(usageFormat, parts.name.c_str(), parts.ext.c_str());
#pragma GCC diagnostic pop
}

}  // namespace console
