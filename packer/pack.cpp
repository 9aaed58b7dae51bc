#include "packer/pack.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "cli/command_line.h"
#include "cli/outcome.h"
#include "cli/text.h"
#include "cli/transcript.h"
#include "format/records.h"
#include "fs/copy.h"
#include "packer/atlas.h"
#include "packer/messages.h"

namespace packer {

namespace {

using cli::Failure;
using cli::formatText;
using cli::Outcome;

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

constexpr MemberKind indexMember{text::shortIndexHeader, format::minIndexVersion, text::badIndexVersion,
                                 text::indexProgress};
constexpr MemberKind routeMember{text::shortNm2Header, format::minNm2Version, text::badNm2Version, text::routeProgress};
constexpr MemberKind nm2Member{text::shortNm2Header, format::minNm2Version, text::badNm2Version, text::nm2Progress};

// The archive while it is being written: unless it is finished, leaving
// scope cuts it to 0 bytes, so that no other name of the file keeps any of
// it, and deletes it, with the file made at the end of a link if there is
// one. From its creation until the run has said its last line, an
// interrupt does the same. An existing file is written over from byte 0
// and its length set when the archive is complete.
class PartialArchive {
public:
    PartialArchive(fs::FileSystem& files, cli::Transcript& transcript, OutputGuard& guard, const std::string& path)
        : files_(files), transcript_(transcript), guard_(guard), path_(path) {}
    PartialArchive(const PartialArchive&) = delete;
    PartialArchive& operator=(const PartialArchive&) = delete;
    ~PartialArchive() {
        if (!file_ || finished_) return;
        if (open_) {
            [[maybe_unused]] const bool cut = file_->truncate(0);
            [[maybe_unused]] const bool closed = file_->close();
        } else {
            [[maybe_unused]] const bool cut = files_.emptyFile(path_);
        }
        // Deleted before the guard forgets it, so that no moment is left in
        // which an interrupt would leave it behind.
        [[maybe_unused]] const bool removed = files_.remove(path_);
        if (!madeAt_.empty()) static_cast<void>(files_.remove(madeAt_));
        guard_.forget();
    }

    // Creates the archive under the guard; false when it can't be made.
    [[nodiscard]] bool create() {
        file_ = guard_.create(files_, path_, madeAt_);
        return file_ != nullptr;
    }

    fs::File& file() { return *file_; }

    // Closes the archive and, once everything said so far is out, keeps it;
    // false when what was written didn't all reach the file.
    [[nodiscard]] bool finish() {
        open_ = false;
        if (!guard_.close(*file_)) return false;
        transcript_.flush();
        guard_.keep();
        finished_ = true;
        return true;
    }

private:
    fs::FileSystem& files_;
    cli::Transcript& transcript_;
    OutputGuard& guard_;
    const std::string path_;
    std::string madeAt_;  // where a link that led nowhere made the file
    std::unique_ptr<fs::File> file_;
    bool open_ = true;
    bool finished_ = false;
};

// Every buffer a run needs, had before anything is created, so that a
// run short of memory fails having changed nothing.
struct Buffers {
    fs::Block block{fs::BlockWriter::capacity};
    // A small member's bytes, read in one go and checked before they join
    // the archive.
    fs::Block first{fs::smallCopy + 1};
    // Where each nm2 member starts, then offsetFooter; it grows 512 entries
    // at a time.
    std::vector<std::uint32_t> memberStarts;
    std::size_t capacity = 512;

