#include "packer/atlas.h"

#include <algorithm>

namespace packer {

namespace {

unsigned char folded(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 'a' && byte <= 'z' ? static_cast<unsigned char>(byte - ('a' - 'A')) : byte;
}

}  // namespace

bool matchesNm2(std::string_view name) {
    constexpr std::string_view extension = ".NM2";
    if (name.size() < extension.size()) return false;
    const std::string_view tail = name.substr(name.size() - extension.size());
    return std::equal(tail.begin(), tail.end(), extension.begin(),
                      [](char a, char b) { return folded(a) == static_cast<unsigned char>(b); });
}

bool listsBefore(std::string_view left, std::string_view right) {
    const auto byFolding = [](char a, char b) { return folded(a) < folded(b); };
    if (std::lexicographical_compare(left.begin(), left.end(), right.begin(), right.end(), byFolding)) return true;
    if (std::lexicographical_compare(right.begin(), right.end(), left.begin(), left.end(), byFolding)) return false;
    return left < right;
}

std::optional<std::vector<fs::Entry>> listNm2Entries(fs::FileSystem& files, const std::string& atlasDir) {
    std::optional<std::vector<fs::Entry>> entries = files.list(atlasDir);
    if (!entries) return std::nullopt;
    std::erase_if(*entries, [](const fs::Entry& entry) { return !matchesNm2(entry.name); });
    std::sort(entries->begin(), entries->end(),
              [](const fs::Entry& a, const fs::Entry& b) { return listsBefore(a.name, b.name); });
    return entries;
}

}  // namespace packer
