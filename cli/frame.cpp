#include "cli/frame.h"

#include "console/text.h"
#include "fs/host_file_system.h"
#include "platform/platform.h"

namespace cli {

std::string unknownOptionsText(const std::vector<std::string>& unknown) {
    std::string text;
    for (const std::string& argument : unknown) {
        text += console::formatText("unknown option %s\n", argument.c_str());
    }
    return text;
}

cli::OptionStyle optionStyle() {
    return platform::startsOption("/") ? cli::OptionStyle::dashOrSlash : cli::OptionStyle::dash;
}

std::string bannerText() {
    return console::formatText("\n\n%s\n%s: %s\n\n", "NM3 atlas archive packer and unpacker", "Research version",
                               VESKAL_VERSION);
}

std::string usageText(std::string_view programPath, const char* usageFormat) {
    const fs::PathParts parts = fs::splitPath(programPath, fs::hostFileSystem().style());
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    return console::formatText(usageFormat, parts.name.c_str(), parts.ext.c_str());
#pragma GCC diagnostic pop
}

}  // namespace cli
