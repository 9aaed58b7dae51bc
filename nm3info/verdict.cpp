#include "nm3info/verdict.h"

#include "format/records.h"

namespace nm3info {

namespace {

using unpacker::ArchiveFault;

Judgement damaged(std::string reason) { return {Verdict::damaged, std::move(reason)}; }
Judgement unreadable(std::string reason) { return {Verdict::unreadable, std::move(reason)}; }

}  // namespace

Judgement judge(const unpacker::ArchiveLayout& layout) {
    switch (layout.fault) {
    case ArchiveFault::none: return {};
    case ArchiveFault::shortHeader: return damaged("shorter than an NM3 header");
    case ArchiveFault::notArchive: return damaged("not an NM3 archive");
    case ArchiveFault::badFileSize:
        if (layout.fileSize - format::archiveHeaderSize < layout.offsetFooter) {
            return damaged("its members run past the end of the file");
        }
        return damaged("no footer after its members");
    case ArchiveFault::badFooterSize:
        if (layout.footerSize == 0) return damaged("its footer is shorter than one entry");
        return damaged("its footer has more entries than 32 bits can count");
    case ArchiveFault::shortFooter: return damaged("its footer is cut short");
    case ArchiveFault::invalidFooter:
        return damaged("its footer's member offsets are out of order or past the members");
    case ArchiveFault::shortIndexHeader: return damaged("its index member is shorter than its header");
    case ArchiveFault::badIndexTag: return damaged("its index member is not an index (no NIDX tag)");
    case ArchiveFault::seekEnd: return unreadable("its size can't be read");
    case ArchiveFault::noTableMemory: return unreadable("no memory for its footer");
    case ArchiveFault::seekFooter: return unreadable("its footer can't be read");
    case ArchiveFault::seekIndexFirst:
    case ArchiveFault::seekIndexSecond: return unreadable("its index member can't be read");
    case ArchiveFault::seekStart:
    case ArchiveFault::stopped: break;
    }
    return unreadable("can't be read");
}

bool footerWhole(unpacker::ArchiveFault fault) {
    switch (fault) {
    case ArchiveFault::none:
    case ArchiveFault::seekIndexFirst:
    case ArchiveFault::shortIndexHeader:
    case ArchiveFault::badIndexTag:
    case ArchiveFault::seekIndexSecond: return true;
    default: return false;
    }
}

Opened openArchive(fs::FileSystem& files, const std::string& path) {
    Opened opened;
    fs::FileInfo info;
    opened.file = files.openRead(path, &info, fs::Lock::shared);
    if (opened.file) {
        // What the run writes would land in the archive while it is read.
        for (const fs::FileInfo& stream : files.standardStreams()) {
            if (!fs::maybeSame(info, stream)) continue;
            opened.file.reset();
            opened.reason = "the output goes into it";
        }
        return opened;
    }
    switch (files.info(path).kind) {
    case fs::Kind::missing: opened.reason = "no such file"; break;
    case fs::Kind::directory: opened.reason = "a directory, not an archive"; break;
    default: opened.reason = "can't be opened"; break;
    }
    return opened;
}

}  // namespace nm3info
