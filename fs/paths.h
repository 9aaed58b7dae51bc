// The rules of paths, without a system call: how they join, split and become
// absolute, in the style of either platform, so that both are tested on any
// machine.
#pragma once

#include <string>
#include <string_view>

namespace fs {

// POSIX: '/' separates, '/' alone is the root. Windows: '\' separates ('/'
// is taken too), paths may begin with a drive ("C:") or a share
// ("\\server\share"), and a drive's root is written "C:".
enum class PathStyle { posix, windows };

struct PathParts {
    std::string drive;
    std::string dir;   // up to and including the last separator
    std::string name;  // file name without extension
    std::string ext;   // from the last '.' of the file name on, or empty
};

// The separator put between the parts of a built path.
[[nodiscard]] char separatorOf(PathStyle style);

// True for a path that needs no working directory to be placed.
[[nodiscard]] bool isAbsolute(std::string_view path, PathStyle style);

// True for a path that names a root from which no trailing separator can be
// removed.
[[nodiscard]] bool isRoot(std::string_view path, PathStyle style);

// `folder` and `name` joined by the separator, which is not doubled when
// `folder` already ends in one.
[[nodiscard]] std::string joinPath(std::string_view folder, std::string_view name, PathStyle style);

[[nodiscard]] PathParts splitPath(std::string_view path, PathStyle style);

// The absolute form of `path`, relative paths taken from `workingDir`; '.'
// and '..' are resolved lexically, links are not followed and the path need
// not exist. A trailing separator is kept. On Windows a path relative to
// another drive than the working directory's ("D:x") is left as it is, for
// the system to place from the directory it keeps for that drive.
[[nodiscard]] std::string lexicalFullPath(std::string_view path, std::string_view workingDir, PathStyle style);

}  // namespace fs