    Buffers() { memberStarts.reserve(capacity + 1); }
};

// The state of one packing run once the archive exists.
struct Packing {
    fs::FileSystem& files;
    cli::Transcript& transcript;
    PartialArchive& archive;
    const std::string& outFile;
    fs::BlockWriter out;
    fs::Block& first;
    std::uint64_t payload = 0;  // bytes of members written so far
};

Failure writeFailure(const Packing& run) { return Failure{formatText(text::writeError, run.outFile.c_str())}; }

Failure tooLargeFailure(const std::string& path) { return Failure{formatText(text::tooLarge, path.c_str())}; }

struct OpenMember {
    std::unique_ptr<fs::File> file;
    fs::FileInfo info;
};

std::variant<OpenMember, Failure> openMember(fs::FileSystem& files, const std::string& path) {
    OpenMember member;
    member.file = files.openRead(path, &member.info);
    if (!member.file) return Failure{formatText(text::cantOpen, path.c_str())};
    return member;
}

// Reads a member's first bytes into `run.first`: a small member whole in
// one read where the file allows, a larger one at least its header. nullopt
// on a read error.
std::optional<std::size_t> readFirst(Packing& run, OpenMember& member) {
    const std::size_t want =
        member.info.size <= fs::smallCopy ? static_cast<std::size_t>(member.info.size) + 1 : format::memberHeaderSize;
    std::size_t have = 0;
    while (have < format::memberHeaderSize) {
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
    if (!first || *first < format::memberHeaderSize) return Failure{formatText(kind.shortHeader, path.c_str())};
    format::MemberHeaderBytes header{};
    std::memcpy(header.data(), run.first.data(), header.size());
    const std::uint16_t version = format::decodeMemberHeader(header).version;
    if (version < kind.minVersion) return Failure{formatText(kind.badVersion, unsigned{version}, path.c_str())};

    // A member that can't fit fails before any of it is copied.
    if (run.payload + std::max<std::uint64_t>(member.info.size, *first) > format::maxPayload) {
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
        const std::uint64_t room = format::maxPayload - run.payload;
        const std::uint64_t expected = member.info.size - std::min<std::uint64_t>(member.info.size, *first);
        const fs::CopyResult copy = fs::copyBlocks(*member.file, *first, run.out, room + 1, expected);
        if (copy.outcome == fs::CopyResult::Outcome::readError) {
            return Failure{formatText(text::readError, path.c_str())};
        }
        if (copy.outcome == fs::CopyResult::Outcome::writeError) return writeFailure(run);
        if (copy.copied > room) return tooLargeFailure(path);
        run.payload += copy.copied;
    }
    [[maybe_unused]] const bool closed = member.file->close();
    run.transcript.say(text::ok);
    return std::nullopt;
}

// `info` receives what the member was when it opened.
Outcome packMember(Packing& run, const std::string& path, const MemberKind& kind, fs::FileInfo& info) {
    std::variant<OpenMember, Failure> member = openMember(run.files, path);
    if (Failure* failed = std::get_if<Failure>(&member)) return std::move(*failed);
    info = std::get<OpenMember>(member).info;
    return packMember(run, std::get<OpenMember>(member), path, kind);
}

// Records where the next member starts, the end of the one just written, in
// the table of member starts (offsetFooter once the last is in), which
// grows 512 entries at a time; a failure to grow it ends the run as any
// other allocation's.
void recordNextStart(const Packing& run, Buffers& buffers) {
    buffers.memberStarts.push_back(static_cast<std::uint32_t>(run.payload));
    const std::size_t count = buffers.memberStarts.size() - 1;
    if (count >= buffers.capacity) {
        buffers.capacity += 512;
        buffers.memberStarts.reserve(buffers.capacity + 1);
    }
}

// Whether two names in one folder are one name there: exactly the same
// bytes, or on Windows the same without regard to case, which the system
// may take for one name.
bool sameName(std::string_view a, std::string_view b, fs::PathStyle style) {
    if (style == fs::PathStyle::posix) return a == b;
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto up = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - ('a' - 'A')) : c; };
               return up(x) == up(y);
           });
}

// Where a path that names nothing yet would be made: the folder the last
// of its links leads into, and the name there.
struct Destination {
    fs::FileInfo folder;
    std::string name;
};

Destination destinationOf(fs::FileSystem& files, const std::string& path) {
    const fs::PathStyle style = files.style();
    const fs::PathParts parts = fs::splitPath(files.followLinks(path).target, style);
    return {files.info(parts.drive + parts.dir), parts.name + parts.ext};
}

