#include "packer/pack.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "archive/io.h"
#include "archive/records.h"
#include "console/copy.h"
#include "console/failure.h"
#include "console/frame.h"
#include "console/path.h"
#include "console/text.h"
#include "packer/atlas.h"
#include "packer/messages.h"
#include "platform/platform.h"

namespace packer {

namespace {

using console::Failure;
using console::formatText;
using console::Outcome;
using console::say;

struct Options {
    std::string index;
    std::string route;
    std::string out;
};

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
    PartialArchive(platform::File file, const std::string& path) : file_(std::move(file)), path_(path) {}
    PartialArchive(const PartialArchive&) = delete;
    PartialArchive& operator=(const PartialArchive&) = delete;
    ~PartialArchive() {
        if (finished_) return;
        if (file_.isOpen()) {
            file_.truncate(0);
            file_.close();
        } else {
            platform::emptyFile(path_);
        }
        // Deleted before the interrupt forgets it, so that no moment is left
        // in which an interrupt would leave it behind.
        platform::removeFile(path_);
        platform::forgetOutput();
    }

    platform::File& file() { return file_; }

    // Sets the archive's final length, closes it and, once everything said
    // so far is out, keeps it; false when what was written didn't all reach
    // the file.
    bool finish(std::uint64_t length) {
        if (!file_.truncate(length)) return false;
        if (!platform::closeOutput(file_)) return false;
        console::flushSaid();
        platform::endInterrupts();
        finished_ = true;
        return true;
    }

private:
    platform::File file_;
    std::string path_;
    bool finished_ = false;
};

// The state of one packing run once the archive exists.
struct Packing {
    PartialArchive& archive;
    const std::string& outFile;
    console::BlockWriter out;
    std::uint64_t payload = 0;  // bytes of members written so far
    // A small member's bytes, read in one go and checked before they join
    // the archive.
    console::Block first{console::smallCopy + 1};
};

Failure writeFailure(const Packing& run) { return Failure{formatText(text::writeError, run.outFile.c_str())}; }

Failure tooLargeFailure(const std::string& path) { return Failure{formatText(text::tooLarge, path.c_str())}; }

struct OpenMember {
    platform::File file;
    platform::FileInfo info;
};

std::variant<OpenMember, Failure> openMember(const std::string& path) {
    OpenMember member;
    std::optional<platform::File> file = platform::openRead(path, &member.info);
    if (!file) return Failure{formatText(text::cantOpen, path.c_str())};
    member.file = std::move(*file);
    return member;
}

// Reads a member's first bytes into `run.first`: a small member whole in
// one read where the file allows, a larger one at least its header. nullopt
// on a read error.
std::optional<std::size_t> readFirst(Packing& run, OpenMember& member) {
    const std::size_t want = member.info.size <= console::smallCopy
                                 ? static_cast<std::size_t>(member.info.size) + 1
                                 : archive::memberHeaderSize;
    std::size_t have = 0;
    while (have < archive::memberHeaderSize) {
        const std::optional<std::size_t> got = member.file.readSome(run.first.data() + have, want - have);
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

    say(formatText(kind.progress, path.c_str()));
    if (!run.out.write(run.first.data(), *first)) return writeFailure(run);
    run.payload += *first;

    // A small member read whole ended short of what was asked.
    const bool whole = member.info.size <= console::smallCopy && *first == member.info.size;
    if (!whole) {
        // One byte past the room left shows a member that grew while it was
        // copied.
        const std::uint64_t room = archive::maxPayload - run.payload;
        const std::uint64_t expected = member.info.size - std::min<std::uint64_t>(member.info.size, *first);
        const console::CopyResult copy = console::copyBlocks(member.file, run.out, room + 1, expected);
        if (copy.status == console::CopyResult::Status::readError) {
            return Failure{formatText(text::readError, path.c_str())};
        }
        if (copy.status == console::CopyResult::Status::writeError) return writeFailure(run);
        if (copy.copied > room) return tooLargeFailure(path);
        run.payload += copy.copied;
    }
    member.file.close();
    say(text::ok);
    return std::nullopt;
}

Outcome packMember(Packing& run, const std::string& path, const MemberKind& kind) {
    std::variant<OpenMember, Failure> member = openMember(path);
    if (Failure* failed = std::get_if<Failure>(&member)) return std::move(*failed);
    return packMember(run, std::get<OpenMember>(member), path, kind);
}

// Records the end of the member just written in the end-offset table, which
// grows 512 entries at a time.
Outcome recordEnd(const Packing& run, std::vector<std::uint32_t>& memberEnds, std::size_t& capacity) {
    memberEnds.push_back(static_cast<std::uint32_t>(run.payload));
    const std::size_t count = memberEnds.size() - 1;
    if (count >= capacity) {
        capacity += 512;
        try {
            memberEnds.reserve(capacity + 1);
        } catch (const std::bad_alloc&) {
            return Failure{formatText(text::noTableMemory, run.outFile.c_str())};
        }
    }
    return std::nullopt;
}

// The input that the output path names, if it names one: the index or route
// file or a listed .nm2 file, whatever links lead there, or a .nm2 name not
// yet made in the atlas folder that the listing would meet once the archive
// exists there, also through a link that leads nowhere yet.
std::optional<std::string> inputNamedByOutput(const AtlasPaths& paths,
                                              const std::vector<platform::DirEntry>& nm2Entries) {
    const std::optional<platform::FileInfo> atlas = platform::fileInfo(paths.atlasDir);
    const std::optional<platform::FileInfo> out = platform::fileInfo(paths.outFile);
    if (!out) {
        const std::string target = platform::followLinks(paths.outFile).target;
        const platform::PathParts parts = platform::splitPath(target);
        const std::string name = parts.name + parts.ext;
        const std::optional<platform::FileId> targetDir = platform::fileId(parts.drive + parts.dir);
        if (atlas && targetDir == atlas->id && matchesNm2(name)) return console::joinPath(paths.atlasDir, name);
        return std::nullopt;
    }
    if (out->id == platform::fileId(paths.indexFile)) return paths.indexFile;
    if (out->id == platform::fileId(paths.routeFile)) return paths.routeFile;
    const bool sameDevice = atlas && atlas->id.device == out->id.device && atlas->id.path.empty();
    for (const platform::DirEntry& entry : nm2Entries) {
        if (entry.isDirectory) continue;
        // The listing's own number answers for a file that is no link.
        if (entry.inode != 0 && !entry.isLink) {
            if (sameDevice && entry.inode == out->id.inode) return console::joinPath(paths.atlasDir, entry.name);
            continue;
        }
        const std::string path = console::joinPath(paths.atlasDir, entry.name);
        if (out->id == platform::fileId(path)) return path;
    }
    return std::nullopt;
}

// Writes the archive: header, index, route file, the further .nm2 files,
// footer and final header.
Outcome writeArchive(const AtlasPaths& paths, const std::vector<platform::DirEntry>& nm2Entries) {
    std::optional<platform::File> created = platform::createOutput(paths.outFile);
    if (!created) return Failure{formatText(text::cantCreate, paths.outFile.c_str())};
    PartialArchive archive(std::move(*created), paths.outFile);
    Packing run{archive, paths.outFile, console::BlockWriter(archive.file())};

    const archive::ArchiveHeaderBytes provisional = archive::encodeArchiveHeader(archive::ArchiveHeader{});
    if (!run.out.write(provisional.data(), provisional.size())) return writeFailure(run);

    std::size_t capacity = 512;
    std::vector<std::uint32_t> memberEnds;
    try {
        memberEnds.reserve(capacity + 1);
    } catch (const std::bad_alloc&) {
        return Failure{formatText(text::noTableMemory, paths.outFile.c_str())};
    }

    if (Outcome failed = packMember(run, paths.indexFile, indexMember)) return failed;
    memberEnds.push_back(static_cast<std::uint32_t>(run.payload));
    if (Outcome failed = packMember(run, paths.routeFile, routeMember)) return failed;
    memberEnds.push_back(static_cast<std::uint32_t>(run.payload));

    const std::optional<platform::FileId> indexId = platform::fileId(paths.indexFile);
    const std::optional<platform::FileId> routeId = platform::fileId(paths.routeFile);
    const std::optional<platform::FileId> outId = archive.file().id();
    for (const platform::DirEntry& entry : nm2Entries) {
        if (entry.isDirectory) continue;
        const std::string path = console::joinPath(paths.atlasDir, entry.name);
        if (!entry.nameKept) return Failure{formatText(text::cantOpen, path.c_str())};
        std::variant<OpenMember, Failure> opened = openMember(path);
        if (Failure* failed = std::get_if<Failure>(&opened)) return std::move(*failed);
        OpenMember& member = std::get<OpenMember>(opened);
        // The index and route file are in already, under whatever name the
        // listing meets them; the archive must never be read as its own
        // member.
        if (member.info.id == indexId || member.info.id == routeId) continue;
        if (member.info.id == outId) return Failure{formatText(text::cantOpen, path.c_str())};
        if (Outcome failed = packMember(run, member, path, nm2Member)) return failed;
        if (Outcome failed = recordEnd(run, memberEnds, capacity)) return failed;
    }

    const std::uint32_t offsetFooter = memberEnds.back();
    memberEnds.pop_back();
    for (const std::uint32_t start : memberEnds) {
        const archive::FooterEntryBytes entry = archive::encodeFooterEntry(start);
        if (!run.out.write(entry.data(), entry.size())) return writeFailure(run);
    }
    if (!run.out.flush()) return writeFailure(run);
    if (!archive::writeFinalHeader(archive.file(), offsetFooter)) return writeFailure(run);
    const std::uint64_t length = archive::archiveHeaderSize + std::uint64_t{offsetFooter} +
                                 std::uint64_t{archive::footerEntrySize} * memberEnds.size();
    if (!archive.finish(length)) return writeFailure(run);
    return std::nullopt;
}

// Resolves and checks every path, then writes the archive.
Outcome pack(const char* operand, const Options& options) {
    AtlasPaths paths;
    const std::optional<std::string> workingDir = platform::currentDir();
    if (!workingDir) return Failure{text::noWorkingDir};
    paths.workingDir = *workingDir;
    say(formatText(text::workingDir, paths.workingDir.c_str()));

    paths.atlasDir = operand != nullptr ? platform::fullPath(operand, paths.workingDir) : paths.workingDir;
    // A path the system can't place is shown as given, and not found.
    const bool atlasPlaced = !paths.atlasDir.empty();
    if (!atlasPlaced) paths.atlasDir = operand;
    if (paths.atlasDir.size() > 1 && paths.atlasDir.back() == platform::separator &&
        !platform::isRoot(paths.atlasDir)) {
        paths.atlasDir.pop_back();
    }
    say(formatText(text::atlasDir, paths.atlasDir.c_str()));

    if (options.index.empty()) return Failure{text::noIndexOption};
    if (options.route.empty()) return Failure{text::noRouteOption};
    if (options.out.empty()) return Failure{text::noOutOption};

    const platform::PathParts indexParts = platform::splitPath(options.index);
    const platform::PathParts routeParts = platform::splitPath(options.route);
    paths.outFile = platform::fullPath(options.out, paths.workingDir);
    const bool outPlaced = !paths.outFile.empty();
    if (!outPlaced) paths.outFile = options.out;

    if (!atlasPlaced) return Failure{formatText(text::pathNotFound, paths.atlasDir.c_str())};
    switch (platform::pathKind(paths.atlasDir)) {
    case platform::PathKind::directory:
        break;
    case platform::PathKind::other:
        return Failure{formatText(text::notDirectory, paths.atlasDir.c_str())};
    case platform::PathKind::missing:
        if (!platform::exists(paths.atlasDir) || !platform::canReadWrite(paths.atlasDir)) {
            return Failure{formatText(text::pathNotFound, paths.atlasDir.c_str())};
        }
        break;
    }

    paths.indexFile = console::joinPath(paths.atlasDir, indexParts.name + indexParts.ext);
    paths.routeFile = console::joinPath(paths.atlasDir, routeParts.name + routeParts.ext);
    say(formatText(text::indexFile, paths.indexFile.c_str()));
    say(formatText(text::routeFile, paths.routeFile.c_str()));
    say(formatText(text::outFile, paths.outFile.c_str()));
    if (!outPlaced) return Failure{formatText(text::cantCreate, paths.outFile.c_str())};

    if (!platform::canRead(paths.indexFile)) return Failure{formatText(text::cantAccess, paths.indexFile.c_str())};
    if (!platform::canRead(paths.routeFile)) return Failure{formatText(text::cantAccess, paths.routeFile.c_str())};

    // A folder that can't be listed would silently give an archive without
    // its further members.
    const std::optional<std::vector<platform::DirEntry>> nm2Entries = listNm2Entries(paths.atlasDir);
    if (!nm2Entries) return Failure{formatText(text::pathNotFound, paths.atlasDir.c_str())};

    // Creating the output empties it: it must not be one of the inputs.
    if (const std::optional<std::string> input = inputNamedByOutput(paths, *nm2Entries)) {
        return Failure{formatText(text::cantOpen, input->c_str())};
    }

    return writeArchive(paths, *nm2Entries);
}

}  // namespace

int runPacker(int argc, const char* const* argv) {
    Options options;
    const console::ScanResult scan = console::scanOptions(argc, argv, [&](char letter, std::string_view argument) {
        std::string* value = nullptr;
        switch (letter) {
        case 'i':
        case 'I':
            value = &options.index;
            break;
        case 'r':
        case 'R':
            value = &options.route;
            break;
        case 'o':
        case 'O':
            value = &options.out;
            break;
        default:
            return false;
        }
        if (argument.size() > 2 && argument[2] == ':') *value = argument.substr(3);
        return true;
    });
    say(console::unknownOptionsText(scan));
    say(console::bannerText());
    if (scan.operand == console::helpRequested) {
        say(console::usageText(argc > 0 ? argv[0] : "", text::usage));
        return 1;
    }

    platform::catchInterrupts(text::interrupted);
    const Outcome failed = pack(scan.operand > 0 ? argv[scan.operand] : nullptr, options);
    if (failed) {
        say(failed->message);
        return 1;
    }
    return 0;
}

}  // namespace packer
