#include "unpacker/unpack.h"

#include <algorithm>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "archive/io.h"
#include "archive/records.h"
#include "console/copy.h"
#include "console/failure.h"
#include "console/frame.h"
#include "console/text.h"
#include "platform/platform.h"
#include "unpacker/folder.h"
#include "unpacker/footer.h"
#include "unpacker/messages.h"

namespace unpacker {

namespace {

using console::Failure;
using console::formatText;
using console::Outcome;
using console::say;

// The archive as the run reads it.
struct Archive {
    std::string path;
    platform::File file;
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
    std::optional<platform::FileId> archiveInFolder;
};

// The state of the extraction once the archive has been checked.
struct Extraction {
    Archive& archive;
    const Destination& destination;
    console::BlockReader in;
};

// Footer entries are counted in 32 bits.
constexpr std::uint64_t maxFooterSize = 0xFFFFFFFFu;
// Footer entries read and checked at a time.
constexpr std::uint64_t footerPiece = 16384;

Failure archiveFailure(const char* format, const Archive& archive) {
    return Failure{formatText(format, archive.path.c_str())};
}

// Opens the archive and reads and checks its header.
Outcome openArchive(Archive& archive) {
    std::optional<platform::File> file = platform::openRead(archive.path);
    if (!file) return archiveFailure(text::notFound, archive);
    archive.file = std::move(*file);
    if (!archive.file.seek(0)) return archiveFailure(text::seekStart, archive);

    const std::optional<archive::ArchiveHeader> header = archive::readArchiveHeader(archive.file);
    if (!header) return archiveFailure(text::shortHeader, archive);
    if (header->tag != archive::archiveTag) return archiveFailure(text::notArchive, archive);
    say(text::tagOk);
    archive.offsetFooter = header->offsetFooter;
    return std::nullopt;
}

// Derives the footer's length from the archive's size, reads the footer and
// checks that its entries describe members in order inside the payload.
Outcome readMemberStarts(Archive& archive) {
    const std::optional<std::uint64_t> fileSize = archive.file.seekEnd();
    if (!fileSize) return archiveFailure(text::seekEnd, archive);
    say(formatText(text::fileSize, *fileSize));
    if (!membersFit(*fileSize, archive.offsetFooter)) return archiveFailure(text::badFileSize, archive);

    const std::uint64_t footerSize = footerSizeOf(*fileSize, archive.offsetFooter);
    say(formatText(text::footerSize, footerSize));
    // A file large enough to claim more entries than 32 bits count is
    // refused like one that claims none.
    if (footerSize == 0 || footerSize > maxFooterSize) return archiveFailure(text::badFooterSize, archive);

    if (!archive.file.seek(archive::archiveHeaderSize + std::uint64_t{archive.offsetFooter})) {
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
        if (!archive::readFooter(archive.file, now, piece)) return archiveFailure(text::shortFooter, archive);
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
    if (!archive.file.seek(archive::archiveHeaderSize)) return archiveFailure(text::seekIndexFirst, archive);
    const std::optional<archive::MemberHeaderBytes> bytes = archive::readMemberHeader(archive.file);
    if (!bytes) return archiveFailure(text::shortIndexHeader, archive);
    const archive::MemberHeader header = archive::decodeMemberHeader(*bytes);
    if (header.tag != archive::indexTag) return archiveFailure(text::badIndexTag, archive);
    archive.indexVersion = header.version;
    if (!archive.file.seek(archive::archiveHeaderSize)) return archiveFailure(text::seekIndexSecond, archive);
    return std::nullopt;
}

// Creates a member file. A name not taken yet is made new; a taken one is
// emptied, unless it is the archive itself, whatever name reaches it.
std::optional<platform::File> createMember(const Extraction& run, const std::string& fileName) {
    platform::NewFile made = platform::createNew(fileName);
    if (made.file || !made.existed) return std::move(made.file);
    const std::optional<platform::FileId>& archiveId = run.destination.archiveInFolder;
    if (archiveId && platform::fileId(fileName) == archiveId) return std::nullopt;
    return platform::createFile(fileName);
}

// Creates `fileName` and copies the next `length` bytes of the archive into
// it, with the member's two-piece progress line. `ahead` is how far the
// archive may be read ahead from the member's start: over the run of small
// members that begins with it.
Outcome extractMember(Extraction& run, const std::string& fileName, const std::string& progress,
                      std::uint64_t length, std::uint64_t ahead) {
    const auto memberFailure = [&](const char* format) { return Failure{formatText(format, fileName.c_str())}; };
    std::optional<platform::File> member = createMember(run, fileName);
    if (!member) return memberFailure(text::notCreated);
    say(progress);

    if (length <= console::smallCopy) {
        const auto size = static_cast<std::size_t>(length);
        if (!run.in.fill(size, static_cast<std::size_t>(std::min<std::uint64_t>(ahead, console::BlockReader::capacity)))) {
            return archiveFailure(text::readError, run.archive);
        }
        // The size was checked, so an archive that ends early changed under
        // us.
        if (run.in.held() < size) return archiveFailure(text::readError, run.archive);
        if (!member->write(run.in.data(), size)) return memberFailure(text::writeError);
        run.in.consume(size);
    } else {
        // A long copy shows its member's line while it runs.
        console::flushSaid();
        const console::CopyResult copy = console::copyBlocks(run.in, *member, length);
        if (copy.status == console::CopyResult::Status::readError) return archiveFailure(text::readError, run.archive);
        if (copy.status == console::CopyResult::Status::writeError) return memberFailure(text::writeError);
        if (copy.copied < length) return archiveFailure(text::readError, run.archive);
    }
    if (!member->close()) return memberFailure(text::writeError);
    say(text::ok);
    return std::nullopt;
}

// The bytes from the start of member m (0 the index, k + 1 nm2 member k) to
// the end of the run of small members that begins with it, as far as the
// reader holds; 0 when member m is large. `ends` holds each member's end.
std::uint64_t smallRunFrom(const std::vector<std::uint32_t>& ends, std::size_t m) {
    std::uint64_t run = 0;
    for (std::size_t j = m; j < ends.size() && run < console::BlockReader::capacity; ++j) {
        const std::uint64_t length = ends[j] - (j == 0 ? 0 : ends[j - 1]);
        if (length > console::smallCopy) break;
        run += length;
    }
    return run;
}

// Writes the index and then every nm2 member, reading the archive strictly
// in sequence from the index on.
Outcome extractMembers(Archive& archive, const Destination& destination) {
    Extraction run{archive, destination, console::BlockReader(archive.file)};
    const std::vector<std::uint32_t>& starts = archive.memberStarts;
    const char* folderPath = destination.folderPath.c_str();
    const char* baseName = destination.baseName.c_str();

    const unsigned version = archive.indexVersion;
    const std::string indexName = formatText(text::indexFileName, folderPath, platform::separator, version);
    if (Outcome failed = extractMember(run, indexName, formatText(text::indexProgress, version), starts.front(),
                                       smallRunFrom(starts, 0))) {
        return failed;
    }
    for (std::size_t k = 0; k + 1 < starts.size(); ++k) {
        const auto number = static_cast<unsigned>(k);
        const std::string name = formatText(text::nm2FileName, folderPath, platform::separator, baseName, number);
        const std::string progress = formatText(text::nm2Progress, number, baseName, number);
        if (Outcome failed = extractMember(run, name, progress, starts[k + 1] - starts[k],
                                           smallRunFrom(starts, k + 1))) {
            return failed;
        }
    }
    return std::nullopt;
}

// Prepares the folder, checks the archive and extracts its members.
Outcome unpack(const char* operand) {
    say(formatText(text::archiveName, operand));
    const std::optional<std::string> workingDir =
        platform::isAbsolute(operand) ? std::optional<std::string>(std::string()) : platform::currentDir();
    // Without it a relative archive path can't be placed, nor its folder
    // beside it.
    if (!workingDir) return Failure{formatText(text::notFound, operand)};

    Archive archive;
    archive.path = platform::fullPath(operand, *workingDir);
    // A path the system can't place names no archive, and no folder is made
    // for it.
    if (archive.path.empty()) return Failure{formatText(text::notFound, operand)};
    Destination destination{folderPathOf(archive.path), platform::splitPath(archive.path).name, std::nullopt};
    say(formatText(text::folderPath, destination.folderPath.c_str()));

    // A directory is never an archive: no folder is made or emptied for it,
    // and opening it fails as for a missing archive.
    if (platform::pathKind(archive.path) == platform::PathKind::directory) {
        if (platform::pathKind(destination.folderPath) == platform::PathKind::other) return Failure{text::notDirectory};
    } else {
        if (!prepareFolder(destination.folderPath)) return Failure{text::notDirectory};
        // The folder is emptied before the archive is opened; it may hold the
        // archive, or a link of the user's name for it, under a name of its
        // own.
        const KeptFiles kept{platform::fileId(archive.path), platform::followLinks(archive.path).links};
        if (emptyFolder(destination.folderPath, kept)) destination.archiveInFolder = kept.archive;
    }

    if (Outcome failed = openArchive(archive)) return failed;
    if (Outcome failed = readMemberStarts(archive)) return failed;
    if (Outcome failed = checkIndex(archive)) return failed;
    return extractMembers(archive, destination);
}

}  // namespace

int runUnpacker(int argc, const char* const* argv) {
    // Only the help letters mean anything.
    const console::ScanResult scan = console::scanOptions(argc, argv, [](char, std::string_view) { return false; });
    say(console::unknownOptionsText(scan));
    say(console::bannerText());
    if (scan.operand <= 0) {
        say(console::usageText(argc > 0 ? argv[0] : "", text::usage));
        return 1;
    }

    // What was written stays when the run is interrupted.
    platform::catchInterrupts(text::interrupted);
    const Outcome failed = unpack(argv[scan.operand]);
    if (failed) {
        say(failed->message);
        return 1;
    }
    return 0;
}

}  // namespace unpacker
