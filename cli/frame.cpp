#include "cli/frame.h"

#include "cli/text.h"
#include "fs/host_file_system.h"

namespace cli {

std::string unknownOptionsText(const std::vector<std::string>& unknown) {
    std::string text;
    for (const std::string& argument : unknown) {
        text += formatText("unknown option %s\n", argument.c_str());
    }
    return text;
}

std::string bannerText() {
    return formatText("\n\n%s\n%s: %s\n\n", "NM3 atlas archive packer and unpacker", "Research version",
                      VESKAL_VERSION);
}

std::string usageText(std::string_view programPath, const char* usageFormat) {
    const fs::PathParts parts = fs::splitPath(programPath, fs::hostFileSystem().style());
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    return formatText(usageFormat, parts.name.c_str(), parts.ext.c_str());
#pragma GCC diagnostic pop
}

}  // namespace cli
