#include "unpacker/folder.h"

#include <algorithm>

namespace unpacker {

std::string folderPathOf(const std::string& archivePath, fs::PathStyle style) {
    const fs::PathParts parts = fs::splitPath(archivePath, style);
    return parts.drive + parts.dir + parts.name + ".nm2";
}

bool prepareFolder(fs::FileSystem& files, const std::string& folderPath) {
    switch (files.info(folderPath).kind) {
    case fs::Kind::missing:
        // A failure shows when the first member file can't be created.
        static_cast<void>(files.makeDir(folderPath));
        return true;
    case fs::Kind::directory: return true;
    case fs::Kind::file:
    case fs::Kind::other: break;
    }
    return false;
}

void emptyFolder(fs::FileSystem& files, const std::string& folderPath, const KeptFiles& kept) {
    const bool keepsAny = kept.archive.kind != fs::Kind::missing || !kept.links.empty();
    // Each name is asked what it is itself: a listing's numbers don't tell a
    // mount point or an overlay's file.
    std::optional<std::vector<fs::Entry>> entries =
        files.list(folderPath, keepsAny ? fs::Detail::ownIdentities : fs::Detail::names);
    if (!entries) return;
    // In the order of their file numbers the deletions go through the file
    // system's tables front to back.
    std::stable_sort(entries->begin(), entries->end(),
                     [](const fs::Entry& a, const fs::Entry& b) { return a.inode < b.inode; });
    const auto isKept = [&](const fs::FileInfo& name) {
        return fs::maybeSame(name, kept.archive) ||
               std::any_of(kept.links.begin(), kept.links.end(),
                           [&](const fs::FileInfo& link) { return fs::maybeSame(name, link); });
    };
    for (const fs::Entry& entry : *entries) {
        // A name that leads to another entry would delete that one.
        if (entry.isDirectory || !entry.nameKept) continue;
        if (keepsAny && isKept(entry.info)) continue;
        [[maybe_unused]] const bool removed = files.remove(fs::joinPath(folderPath, entry.name, files.style()));
    }
}

}  // namespace unpacker
