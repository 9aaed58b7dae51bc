#include "unpacker/folder.h"

#include "console/path.h"

namespace unpacker {

std::string folderPathOf(const std::string& archivePath) {
    const platform::PathParts parts = platform::splitPath(archivePath);
    return parts.drive + parts.dir + parts.name + ".nm2";
}

bool prepareFolder(const std::string& folderPath) {
    switch (platform::pathKind(folderPath)) {
    case platform::PathKind::missing:
        platform::makeDir(folderPath);
        return true;
    case platform::PathKind::directory:
        return true;
    case platform::PathKind::other:
        break;
    }
    return false;
}

bool emptyFolder(const std::string& folderPath, const std::optional<platform::FileId>& archiveId) {
    const std::optional<std::vector<platform::DirEntry>> entries = platform::listDir(folderPath);
    if (!entries) return false;
    bool holdsArchive = false;
    for (const platform::DirEntry& entry : *entries) {
        if (entry.isDirectory) continue;
        const std::string path = console::joinPath(folderPath, entry.name);
        // The folder may be a link to the archive's own directory, or hold
        // another name of the archive; a link to it goes as a link.
        if (archiveId && !entry.isLink && platform::fileId(path) == archiveId) {
            holdsArchive = true;
            continue;
        }
        platform::removeFile(path);
    }
    return holdsArchive;
}

}  // namespace unpacker
