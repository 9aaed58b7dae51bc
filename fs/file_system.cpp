#include "fs/file_system.h"

namespace fs {

Sameness sameFile(const FileInfo& a, const FileInfo& b) {
    if (a.kind == Kind::missing || b.kind == Kind::missing) return Sameness::different;
    if (a.id.numbered && b.id.numbered) {
        const bool same = a.id.device == b.id.device && a.id.inode == b.id.inode && a.id.inodeHigh == b.id.inodeHigh;
        return same ? Sameness::same : Sameness::different;
    }
    if (!a.id.finalPath.empty() && a.id.finalPath == b.id.finalPath) return Sameness::same;
    // One file has one count of names, and with one name one final path,
    // whichever name led to it: only files with the same count of more
    // than one name may be one under two paths.
    const bool known = !a.id.finalPath.empty() && !b.id.finalPath.empty();
    if (known && (a.links != b.links || a.links == 1)) return Sameness::different;
    return Sameness::unsure;
}

}  // namespace fs
