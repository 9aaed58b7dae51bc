// The folder beside the archive that receives its members.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "fs/file_system.h"

namespace unpacker {

// The archive's path with its extension replaced by ".nm2" (an archive
// without extension gets the extension added).
[[nodiscard]] std::string folderPathOf(const std::string& archivePath, fs::PathStyle style);

// Creates `folderPath` when nothing is there. False when something other
// than a directory is there. A failed creation shows later, when the first
// member file can't be created.
[[nodiscard]] bool prepareFolder(fs::FileSystem& files, const std::string& folderPath);

// What emptying the folder must never delete: the archive, under whatever
// name (missing when there is none), and the links by which the name the
// user gave reaches it.
struct KeptFiles {
    fs::FileInfo archive;
    std::vector<fs::FileInfo> links;
};

// Deletes every entry of `folderPath` that is not a directory, links by
// their own name; sub-directories stay with their contents, and failures are
// ignored. Entries that are or may be one of `kept`, by what the system says
// of each name itself, stay.
void emptyFolder(fs::FileSystem& files, const std::string& folderPath, const KeptFiles& kept);

}  // namespace unpacker
