#include "unpacker/unpack.h"

#include <algorithm>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "cli/outcome.h"
#include "cli/text.h"
#include "cli/transcript.h"
#include "fs/copy.h"
#include "unpacker/archive_reader.h"
#include "unpacker/folder.h"
#include "unpacker/messages.h"

namespace unpacker {

namespace {

using cli::Failure;
using cli::formatText;
using cli::Outcome;

// What the run works with.
struct Run {
    fs::FileSystem& files;
    cli::Transcript& transcript;
};

// The archive as the run reads it.
struct Archive {
    std::string path;
    std::unique_ptr<fs::File> file;
    ArchiveLayout layout;
};

// Where the members go.
struct Destination {
    std::string folderPath;
    std::string baseName;
};

// The state of the extraction once the archive has been checked.
struct Extraction {
    Run& context;
    Archive& archive;
    const Destination& destination;
    fs::BlockReader in;
    // What the open archive is, which no member file may be.
    fs::FileInfo archiveFile;
};

Failure archiveFailure(const char* format, const Archive& archive) {
    return Failure{formatText(format, archive.path.c_str())};
}

// What the unpacker says for each fault reading an archive.
const char* messageFor(ArchiveFault fault) {
    switch (fault) {
    case ArchiveFault::none:
    case ArchiveFault::stopped: break;
    case ArchiveFault::seekStart: return text::seekStart;
    case ArchiveFault::shortHeader: return text::shortHeader;
    case ArchiveFault::notArchive: return text::notArchive;
    case ArchiveFault::seekEnd: return text::seekEnd;
    case ArchiveFault::badFileSize: return text::badFileSize;
    case ArchiveFault::badFooterSize: return text::badFooterSize;
    case ArchiveFault::noTableMemory: return text::noTableMemory;
    case ArchiveFault::seekFooter: return text::seekFooter;
    case ArchiveFault::shortFooter: return text::shortFooter;
    case ArchiveFault::invalidFooter: return text::invalidFooter;
    case ArchiveFault::seekIndexFirst: return text::seekIndexFirst;
    case ArchiveFault::shortIndexHeader: return text::shortIndexHeader;
    case ArchiveFault::badIndexTag: return text::badIndexTag;
    case ArchiveFault::seekIndexSecond: return text::seekIndexSecond;
    }
    return text::readError;
}

// Opens the archive, shared with readers only, and reads and checks it,
// saying what it found. An archive that another run is writing, or that
// the run's own words go to, can't be opened.
Outcome openArchive(Run& run, Archive& archive) {
    fs::FileInfo opened;
    archive.file = run.files.openRead(archive.path, &opened, fs::Lock::shared);
    if (!archive.file) return archiveFailure(text::notFound, archive);
    for (const fs::FileInfo& stream : run.files.standardStreams()) {
        if (fs::maybeSame(opened, stream)) return archiveFailure(text::notFound, archive);
    }
    archive.layout = readArchive(*archive.file);
    const ArchiveLayout& layout = archive.layout;
    if (layout.tagChecked) run.transcript.say(text::tagOk);
    if (layout.sized) run.transcript.say(formatText(text::fileSize, layout.fileSize));
    if (layout.counted) run.transcript.say(formatText(text::footerSize, layout.footerSize));
    if (layout.fault != ArchiveFault::none) return archiveFailure(messageFor(layout.fault), archive);
    return std::nullopt;
}

// Creates a member file. A name not taken yet is made new. A taken one is
// emptied only when it is a regular file of its own: never through a link,
// wherever it leads, never when it is or may be the archive, and never
// when the file has another name, which would keep the member too.
std::unique_ptr<fs::File> createMember(const Extraction& run, const std::string& fileName) {
    fs::FileSystem& files = run.context.files;
    fs::Opened opened = files.openToWrite(fileName);
    if (!opened.file || opened.made) return std::move(opened.file);
    const std::optional<fs::FileInfo> taken = opened.file->info();
    if (!taken || taken->links != 1 || fs::maybeSame(*taken, run.archiveFile)) return nullptr;
    if (!opened.file->truncate(0)) return nullptr;
    return std::move(opened.file);
}

// The bytes from the start of member m to the end of the run of small
// members that begins with it, as far as the reader holds; 0 when member m
// is large.
std::uint64_t smallRunFrom(const std::vector<std::uint32_t>& memberStarts, std::size_t m) {
    std::uint64_t run = 0;
    for (std::size_t j = m; j < memberStarts.size() && run < fs::BlockReader::capacity; ++j) {
        const std::uint64_t length = memberLength(memberStarts, j);
        if (length > fs::smallCopy) break;
        run += length;
    }
    return run;
}

// Creates `fileName` and copies member m, the next bytes of the archive,
// into it, with the member's two-piece progress line. When the reader has to
// read, it reads ahead over the run of small members that begins with it.
Outcome extractMember(Extraction& run, const std::string& fileName, const std::string& progress, std::size_t m) {
    const auto memberFailure = [&](const char* format) { return Failure{formatText(format, fileName.c_str())}; };
    const std::unique_ptr<fs::File> member = createMember(run, fileName);
    if (!member) return memberFailure(text::notCreated);
    run.context.transcript.say(progress);

    const std::uint64_t length = memberLength(run.archive.layout.memberStarts, m);
    if (length <= fs::smallCopy) {
        const auto size = static_cast<std::size_t>(length);
        const std::size_t ahead =
            run.in.held() >= size ? size
                                  : static_cast<std::size_t>(std::min<std::uint64_t>(
                                        smallRunFrom(run.archive.layout.memberStarts, m), fs::BlockReader::capacity));
        if (!run.in.fill(size, ahead)) return archiveFailure(text::readError, run.archive);
        // The size was checked, so an archive that ends early changed under
        // us.
        if (run.in.held() < size) return archiveFailure(text::readError, run.archive);
        if (!member->write(run.in.data(), size)) return memberFailure(text::writeError);
        run.in.consume(size);
    } else {
        // A long copy shows its member's line while it runs.
        run.context.transcript.flush();
        const fs::CopyResult copy = fs::copyBlocks(run.in, *member, length);
        if (copy.outcome == fs::CopyResult::Outcome::readError) return archiveFailure(text::readError, run.archive);
        if (copy.outcome == fs::CopyResult::Outcome::writeError) return memberFailure(text::writeError);
        if (copy.copied < length) return archiveFailure(text::readError, run.archive);
    }
    if (!member->close()) return memberFailure(text::writeError);
    run.context.transcript.say(text::ok);
    return std::nullopt;
}

// Writes the index and then every nm2 member, reading the archive strictly
// in sequence from the index on.
Outcome extractMembers(Run& context, Archive& archive, const Destination& destination, fs::Block block) {
    const std::optional<fs::FileInfo> archiveFile = archive.file->info();
    if (!archiveFile) return archiveFailure(text::readError, archive);
    Extraction run{context, archive, destination, fs::BlockReader(context.files, *archive.file, std::move(block)),
                   *archiveFile};
    const char separator = fs::separatorOf(context.files.style());
    const std::vector<std::uint32_t>& starts = archive.layout.memberStarts;
    const char* folderPath = destination.folderPath.c_str();
    const char* baseName = destination.baseName.c_str();

    const unsigned version = archive.layout.indexVersion;
    const std::string indexName = formatText(text::indexFileName, folderPath, separator, version);
    if (Outcome failed = extractMember(run, indexName, formatText(text::indexProgress, version), 0)) return failed;
    for (std::size_t k = 0; k + 1 < starts.size(); ++k) {
        const auto number = static_cast<unsigned>(k);
        const std::string name = formatText(text::nm2FileName, folderPath, separator, baseName, number);
        const std::string progress = formatText(text::nm2Progress, number, baseName, number);
        if (Outcome failed = extractMember(run, name, progress, k + 1)) return failed;
    }
    return std::nullopt;
}

// The whole run; `archivePath` is filled in once it is known.
Outcome unpackArchive(const unpacker::Job& job, fs::FileSystem& files, cli::Transcript& transcript,
                      std::string& archivePath) {
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
    archivePath = archive.path;
    const Destination destination{folderPathOf(archive.path, style), fs::splitPath(archive.path, style).name};
    transcript.say(formatText(text::folderPath, destination.folderPath.c_str()));
    // The reader's buffer is had before the folder is made or emptied.
    fs::Block block(fs::BlockReader::capacity);

    // A directory is never an archive: no folder is made or emptied for it,
    // and opening it fails as for a missing archive.
    const fs::FileInfo archiveStatus = files.info(archive.path);
    if (archiveStatus.kind == fs::Kind::directory) {
        const fs::Kind folderKind = files.info(destination.folderPath).kind;
        if (folderKind == fs::Kind::file || folderKind == fs::Kind::other) return Failure{text::notDirectory};
    } else {
        if (!prepareFolder(files, destination.folderPath)) return Failure{text::notDirectory};
        // The folder is emptied before the archive is opened; it may hold the
        // archive, or a link of the user's name for it, under a name of its
        // own.
        const KeptFiles kept{archiveStatus, files.followLinks(archive.path).links};
        emptyFolder(files, destination.folderPath, kept);
    }

    if (Outcome failed = openArchive(run, archive)) return failed;
    return extractMembers(run, archive, destination, std::move(block));
}

}  // namespace

Outcome unpack(const unpacker::Job& job, fs::FileSystem& files, cli::Transcript& transcript) {
    std::string archivePath;
    try {
        return unpackArchive(job, files, transcript, archivePath);
    } catch (const std::bad_alloc&) {
        const std::string& path = archivePath.empty() ? job.archive : archivePath;
        return Failure{formatText(text::noTableMemory, path.c_str())};
    }
}

}  // namespace unpacker
