#include "unpacker/unpack.h"

#include <algorithm>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "archive/io.h"
#include "archive/records.h"
#include "console/copy.h"
#include "console/failure.h"
#include "console/text.h"
#include "console/transcript.h"
#include "unpacker/folder.h"
#include "unpacker/footer.h"
#include "unpacker/messages.h"

namespace unpacker {

namespace {

using console::Failure;
using console::formatText;
using console::Outcome;

// What the run works with.
struct Run {
    fs::FileSystem& files;
    console::Transcript& transcript;
};

// The archive as the run reads it.
struct Archive {
    std::string path;
    std::unique_ptr<fs::File> file;
    std::uint32_t offsetFooter = 0;
    // The footer's member starts, then offsetFooter as the last entry.
    std::vector<std::uint32_t> memberStarts;
    std::uint16_t indexVersion = 0;
};

// Where the members go.
struct Destination {
    std::string folderPath;
    std::string baseName;
    // Set when emptying found the archive itself in the folder: then no
    // member file may be created over it.
    std::optional<fs::FileId> archiveInFolder;
};

// The state of the extraction once the archive has been checked.
struct Extraction {
    Run& context;
    Archive& archive;
    const Destination& destination;
    console::CopyBuffer buffer;
};

// Footer entries are counted in 32 bits.
constexpr std::uint64_t maxFooterSize = 0xFFFFFFFFu;
// Footer entries read and checked at a time.
constexpr std::uint64_t footerPiece = 16384;

Failure archiveFailure(const char* format, const Archive& archive) {
    return Failure{formatText(format, archive.path.c_str())};
}

// Opens the archive and reads and checks its header.
Outcome openArchive(Run& run, Archive& archive) {
    archive.file = run.files.openRead(archive.path, nullptr);
    if (!archive.file) return archiveFailure(text::notFound, archive);
    if (!archive.file->seek(0)) return archiveFailure(text::seekStart, archive);

    const std::optional<archive::ArchiveHeader> header = archive::readArchiveHeader(*archive.file);
    if (!header) return archiveFailure(text::shortHeader, archive);
    if (header->tag != archive::archiveTag) return archiveFailure(text::notArchive, archive);
    run.transcript.say(text::tagOk);
    archive.offsetFooter = header->offsetFooter;
    return std::nullopt;
}

// Derives the footer's length from the archive's size, reads the footer and
// checks that its entries describe members in order inside the payload.
Outcome readMemberStarts(Run& run, Archive& archive) {
    const std::optional<std::uint64_t> fileSize = archive.file->seekEnd();
    if (!fileSize) return archiveFailure(text::seekEnd, archive);
    run.transcript.say(formatText(text::fileSize, *fileSize));
    if (!membersFit(*fileSize, archive.offsetFooter)) return archiveFailure(text::badFileSize, archive);

    const std::uint64_t footerSize = footerSizeOf(*fileSize, archive.offsetFooter);
    run.transcript.say(formatText(text::footerSize, footerSize));
    // A file large enough to claim more entries than 32 bits count is
    // refused like one that claims none.
    if (footerSize == 0 || footerSize > maxFooterSize) return archiveFailure(text::badFooterSize, archive);

    if (!archive.file->seek(archive::archiveHeaderSize + std::uint64_t{archive.offsetFooter})) {
        return archiveFailure(text::seekFooter, archive);
    }

    // The footer is read and checked in pieces, and the table grows only by
    // entries found in order, so a hostile footer costs no more memory than
    // the part of it read before it is refused, and a huge one is refused
    // at its first wrong entry. A footer cut short is reported as short
    // whatever its entries are, as reading all of it first would.
    const bool complete = footerComplete(*fileSize, archive.offsetFooter, footerSize);
    FooterOrder order{archive.offsetFooter, 0};
    std::vector<std::uint32_t> piece;
    for (std::uint64_t done = 0; done < footerSize;) {
        const auto now = static_cast<std::uint32_t>(std::min(footerPiece, footerSize - done));
        if (!archive::readFooter(*archive.file, now, piece)) return archiveFailure(text::shortFooter, archive);
        if (!continuesInOrder(order, piece)) {
            return archiveFailure(complete ? text::invalidFooter : text::shortFooter, archive);
        }
        // The table has room for every entry found in order so far, and one
        // more for offsetFooter; a build with a small address space meets
        // its limit here, after the entries before it were checked.
        if (archive.memberStarts.size() + piece.size() + 1 > archive.memberStarts.max_size()) {
            return archiveFailure(text::noTableMemory, archive);
        }
        try {
            archive.memberStarts.insert(archive.memberStarts.end(), piece.begin(), piece.end());
        } catch (const std::bad_alloc&) {
            return archiveFailure(text::noTableMemory, archive);
        }
        done += now;
    }
    try {
        archive.memberStarts.push_back(archive.offsetFooter);
    } catch (const std::bad_alloc&) {
        return archiveFailure(text::noTableMemory, archive);
    }
    return std::nullopt;
}

// Checks the index member's header and goes back to its first byte.
Outcome checkIndex(Archive& archive) {
    if (!archive.file->seek(archive::archiveHeaderSize)) return archiveFailure(text::seekIndexFirst, archive);
    const std::optional<archive::MemberHeaderBytes> bytes = archive::readMemberHeader(*archive.file);
    if (!bytes) return archiveFailure(text::shortIndexHeader, archive);
    const archive::MemberHeader header = archive::decodeMemberHeader(*bytes);
    if (header.tag != archive::indexTag) return archiveFailure(text::badIndexTag, archive);
    archive.indexVersion = header.version;
    if (!archive.file->seek(archive::archiveHeaderSize)) return archiveFailure(text::seekIndexSecond, archive);
    return std::nullopt;
}

// Creates `fileName` and copies the next `length` bytes of the archive into
// it, with the member's two-piece progress line.
Outcome extractMember(Extraction& run, const std::string& fileName, const std::string& progress,
                      std::uint64_t length) {
    const auto memberFailure = [&](const char* format) { return Failure{formatText(format, fileName.c_str())}; };
    // Creating a file empties it, so the archive itself is never a member
    // file, whatever name reaches it.
    fs::FileSystem& files = run.context.files;
    const std::optional<fs::FileId>& archiveId = run.destination.archiveInFolder;
    if (archiveId) {
        const fs::Status existing = files.status(fileName);
        if (existing.kind != fs::Kind::missing && existing.id == *archiveId) return memberFailure(text::notCreated);
    }
    const std::unique_ptr<fs::File> member = files.create(fileName);
    if (!member) return memberFailure(text::notCreated);
    run.context.transcript.say(progress);
    // A long copy shows its member's line while it runs.
    if (length > console::smallCopy) run.context.transcript.flush();

    const console::CopyResult copy = console::copyBlocks(files, *run.archive.file, *member, length, run.buffer);
    if (copy.status == console::CopyResult::Status::readError) return archiveFailure(text::readError, run.archive);
    if (copy.status == console::CopyResult::Status::writeError) return memberFailure(text::writeError);
    // The size was checked, so an archive that ends early changed under us.
    if (copy.copied < length) return archiveFailure(text::readError, run.archive);
    if (!member->close()) return memberFailure(text::writeError);
    run.context.transcript.say(text::ok);
    return std::nullopt;
}

// Writes the index and then every nm2 member, reading the archive strictly
// in sequence from the index on.
Outcome extractMembers(Run& context, Archive& archive, const Destination& destination) {
    Extraction run{context, archive, destination, {}};
    const char separator = fs::separatorOf(context.files.style());
    const std::vector<std::uint32_t>& starts = archive.memberStarts;
    const char* folderPath = destination.folderPath.c_str();
    const char* baseName = destination.baseName.c_str();

    const unsigned version = archive.indexVersion;
    const std::string indexName = formatText(text::indexFileName, folderPath, separator, version);
    if (Outcome failed = extractMember(run, indexName, formatText(text::indexProgress, version), starts.front())) {
        return failed;
    }
    for (std::size_t k = 0; k + 1 < starts.size(); ++k) {
        const auto number = static_cast<unsigned>(k);
        const std::string name = formatText(text::nm2FileName, folderPath, separator, baseName, number);
        const std::string progress = formatText(text::nm2Progress, number, baseName, number);
        if (Outcome failed = extractMember(run, name, progress, starts[k + 1] - starts[k])) return failed;
    }
    return std::nullopt;
}

}  // namespace

Outcome unpack(const cli::UnpackJob& job, fs::FileSystem& files, console::Transcript& transcript) {
    Run run{files, transcript};
    const fs::PathStyle style = files.style();
    const char* operand = job.archive.c_str();
    transcript.say(formatText(text::archiveName, operand));
    const std::optional<std::string> workingDir =
        fs::isAbsolute(operand, style) ? std::optional<std::string>(std::string()) : files.currentDir();
    // Without it a relative archive path can't be placed, nor its folder
    // beside it.
    if (!workingDir) return Failure{formatText(text::notFound, operand)};

    Archive archive;
    archive.path = files.fullPath(operand, *workingDir);
    // A path the system can't place names no archive, and no folder is made
    // for it.
    if (archive.path.empty()) return Failure{formatText(text::notFound, operand)};
    Destination destination{folderPathOf(archive.path, style), fs::splitPath(archive.path, style).name, std::nullopt};
    transcript.say(formatText(text::folderPath, destination.folderPath.c_str()));

    // A directory is never an archive: no folder is made or emptied for it,
    // and opening it fails as for a missing archive.
    const fs::Status archiveStatus = files.status(archive.path);
    if (archiveStatus.kind == fs::Kind::directory) {
        const fs::Kind folderKind = files.status(destination.folderPath).kind;
        if (folderKind == fs::Kind::file || folderKind == fs::Kind::other) return Failure{text::notDirectory};
    } else {
        if (!prepareFolder(files, destination.folderPath)) return Failure{text::notDirectory};
        // The folder is emptied before the archive is opened; it may hold the
        // archive, or a link of the user's name for it, under a name of its
        // own.
        KeptFiles kept{std::nullopt, files.followLinks(archive.path).links};
        if (archiveStatus.kind != fs::Kind::missing) kept.archive = archiveStatus.id;
        if (emptyFolder(files, destination.folderPath, kept)) destination.archiveInFolder = kept.archive;
    }

    if (Outcome failed = openArchive(run, archive)) return failed;
    if (Outcome failed = readMemberStarts(run, archive)) return failed;
    if (Outcome failed = checkIndex(archive)) return failed;
    return extractMembers(run, archive, destination);
}

}  // namespace unpacker
