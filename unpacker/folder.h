// The folder beside the archive that receives its members.
#pragma once

#include <optional>
#include <string>

#include "platform/platform.h"

namespace unpacker {

// The archive's path with its extension replaced by ".nm2" (an archive
// without extension gets the extension added).
std::string folderPathOf(const std::string& archivePath);

// Creates `folderPath` when nothing is there. False when something other
// than a directory is there. A failed creation shows later, when the first
// member file can't be created.
bool prepareFolder(const std::string& folderPath);

// Deletes every entry of `folderPath` that is not a directory, links by
// their own name; sub-directories stay with their contents, and failures are
// ignored. The archive is never deleted: `archiveId`, given when the folder
// may hold the archive under a name of its own, is kept whatever that name;
// true when the folder holds it.
bool emptyFolder(const std::string& folderPath, const std::optional<platform::FileId>& archiveId);

}  // namespace unpacker
