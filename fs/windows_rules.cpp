#include "fs/windows_rules.h"

#include <algorithm>
#include <map>

namespace fs::windows {

namespace {

bool isSeparator(char c) { return c == '\\' || c == '/'; }

bool isLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

constexpr std::string_view extendedPrefix = "\\\\?\\";
constexpr std::string_view devicePrefix = "\\\\.\\";

// `rest` with '/' as '\' and runs of separators as one.
void appendNormal(std::string& path, std::string_view rest) {
    for (const char c : rest) {
        if (isSeparator(c)) {
            if (!path.empty() && path.back() == '\\') continue;
            path += '\\';
        } else {
            path += c;
        }
    }
}

bool startsWith(std::string_view text, std::string_view start) {
    return text.size() >= start.size() && std::equal(start.begin(), start.end(), text.begin(), [](char a, char b) {
               return a == b || (isSeparator(a) && isSeparator(b));
           });
}

}  // namespace

std::string extendedPath(std::string_view fullPath) {
    if (startsWith(fullPath, extendedPrefix) || startsWith(fullPath, devicePrefix)) {
        // A drive is named by its root, as without the prefix.
        const std::string_view rest = fullPath.substr(extendedPrefix.size());
        const bool bareDrive = rest.size() == 2 && isLetter(rest[0]) && rest[1] == ':';
        return std::string(fullPath) + (bareDrive ? "\\" : "");
    }
    std::string path(extendedPrefix);
    if (fullPath.size() >= 2 && isLetter(fullPath[0]) && fullPath[1] == ':') {
        if (fullPath.size() > 2 && !isSeparator(fullPath[2])) return std::string(fullPath);
        path += fullPath.substr(0, 2);
        path += '\\';
        appendNormal(path, fullPath.substr(2));
        return path;
    }
    if (fullPath.size() > 2 && isSeparator(fullPath[0]) && isSeparator(fullPath[1]) && !isSeparator(fullPath[2])) {
        path += "UNC\\";
        appendNormal(path, fullPath.substr(2));
        return path;
    }
    return std::string(fullPath);
}

std::string_view namePart(std::string_view path) {
    if (startsWith(path, extendedPrefix) || startsWith(path, devicePrefix)) return path.substr(extendedPrefix.size());
    return path;
}

namespace {

bool isHigh(char16_t unit) { return unit >= 0xD800 && unit < 0xDC00; }
bool isLow(char16_t unit) { return unit >= 0xDC00 && unit < 0xE000; }

void appendCode(std::string& text, char32_t code) {
    if (code < 0x80) {
        text += static_cast<char>(code);
    } else if (code < 0x800) {
        text += static_cast<char>(0xC0 | (code >> 6));
        text += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        text += static_cast<char>(0xE0 | (code >> 12));
        text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        text += static_cast<char>(0xF0 | (code >> 18));
        text += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// UTF-8 of `name`, unpaired surrogates as U+FFFD; `lost` tells whether any
// was met.
std::string toUtf8(std::u16string_view name, bool& lost) {
    std::string text;
    text.reserve(name.size());
    lost = false;
    for (std::size_t k = 0; k < name.size(); ++k) {
        const char16_t unit = name[k];
        if (isHigh(unit) && k + 1 < name.size() && isLow(name[k + 1])) {
            appendCode(text, 0x10000 + ((char32_t{unit} - 0xD800) << 10) + (char32_t{name[k + 1]} - 0xDC00));
            ++k;
        } else if (isHigh(unit) || isLow(unit)) {
            appendCode(text, 0xFFFD);
            lost = true;
        } else {
            appendCode(text, unit);
        }
    }
    return text;
}

}  // namespace

std::optional<std::string> exactUtf8(std::u16string_view name) {
    bool lost = false;
    std::string text = toUtf8(name, lost);
    if (lost) return std::nullopt;
    return text;
}

std::u16string utf16(std::string_view text) {
    std::u16string units;
    units.reserve(text.size());
    for (std::size_t k = 0; k < text.size();) {
        const auto lead = static_cast<unsigned char>(text[k]);
        const std::size_t length = lead < 0x80           ? 1
                                   : (lead >> 5) == 0x6  ? 2
                                   : (lead >> 4) == 0xE  ? 3
                                   : (lead >> 3) == 0x1E ? 4
                                                         : 0;
        char32_t code = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
        bool whole = length != 0 && k + length <= text.size();
        for (std::size_t j = 1; whole && j < length; ++j) {
            const auto next = static_cast<unsigned char>(text[k + j]);
            whole = (next & 0xC0) == 0x80;
            code = code << 6 | (next & 0x3F);
        }
        if (!whole || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) {
            units += u'\xFFFD';
            ++k;
            continue;
        }
        if (code >= 0x10000) {
            units += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
            units += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            units += static_cast<char16_t>(code);
        }
        k += length;
    }
    return units;
}

std::string shownUtf8(std::u16string_view name) {
    bool lost = false;
    return toUtf8(name, lost);
}

std::wstring wide(std::string_view text) {
    const std::u16string units = utf16(text);
    return std::wstring(units.begin(), units.end());
}

std::string utf8(std::wstring_view text) { return shownUtf8(std::u16string(text.begin(), text.end())); }

void markSharedNames(std::vector<Entry>& entries) {
    std::map<std::string_view, std::size_t> seen;
    for (const Entry& entry : entries) ++seen[entry.name];
    for (Entry& entry : entries) {
        if (seen[entry.name] > 1) entry.nameKept = false;
    }
}

std::optional<std::vector<Entry>> collectListing(const std::function<ListStep(Entry&)>& next) {
    std::vector<Entry> entries;
    for (;;) {
        Entry entry;
        switch (next(entry)) {
        case ListStep::entry:
            if (entry.name != "." && entry.name != "..") entries.push_back(std::move(entry));
            continue;
        case ListStep::end: markSharedNames(entries); return entries;
        case ListStep::failed: return std::nullopt;
        }
    }
}

namespace {

std::string folded(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - ('a' - 'A'));
    }
    return result;
}

}  // namespace

NameMatch matchName(std::wstring_view name, std::wstring_view reached) {
    if (name == reached) return NameMatch::same;
    std::wstring_view trimmed = name;
    while (!trimmed.empty() && (trimmed.back() == L'.' || trimmed.back() == L' ')) trimmed.remove_suffix(1);
    return !trimmed.empty() && trimmed == reached ? NameMatch::sameButTrailing : NameMatch::other;
}

bool numbersSure(const IdentityFacts& facts) {
    const bool numbered = std::any_of(facts.id.begin(), facts.id.end(), [](std::uint8_t b) { return b != 0; });
    if (facts.serial == 0 || !numbered || !facts.fileSystem) return false;
    const std::string system = folded(*facts.fileSystem);
    if (system.starts_with("FAT") || system == "EXFAT") return false;
    return system != "REFS" || facts.wideId;
}

bool sameNumbers(const IdentityFacts& a, const IdentityFacts& b) { return a.serial == b.serial && a.id == b.id; }

FileId identityOf(const IdentityFacts& facts) {
    const bool sure = numbersSure(facts);
    FileId id;
    if (facts.finalPathLeadsBack) id.finalPath = facts.finalPath;
    id.numbered = sure;
    if (sure) {
        id.device = facts.serial;
        for (int k = 7; k >= 0; --k) {
            id.inode = id.inode << 8 | facts.id[static_cast<std::size_t>(k)];
            id.inodeHigh = id.inodeHigh << 8 | facts.id[static_cast<std::size_t>(k + 8)];
        }
    }
    return id;
}

}  // namespace fs::windows
