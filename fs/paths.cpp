#include "fs/paths.h"

#include <vector>

namespace fs {

namespace {

bool isSeparator(char c, PathStyle style) { return c == '/' || (style == PathStyle::windows && c == '\\'); }

bool hasDrive(std::string_view path) {
    if (path.size() < 2 || path[1] != ':') return false;
    const char letter = path[0];
    return (letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z');
}

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - ('a' - 'A')) : c; }

// The root of a Windows path: its drive ("C:"), its share
// ("\\server\share"), or for a share without proper names the two
// separators alone; empty for none.
std::string_view windowsRootOf(std::string_view path) {
    if (hasDrive(path)) return path.substr(0, 2);
    const PathStyle style = PathStyle::windows;
    if (path.size() < 2 || !isSeparator(path[0], style) || !isSeparator(path[1], style)) return {};
    std::size_t end = 2;
    for (int parts = 0; parts < 2; ++parts) {
        const std::size_t start = end;
        while (end < path.size() && !isSeparator(path[end], style)) ++end;
        const std::string_view name = path.substr(start, end - start);
        if (name.empty() || name == "." || name == "..") return path.substr(0, 2);
        if (parts == 0 && end < path.size()) ++end;
    }
    return path.substr(0, end);
}

// `rest` below `root`, its '.' and '..' resolved; a '..' never climbs above
// the root.
std::string resolved(std::string_view root, std::string_view rest, bool trailing, PathStyle style) {
    std::vector<std::string_view> parts;
    while (!rest.empty()) {
        std::size_t cut = 0;
        while (cut < rest.size() && !isSeparator(rest[cut], style)) ++cut;
        const std::string_view part = rest.substr(0, cut);
        rest = cut < rest.size() ? rest.substr(cut + 1) : std::string_view{};
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    const char separator = separatorOf(style);
    std::string result(root);
    for (const std::string_view part : parts) {
        result += separator;
        result += part;
    }
    const bool endsInSeparator = !result.empty() && isSeparator(result.back(), style);
    if ((parts.empty() || trailing) && !endsInSeparator) result += separator;
    return result;
}

}  // namespace

char separatorOf(PathStyle style) { return style == PathStyle::windows ? '\\' : '/'; }

bool isAbsolute(std::string_view path, PathStyle style) {
    if (style == PathStyle::posix) return !path.empty() && path.front() == '/';
    if (hasDrive(path)) return path.size() > 2 && isSeparator(path[2], style);
    return path.size() > 1 && isSeparator(path[0], style) && isSeparator(path[1], style);
}

bool isRoot(std::string_view path, PathStyle style) { return path.size() == 1 && isSeparator(path.front(), style); }

std::string joinPath(std::string_view folder, std::string_view name, PathStyle style) {
    std::string path;
    path.reserve(folder.size() + 1 + name.size());
    path += folder;
    if (path.empty() || path.back() != separatorOf(style)) path += separatorOf(style);
    path += name;
    return path;
}

PathParts splitPath(std::string_view path, PathStyle style) {
    PathParts parts;
    if (style == PathStyle::windows && hasDrive(path)) {
        parts.drive = path.substr(0, 2);
        path.remove_prefix(2);
    }
    std::size_t nameStart = path.size();
    while (nameStart > 0 && !isSeparator(path[nameStart - 1], style)) --nameStart;
    parts.dir = path.substr(0, nameStart);
    const std::string_view fileName = path.substr(nameStart);
    const std::size_t dot = fileName.rfind('.');
    if (dot == std::string_view::npos) {
        parts.name = fileName;
    } else {
        parts.name = fileName.substr(0, dot);
        parts.ext = fileName.substr(dot);
    }
    return parts;
}

std::string lexicalFullPath(std::string_view path, std::string_view workingDir, PathStyle style) {
    const bool trailing = !path.empty() && isSeparator(path.back(), style);
    if (style == PathStyle::posix) {
        if (isAbsolute(path, style)) return resolved("", path, trailing, style);
        return resolved("", std::string(workingDir) + '/' + std::string(path), trailing, style);
    }
    std::string joined;
    if (isAbsolute(path, style)) {
        joined = path;
    } else if (!path.empty() && isSeparator(path.front(), style)) {
        // From the root of the working directory's drive.
        joined = std::string(windowsRootOf(workingDir)) + std::string(path);
    } else if (hasDrive(path)) {
        const std::string_view root = windowsRootOf(workingDir);
        if (!hasDrive(root) || upper(root[0]) != upper(path[0])) return std::string(path);
        joined = joinPath(workingDir, path.substr(2), style);
    } else {
        joined = joinPath(workingDir, path, style);
    }
    const std::string_view root = windowsRootOf(joined);
    return resolved(root, std::string_view(joined).substr(root.size()), trailing, style);
}

}  // namespace fs
