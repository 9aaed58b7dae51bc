#include "testing/transcripts.h"

#include <cstdio>

namespace testsupport {

namespace {

std::string printed(const char* format, auto... values) {
    char text[512];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

unsigned versionOf(const Bytes& member) {
    return static_cast<unsigned char>(member[4]) | static_cast<unsigned char>(member[5]) << 8;
}

std::string indexName(const std::vector<Bytes>& members) {
    return printed("index.%03u.nti", versionOf(members.front()));
}
std::string memberName(std::size_t k, const std::string& baseName) {
    return printed("%s_%05zu.nm2", baseName.c_str(), k);
}

}  // namespace

const std::string banner = "\n\nNM3 atlas archive packer and unpacker\nResearch version: 0.2.3\n\n";

std::string packerSaid(const std::string& workingDir, const std::string& atlas, const std::vector<std::string>& named,
                       const std::vector<std::string>& packed) {
    std::string text = " - working Dir: " + workingDir + "\n - atlas Dir  : " + atlas + "\n";
    if (!named.empty()) {
        text +=
            " - indexFile: " + named.at(0) + "\n - routeFile: " + named.at(1) + "\n - outFile  : " + named.at(2) + "\n";
    }
    for (std::size_t i = 0; i < packed.size(); ++i) {
        const char* kind = i == 0 ? "  nti file" : i == 1 ? "route file" : "  nm2 file";
        text += std::string("   - ") + kind + " [" + packed[i] + "] - Ok\n";
    }
    return text;
}

std::string unpackerNamed(const std::string& operand, const std::string& folder) {
    return "NM3 file name : " + operand + "\nFolder path   : " + folder + "\n";
}

std::string unpackerSizes(std::uint64_t fileSize, std::optional<std::uint64_t> count) {
    std::string text =
        printed("Check NM3 tag - Ok\n - fileSize = [0x%08llx]\n", static_cast<unsigned long long>(fileSize));
    if (count) text += printed(" - footerSize (count) = [%llu]\n", static_cast<unsigned long long>(*count));
    return text;
}

std::string extractedLines(const std::vector<Bytes>& members, const std::string& baseName) {
    std::string text = "   - nti file [" + indexName(members) + "] - Ok\n";
    for (std::size_t k = 0; k + 1 < members.size(); ++k) {
        text += printed("   - nm2 file #%05zu [", k) + memberName(k, baseName) + "] - Ok\n";
    }
    return text;
}

Files extractedFiles(const std::string& folder, const std::vector<Bytes>& members, const std::string& baseName) {
    Files files{{folder, "<dir>"}, {folder + "/" + indexName(members), members.front()}};
    for (std::size_t k = 0; k + 1 < members.size(); ++k) files[folder + "/" + memberName(k, baseName)] = members[k + 1];
    return files;
}

}  // namespace testsupport
