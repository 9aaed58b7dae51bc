#include "packer/pack.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "format/io.h"
#include "format/records.h"
#include "cli/command_line.h"
#include "fs/copy.h"
#include "console/failure.h"
#include "console/text.h"
#include "console/transcript.h"
#include "packer/atlas.h"
#include "packer/messages.h"

namespace packer {

namespace {

using console::Failure;
using console::formatText;
using console::Outcome;

struct AtlasPaths {
    std::string workingDir;
    std::string atlasDir;
    std::string indexFile;
    std::string routeFile;
    std::string outFile;
};

// What distinguishes the index, the route file and the further .nm2 files
// when they are packed.
struct MemberKind {
    const char* shortHeader;
    std::uint16_t minVersion;
    const char* badVersion;
    const char* progress;
};

constexpr MemberKind indexMember{text::shortIndexHeader, archive::minIndexVersion, text::badIndexVersion,
                                 text::indexProgress};
constexpr MemberKind routeMember{text::shortNm2Header, archive::minNm2Version, text::badNm2Version,
                                 text::routeProgress};
constexpr MemberKind nm2Member{text::shortNm2Header, archive::minNm2Version, text::badNm2Version, text::nm2Progress};

// The archive while it is being written: unless it is finished, leaving
// scope cuts it to 0 bytes, so that no other name of the file keeps any of
// it, and deletes it. From its creation until the run has said its last
// line, an interrupt does the same. An existing file is written over from
// byte 0 and its length set when the archive is complete.
class PartialArchive {
public:
    PartialArchive(fs::FileSystem& files, console::Transcript& transcript, std::unique_ptr<fs::File> file,
                   const std::string& path, std::optional<std::string> madeThroughLink)
        : files_(files), transcript_(transcript), file_(std::move(file)), path_(path),
          madeThroughLink_(std::move(madeThroughLink)) {}
    PartialArchive(const PartialArchive&) = delete;
    PartialArchive& operator=(const PartialArchive&) = delete;
    ~PartialArchive() {
        if (finished_) return;
        if (open_) {
            [[maybe_unused]] const bool cut = file_->truncate(0);
            [[maybe_unused]] const bool closed = file_->close();
        } else {
            [[maybe_unused]] const bool cut = files_.emptyFile(path_);
        }
        // Deleted before the interrupt forgets it, so that no moment is left
        // in which an interrupt would leave it behind.
        [[maybe_unused]] const bool removed = files_.remove(path_);
        if (madeThroughLink_) static_cast<void>(files_.remove(*madeThroughLink_));
        files_.forgetOutput();
    }

    fs::File& file() { return *file_; }

