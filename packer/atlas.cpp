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

std::optional<std::vector<fs::Entry>> listNm2Entries(fs::FileSystem& files, const std::string& atlasDir,
                                                     fs::Detail detail) {
    std::optional<std::vector<fs::Entry>> listed = files.list(atlasDir, detail);
    if (!listed) return std::nullopt;
    std::erase_if(*listed, [](const fs::Entry& entry) { return !matchesNm2(entry.name); });
    // Each name folded once, so that a comparison is one of bytes.
    struct Key {
        std::string folded;
        std::size_t at;
    };
    std::vector<Key> keys;
    keys.reserve(listed->size());
    for (std::size_t at = 0; at < listed->size(); ++at) {
        std::string name = (*listed)[at].name;
        for (char& c : name) c = static_cast<char>(folded(c));
        keys.push_back({std::move(name), at});
    }
    std::sort(keys.begin(), keys.end(), [&](const Key& a, const Key& b) {
        if (const int order = a.folded.compare(b.folded); order != 0) return order < 0;
        return (*listed)[a.at].name < (*listed)[b.at].name;
    });
    std::vector<fs::Entry> entries;
    entries.reserve(keys.size());
    for (const Key& key : keys) entries.push_back(std::move((*listed)[key.at]));
    return entries;
}

}  // namespace packer