// The input that the output path names, if it names one or may name one:
// the index or route file or a listed .nm2 file, whatever links or mounts
// lead there; or, when nothing is there yet, a .nm2 name in the atlas folder
// that the listing would meet once the archive exists, also through a link
// that leads nowhere yet, or a listed link that leads where the archive
// would be made. Each is told by what the system says the file is, never by
// a listing's numbers or a path's spelling. `out` is what the output path
// leads to; where it leads to something, `nm2Entries` come with their
// identities.
std::optional<std::string> inputNamedByOutput(fs::FileSystem& files, const AtlasPaths& paths, const fs::FileInfo& out,
                                              const std::vector<fs::Entry>& nm2Entries) {
    const fs::PathStyle style = files.style();
    if (out.kind == fs::Kind::missing) {
        const Destination made = destinationOf(files, paths.outFile);
        const fs::FileInfo atlas = files.info(paths.atlasDir);
        if (fs::maybeSame(made.folder, atlas) && matchesNm2(made.name)) {
            return fs::joinPath(paths.atlasDir, made.name, style);
        }
        // A member link that leads nowhere yet would lead to the archive,
        // the output's own name among them.
        for (const fs::Entry& entry : nm2Entries) {
            if (!entry.isLink || entry.isDirectory) continue;
            const std::string path = fs::joinPath(paths.atlasDir, entry.name, style);
            const Destination leads = destinationOf(files, path);
            if (fs::maybeSame(leads.folder, made.folder) && sameName(leads.name, made.name, style)) return path;
        }
        return std::nullopt;
    }
    // The input surely named, else the first that may be.
    std::optional<std::string> unsure;
    const auto named = [&](const std::string& path, const fs::FileInfo& input) {
        const fs::Sameness sameness = fs::sameFile(out, input);
        if (sameness == fs::Sameness::unsure && !unsure) unsure = path;
        return sameness == fs::Sameness::same;
    };
    if (named(paths.indexFile, files.info(paths.indexFile))) return paths.indexFile;
    if (named(paths.routeFile, files.info(paths.routeFile))) return paths.routeFile;
    for (const fs::Entry& entry : nm2Entries) {
        if (entry.isDirectory || !fs::maybeSame(out, entry.info)) continue;
        const std::string path = fs::joinPath(paths.atlasDir, entry.name, style);
        if (named(path, entry.info)) return path;
    }
    // Where the numbers can't be trusted, an output with another name may
    // be an input by a name not looked at: it is taken for the first.
    if (!unsure && !out.id.numbered && out.links > 1) return paths.indexFile;
    return unsure;
}

// Whether the output is a file behind the standard output or error stream,
// which the run's own words would then be written into.
bool outputIsAStream(fs::FileSystem& files, const fs::FileInfo& out) {
    for (const fs::FileInfo& stream : files.standardStreams()) {
        if (fs::maybeSame(out, stream)) return true;
    }
    return false;
}

// What a listed member is to the inputs already packed and to the archive:
// nothing (it is packed), the index or route file again (it is skipped), or
// a file that is or may be the archive, or that can't be told from one of
// them (the run fails on it).
enum class Listed { member, packed, refused };

Listed judge(const fs::FileInfo& member, const fs::FileInfo& index, const fs::FileInfo& route,
             const std::optional<fs::FileInfo>& out) {
    if (out && fs::maybeSame(member, *out)) return Listed::refused;
    const fs::Sameness asIndex = fs::sameFile(member, index);
    const fs::Sameness asRoute = fs::sameFile(member, route);
    if (asIndex == fs::Sameness::unsure || asRoute == fs::Sameness::unsure) return Listed::refused;
    if (asIndex == fs::Sameness::same || asRoute == fs::Sameness::same) return Listed::packed;
    return Listed::member;
}

// Goes back to byte 0 and writes the header again with the final
// offsetFooter.
[[nodiscard]] bool writeFinalHeader(fs::File& archive, std::uint32_t offsetFooter) {
    format::ArchiveHeader header;
    header.offsetFooter = offsetFooter;
    const format::ArchiveHeaderBytes bytes = format::encodeArchiveHeader(header);
    return archive.seek(0) && archive.write(bytes.data(), bytes.size());
}