    // Sets the archive's final length, closes it and, once everything said
    // so far is out, keeps it; false when what was written didn't all reach
    // the file.
    bool finish(std::uint64_t length) {
        if (!file_->truncate(length)) return false;
        open_ = false;
        if (!files_.closeOutput(*file_)) return false;
        transcript_.flush();
        files_.keepOutput();
        finished_ = true;
        return true;
    }

private:
    fs::FileSystem& files_;
    console::Transcript& transcript_;
    std::unique_ptr<fs::File> file_;
    std::string path_;
    std::optional<std::string> madeThroughLink_;
    bool open_ = true;
    bool finished_ = false;
};

// The state of one packing run once the archive exists.
struct Packing {
    fs::FileSystem& files;
    console::Transcript& transcript;
    PartialArchive& archive;
    const std::string& outFile;
    fs::BlockWriter out;
    std::uint64_t payload = 0;  // bytes of members written so far
    // A small member's bytes, read in one go and checked before they join
    // the archive.
    fs::Block first{fs::smallCopy + 1};
};

Failure writeFailure(const Packing& run) { return Failure{formatText(text::writeError, run.outFile.c_str())}; }

Failure tooLargeFailure(const std::string& path) { return Failure{formatText(text::tooLarge, path.c_str())}; }

struct OpenMember {
    std::unique_ptr<fs::File> file;
    fs::Status info;
};

std::variant<OpenMember, Failure> openMember(fs::FileSystem& files, const std::string& path) {
    OpenMember member;
    member.file = files.openRead(path, &member.info);
    if (!member.file) return Failure{formatText(text::cantOpen, path.c_str())};
    return member;
}

// What `path` names, links followed; nullopt when nothing is there.
std::optional<fs::FileId> idOf(fs::FileSystem& files, const std::string& path) {
    fs::Status status = files.status(path);
    if (status.kind == fs::Kind::missing) return std::nullopt;
    return std::move(status.id);
}

// Reads a member's first bytes into `run.first`: a small member whole in
// one read where the file allows, a larger one at least its header. nullopt
// on a read error.
std::optional<std::size_t> readFirst(Packing& run, OpenMember& member) {
    const std::size_t want = member.info.size <= fs::smallCopy
                                 ? static_cast<std::size_t>(member.info.size) + 1
                                 : archive::memberHeaderSize;
    std::size_t have = 0;
    while (have < archive::memberHeaderSize) {
        const std::optional<std::size_t> got = member.file->readSome(run.first.data() + have, want - have);
        if (!got) return std::nullopt;
        if (*got == 0) break;
        have += *got;
    }
    return have;
}

// Reads and checks the member's header, then copies the whole member to the
// archive with its two-piece progress line.
Outcome packMember(Packing& run, OpenMember& member, const std::string& path, const MemberKind& kind) {
    const std::optional<std::size_t> first = readFirst(run, member);
    if (!first || *first < archive::memberHeaderSize) return Failure{formatText(kind.shortHeader, path.c_str())};
    archive::MemberHeaderBytes header{};
    std::memcpy(header.data(), run.first.data(), header.size());
    const std::uint16_t version = archive::decodeMemberHeader(header).version;
    if (version < kind.minVersion) return Failure{formatText(kind.badVersion, unsigned{version}, path.c_str())};

    // A member that can't fit fails before any of it is copied.
    if (run.payload + std::max<std::uint64_t>(member.info.size, *first) > archive::maxPayload) {
        return tooLargeFailure(path);
    }

    run.transcript.say(formatText(kind.progress, path.c_str()));
    // A long copy shows its member's line while it runs.
    if (member.info.size > fs::smallCopy) run.transcript.flush();
    if (!run.out.write(run.first.data(), *first)) return writeFailure(run);
    run.payload += *first;

    // A small member read whole ended short of what was asked.
    const bool whole = member.info.size <= fs::smallCopy && *first == member.info.size;
    if (!whole) {
        // One byte past the room left shows a member that grew while it was
        // copied.
        const std::uint64_t room = archive::maxPayload - run.payload;
        const std::uint64_t expected = member.info.size - std::min<std::uint64_t>(member.info.size, *first);
        const fs::CopyResult copy = fs::copyBlocks(*member.file, *first, run.out, room + 1, expected);
        if (copy.status == fs::CopyResult::Status::readError) {
            return Failure{formatText(text::readError, path.c_str())};
        }
        if (copy.status == fs::CopyResult::Status::writeError) return writeFailure(run);
        if (copy.copied > room) return tooLargeFailure(path);
        run.payload += copy.copied;
    }
    [[maybe_unused]] const bool closed = member.file->close();
    run.transcript.say(text::ok);
    return std::nullopt;
}

// `id` receives what the member was when it opened.
Outcome packMember(Packing& run, const std::string& path, const MemberKind& kind, fs::FileId& id) {
    std::variant<OpenMember, Failure> member = openMember(run.files, path);
    if (Failure* failed = std::get_if<Failure>(&member)) return std::move(*failed);
    id = std::get<OpenMember>(member).info.id;
    return packMember(run, std::get<OpenMember>(member), path, kind);
}

// Records where the next member starts, the end of the one just written, in
// the table of member starts (offsetFooter once the last is in), which
// grows 512 entries at a time.
Outcome recordNextStart(const Packing& run, std::vector<std::uint32_t>& memberStarts, std::size_t& capacity) {
    memberStarts.push_back(static_cast<std::uint32_t>(run.payload));
    const std::size_t count = memberStarts.size() - 1;
    if (count >= capacity) {
        capacity += 512;
        try {
            memberStarts.reserve(capacity + 1);
        } catch (const std::bad_alloc&) {
            return Failure{formatText(text::noTableMemory, run.outFile.c_str())};
        }
    }
    return std::nullopt;
}

// The input that the output path names, if it names one: the index or route
// file or a listed .nm2 file, whatever links lead there, or a .nm2 name not
// yet made in the atlas folder that the listing would meet once the archive
// exists there, also through a link that leads nowhere yet, or a listed link
// that leads where the archive would be made.
std::optional<std::string> inputNamedByOutput(fs::FileSystem& files, const AtlasPaths& paths,
                                              const std::vector<fs::Entry>& nm2Entries) {
    const fs::PathStyle style = files.style();
    const fs::Status atlas = files.status(paths.atlasDir);
    const fs::Status out = files.status(paths.outFile);
    if (out.kind == fs::Kind::missing) {
        const std::string target = files.followLinks(paths.outFile).target;
        const fs::PathParts parts = fs::splitPath(target, style);
        const std::string name = parts.name + parts.ext;
        const std::optional<fs::FileId> targetDir = idOf(files, parts.drive + parts.dir);
        if (atlas.kind != fs::Kind::missing && targetDir == atlas.id && matchesNm2(name)) {
            return fs::joinPath(paths.atlasDir, name, style);
        }
        // A member link that leads nowhere yet would lead to the archive,
        // the output's own name among them.
        for (const fs::Entry& entry : nm2Entries) {
            if (!entry.isLink || entry.isDirectory) continue;
            const std::string path = fs::joinPath(paths.atlasDir, entry.name, style);
            if (files.followLinks(path).target == target) return path;
        }
        return std::nullopt;
    }
    if (out.id == idOf(files, paths.indexFile)) return paths.indexFile;
    if (out.id == idOf(files, paths.routeFile)) return paths.routeFile;
    const bool sameDevice = atlas.kind != fs::Kind::missing && atlas.id.device == out.id.device && atlas.id.path.empty();
    for (const fs::Entry& entry : nm2Entries) {
        if (entry.isDirectory) continue;
        // The listing's own number answers for a file that is no link.
        if (entry.inode != 0 && !entry.isLink) {
            if (sameDevice && entry.inode == out.id.inode) return fs::joinPath(paths.atlasDir, entry.name, style);
            continue;
        }
        const std::string path = fs::joinPath(paths.atlasDir, entry.name, style);
        if (out.id == idOf(files, path)) return path;
    }
    return std::nullopt;
}

// Writes the archive: header, index, route file, the further .nm2 files,
// footer and final header.
Outcome writeArchive(fs::FileSystem& files, console::Transcript& transcript, const AtlasPaths& paths,
                     const std::vector<fs::Entry>& nm2Entries) {
    // Through a link that leads nowhere the archive is a new file at the
    // link's end, which a failure removes too.
    std::optional<std::string> madeThroughLink;
    if (files.status(paths.outFile).kind == fs::Kind::missing) {
        std::string target = files.followLinks(paths.outFile).target;
        if (target != paths.outFile) madeThroughLink = std::move(target);
    }
    std::unique_ptr<fs::File> created = files.createOutput(paths.outFile);
    if (!created) return Failure{formatText(text::cantCreate, paths.outFile.c_str())};
    PartialArchive archive(files, transcript, std::move(created), paths.outFile, madeThroughLink);
    Packing run{files, transcript, archive, paths.outFile, fs::BlockWriter(files, archive.file())};

    const archive::ArchiveHeaderBytes provisional = archive::encodeArchiveHeader(archive::ArchiveHeader{});
    if (!run.out.write(provisional.data(), provisional.size())) return writeFailure(run);

    std::size_t capacity = 512;
    std::vector<std::uint32_t> memberStarts;
    try {
        memberStarts.reserve(capacity + 1);
    } catch (const std::bad_alloc&) {
        return Failure{formatText(text::noTableMemory, paths.outFile.c_str())};
    }

    // The index and route file as they opened: a later look could fail, and
    // let the listing pack them again.
    fs::FileId indexId;
    fs::FileId routeId;
    if (Outcome failed = packMember(run, paths.indexFile, indexMember, indexId)) return failed;
    memberStarts.push_back(static_cast<std::uint32_t>(run.payload));
    if (Outcome failed = packMember(run, paths.routeFile, routeMember, routeId)) return failed;
    memberStarts.push_back(static_cast<std::uint32_t>(run.payload));

    const std::optional<fs::Status> outStatus = archive.file().status();
    const std::optional<fs::FileId> outId = outStatus ? std::optional<fs::FileId>(outStatus->id) : std::nullopt;
    for (const fs::Entry& entry : nm2Entries) {
        if (entry.isDirectory) continue;
        const std::string path = fs::joinPath(paths.atlasDir, entry.name, files.style());
        if (!entry.nameKept) return Failure{formatText(text::cantOpen, path.c_str())};
        std::variant<OpenMember, Failure> opened = openMember(files, path);
        if (Failure* failed = std::get_if<Failure>(&opened)) return std::move(*failed);
        OpenMember& member = std::get<OpenMember>(opened);
        // The index and route file are in already, under whatever name the
        // listing meets them; the archive must never be read as its own
        // member.
        if (member.info.id == indexId || member.info.id == routeId) continue;
        if (member.info.id == outId) return Failure{formatText(text::cantOpen, path.c_str())};
        if (Outcome failed = packMember(run, member, path, nm2Member)) return failed;
        if (Outcome failed = recordNextStart(run, memberStarts, capacity)) return failed;
    }

    const std::uint32_t offsetFooter = memberStarts.back();
    memberStarts.pop_back();
    for (const std::uint32_t start : memberStarts) {
        const archive::FooterEntryBytes entry = archive::encodeFooterEntry(start);
        if (!run.out.write(entry.data(), entry.size())) return writeFailure(run);
    }
    if (!run.out.flush()) return writeFailure(run);
    if (!archive::writeFinalHeader(archive.file(), offsetFooter)) return writeFailure(run);
    const std::uint64_t length = archive::archiveHeaderSize + std::uint64_t{offsetFooter} +
                                 std::uint64_t{archive::footerEntrySize} * memberStarts.size();
    if (!archive.finish(length)) return writeFailure(run);
    return std::nullopt;
}

}  // namespace

Outcome pack(const cli::PackJob& job, fs::FileSystem& files, console::Transcript& transcript) {
    const fs::PathStyle style = files.style();
    AtlasPaths paths;
    const std::optional<std::string> workingDir = files.currentDir();
    if (!workingDir) return Failure{text::noWorkingDir};
    paths.workingDir = *workingDir;
    transcript.say(formatText(text::workingDir, paths.workingDir.c_str()));

    paths.atlasDir = job.atlasDir ? files.fullPath(*job.atlasDir, paths.workingDir) : paths.workingDir;
    // A path the system can't place is shown as given, and not found.
    const bool atlasPlaced = !paths.atlasDir.empty();
    if (!atlasPlaced) paths.atlasDir = *job.atlasDir;
    if (paths.atlasDir.size() > 1 && paths.atlasDir.back() == fs::separatorOf(style) &&
        !fs::isRoot(paths.atlasDir, style)) {
        paths.atlasDir.pop_back();
    }
    transcript.say(formatText(text::atlasDir, paths.atlasDir.c_str()));

    if (job.index.empty()) return Failure{text::noIndexOption};
    if (job.route.empty()) return Failure{text::noRouteOption};
    if (job.out.empty()) return Failure{text::noOutOption};

    const fs::PathParts indexParts = fs::splitPath(job.index, style);
    const fs::PathParts routeParts = fs::splitPath(job.route, style);
    paths.outFile = files.fullPath(job.out, paths.workingDir);
    const bool outPlaced = !paths.outFile.empty();
    if (!outPlaced) paths.outFile = job.out;

    if (!atlasPlaced) return Failure{formatText(text::pathNotFound, paths.atlasDir.c_str())};
    switch (files.status(paths.atlasDir).kind) {
    case fs::Kind::directory:
        break;
    case fs::Kind::file:
    case fs::Kind::other:
        return Failure{formatText(text::notDirectory, paths.atlasDir.c_str())};
    case fs::Kind::missing:
        if (!files.access(paths.atlasDir, fs::Access::exists) || !files.access(paths.atlasDir, fs::Access::readWrite)) {
            return Failure{formatText(text::pathNotFound, paths.atlasDir.c_str())};
        }
        break;
    }

    paths.indexFile = fs::joinPath(paths.atlasDir, indexParts.name + indexParts.ext, style);
    paths.routeFile = fs::joinPath(paths.atlasDir, routeParts.name + routeParts.ext, style);
    transcript.say(formatText(text::indexFile, paths.indexFile.c_str()));
    transcript.say(formatText(text::routeFile, paths.routeFile.c_str()));
    transcript.say(formatText(text::outFile, paths.outFile.c_str()));
    if (!outPlaced) return Failure{formatText(text::cantCreate, paths.outFile.c_str())};

    if (!files.access(paths.indexFile, fs::Access::read)) {
        return Failure{formatText(text::cantAccess, paths.indexFile.c_str())};
    }
    if (!files.access(paths.routeFile, fs::Access::read)) {
        return Failure{formatText(text::cantAccess, paths.routeFile.c_str())};
    }

    // A folder that can't be listed would silently give an archive without
    // its further members.
    const std::optional<std::vector<fs::Entry>> nm2Entries = listNm2Entries(files, paths.atlasDir);
    if (!nm2Entries) return Failure{formatText(text::pathNotFound, paths.atlasDir.c_str())};

    // Creating the output empties it: it must not be one of the inputs.
    if (const std::optional<std::string> input = inputNamedByOutput(files, paths, *nm2Entries)) {
        return Failure{formatText(text::cantOpen, input->c_str())};
    }

    return writeArchive(files, transcript, paths, *nm2Entries);
}

}  // namespace packer
