#include "unpacker/folder.h"

#include <algorithm>

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

bool emptyFolder(const std::string& folderPath, const KeptFiles& kept) {
    const std::optional<std::vector<platform::DirEntry>> entries = platform::listDir(folderPath);
    if (!entries) return false;
    const std::optional<platform::FileInfo> folder = platform::fileInfo(folderPath);
    const auto isKept = [&](const platform::FileId& id) {
        return id == kept.archive || std::find(kept.links.begin(), kept.links.end(), id) != kept.links.end();
    };
    bool holdsKept = false;
    for (const platform::DirEntry& entry : *entries) {
        // A name that leads to another entry would delete that one.
        if (entry.isDirectory || !entry.nameKept) continue;
        const std::string path = console::joinPath(folderPath, entry.name);
        // The listing's own number names the entry itself, a link included;
        // where it gives none, the file the entry leads to is asked for.
        std::optional<platform::FileId> id;
        if (entry.inode != 0 && folder && folder->id.path.empty()) {
            id = platform::FileId{folder->id.device, entry.inode, 0, {}};
        } else {
            id = platform::fileId(path);
        }
        if (id && isKept(*id)) {
            holdsKept = true;
            continue;
        }
        platform::removeFile(path);
    }
    return holdsKept;
}

}  // namespace unpacker