// Writes the archive: header, index, route file, the further .nm2 files,
// footer and final header. The final length is set before the final header
// is written, so that whatever moment ends the run leaves the old file, a
// file no reader takes (its header is still the provisional one), or the
// complete archive.
Outcome writeArchive(fs::FileSystem& files, cli::Transcript& transcript, OutputGuard& guard, const AtlasPaths& paths,
                     const std::vector<fs::Entry>& nm2Entries) {
    Buffers buffers;
    PartialArchive archive(files, transcript, guard, paths.outFile);
    if (!archive.create()) return Failure{formatText(text::cantCreate, paths.outFile.c_str())};
    Packing run{files,
                transcript,
                archive,
                paths.outFile,
                fs::BlockWriter(files, archive.file(), std::move(buffers.block)),
                buffers.first};

    const format::ArchiveHeaderBytes provisional = format::encodeArchiveHeader(format::ArchiveHeader{});
    if (!run.out.write(provisional.data(), provisional.size())) return writeFailure(run);

    // The index and route file as they opened: a later look could fail, and
    // let the listing pack them again.
    fs::FileInfo index;
    fs::FileInfo route;
    if (Outcome failed = packMember(run, paths.indexFile, indexMember, index)) return failed;
    buffers.memberStarts.push_back(static_cast<std::uint32_t>(run.payload));
    if (Outcome failed = packMember(run, paths.routeFile, routeMember, route)) return failed;
    buffers.memberStarts.push_back(static_cast<std::uint32_t>(run.payload));

    const std::optional<fs::FileInfo> out = archive.file().info();
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
        const Listed listed = judge(member.info, index, route, out);
        if (listed == Listed::packed) continue;
        if (listed == Listed::refused) return Failure{formatText(text::cantOpen, path.c_str())};
        if (Outcome failed = packMember(run, member, path, nm2Member)) return failed;
        recordNextStart(run, buffers);
    }

    std::vector<std::uint32_t>& memberStarts = buffers.memberStarts;
    const std::uint32_t offsetFooter = memberStarts.back();
    memberStarts.pop_back();
    for (const std::uint32_t start : memberStarts) {
        const format::FooterEntryBytes entry = format::encodeFooterEntry(start);
        if (!run.out.write(entry.data(), entry.size())) return writeFailure(run);
    }
    if (!run.out.flush()) return writeFailure(run);
    const std::uint64_t length = format::archiveHeaderSize + std::uint64_t{offsetFooter} +
                                 std::uint64_t{format::footerEntrySize} * memberStarts.size();
    if (!archive.file().truncate(length)) return writeFailure(run);
    if (!writeFinalHeader(archive.file(), offsetFooter)) return writeFailure(run);
    if (!archive.finish()) return writeFailure(run);
    return std::nullopt;
}

// The whole run; `paths` are filled in as they are found.
Outcome packAtlas(const Job& job, fs::FileSystem& files, cli::Transcript& transcript, OutputGuard& guard,
                  AtlasPaths& paths) {
    const fs::PathStyle style = files.style();
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
    switch (files.info(paths.atlasDir).kind) {
    case fs::Kind::directory: break;
    case fs::Kind::file:
    case fs::Kind::other: return Failure{formatText(text::notDirectory, paths.atlasDir.c_str())};
    case fs::Kind::missing:
        if (!files.access(paths.atlasDir, fs::Access::readWrite)) {
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
    // Where the output exists, each entry's identity comes with the listing,
    // to be compared with the output's.
    const fs::FileInfo out = files.info(paths.outFile);
    const std::optional<std::vector<fs::Entry>> nm2Entries = listNm2Entries(
        files, paths.atlasDir, out.kind == fs::Kind::missing ? fs::Detail::names : fs::Detail::identities);
    if (!nm2Entries) return Failure{formatText(text::pathNotFound, paths.atlasDir.c_str())};

    // Creating the output empties it: it must not be one of the inputs, nor
    // a file the run's own words go to.
    if (const std::optional<std::string> input = inputNamedByOutput(files, paths, out, *nm2Entries)) {
        return Failure{formatText(text::cantOpen, input->c_str())};
    }
    if (outputIsAStream(files, out)) return Failure{formatText(text::cantCreate, paths.outFile.c_str())};

    return writeArchive(files, transcript, guard, paths, *nm2Entries);
}

}  // namespace

Outcome pack(const Job& job, fs::FileSystem& files, cli::Transcript& transcript, OutputGuard& guard) {
    AtlasPaths paths;
    try {
        return packAtlas(job, files, transcript, guard, paths);
    } catch (const std::bad_alloc&) {
        // The archive, if it was made, is gone already with the run's state.
        const std::string& outFile = paths.outFile.empty() ? job.out : paths.outFile;
        return Failure{formatText(text::noTableMemory, outFile.c_str())};
    }
}

}  // namespace packer
