// The file system under every program, passed in: the programs reach files
// only through these operations, so that the same procedures run on the
// real disk, in memory, or with a failure planted at any call. One
// implementation per platform calls the system (posix_file_system.cpp,
// windows_file_system.cpp); the build picks it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fs/paths.h"

namespace fs {

// Identifies a file whatever path reaches it: its device and its number
// there. Some systems number files in 128 bits: then `inodeHigh` holds the
// upper half. Where a file system can't be trusted to number its files,
// `numbered` is false; `finalPath` holds the file's full path as the system
// resolves it, links followed, where the system gives one (empty when it
// can't be had). Identities are compared only through sameFile.
struct FileId {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t inodeHigh = 0;
    bool numbered = true;
    std::string finalPath;
};

enum class Kind { missing, directory, file, other };

// What a name leads to: its kind (`other` for a FIFO, a device or, not
// followed, a symbolic link), its identity, size and number of names.
struct FileInfo {
    Kind kind = Kind::missing;
    FileId id;
    std::uint64_t size = 0;
    std::uint64_t links = 1;
};

// Whether two files are one: `unsure` where the system can't tell, which
// every caller treats as the same file unless it refuses to go on.
enum class Sameness { different, same, unsure };

// Numbered files are the same when their numbers are. Others are the same
// when their final paths are, and different when those differ and the two
// don't have the same count of more than one name; anything else can't be
// told. Nothing there is no file.
[[nodiscard]] Sameness sameFile(const FileInfo& a, const FileInfo& b);

// Whether the two may be one file.
[[nodiscard]] inline bool maybeSame(const FileInfo& a, const FileInfo& b) {
    return sameFile(a, b) != Sameness::different;
}

struct Entry {
    std::string name;
    bool isDirectory = false;  // links followed
    bool isLink = false;       // a symbolic link, whatever it leads to
    // The number the listing gives the entry, 0 where it gives none. It
    // orders work on the folder and never identifies a file: a mount point
    // shows the number of the file it covers, and an overlay's files are
    // numbered on devices of their own.
    std::uint64_t inode = 0;
    // False when the name doesn't lead back to this entry (it can't be
    // written in UTF-8 without loss, or the listing showed it for more than
    // one entry): such an entry can be neither opened nor deleted.
    bool nameKept = true;
    // Only from a listing of identities: what info() tells of the name.
    FileInfo info;
};

// What a listing finds out about each entry: its name and kind, or also
// what it is, which a system may find faster for a whole folder than name
// by name: what the name leads to through every link (`identities`), or the
// name itself (`ownIdentities`, a link as a link, a mount point as what is
// mounted there).
enum class Detail { names, identities, ownIdentities };

// The symbolic links that lead from a path to the file it names, followed
// one by one through its last part; a path that is no link has none.
struct LinkChain {
    std::vector<FileInfo> links;  // each link itself, not followed, in order
    // Where the last link leads (the path itself when it is no link): the
    // file an open reaches, or creates when nothing is there.
    std::string target;
};

// Whether a path's last name is followed when it is a symbolic link.
enum class Links { followed, notFollowed };

enum class Access { read, readWrite };

// What an open of a file to read asks of other runs: `shared`, that none
// writes it meanwhile.
enum class Lock { none, shared };

// An open file; closed, if still open, when it is destroyed. Positions and
// sizes are 64-bit.
class File {
public:
    virtual ~File() = default;

    // Reads until `size` bytes are in or the file ends; nullopt on a read
    // error.
    [[nodiscard]] virtual std::optional<std::size_t> read(void* buffer, std::size_t size) = 0;
    // One read of at most `size` bytes: 0 at the end of the file, possibly
    // fewer bytes before it; nullopt on a read error.
    [[nodiscard]] virtual std::optional<std::size_t> readSome(void* buffer, std::size_t size) = 0;
    // Writes all of `size` bytes; false on any failure.
    [[nodiscard]] virtual bool write(const void* data, std::size_t size) = 0;
    [[nodiscard]] virtual bool seek(std::uint64_t position) = 0;
    [[nodiscard]] virtual std::optional<std::uint64_t> seekEnd() = 0;
    // Sets the file's length, cutting or extending it; the position stays.
    [[nodiscard]] virtual bool truncate(std::uint64_t length) = 0;
    // What the open file is now.
    [[nodiscard]] virtual std::optional<FileInfo> info() = 0;
    // Closes the file and reports whether everything written reached it.
    [[nodiscard]] virtual bool close() = 0;
};

// A file opened to be written as it is found: made new, or the file that
// already had the name, for the caller to judge before it cuts it.
struct Opened {
    std::unique_ptr<File> file;  // null when it can't be had
    bool made = false;           // made new, not found there
};

// How a copy inside the system went. `refused` means that no byte moved and
// the system can't do it for these files: the caller copies through its own
// buffer instead. Once bytes have left the source, a failure to place them
// is a write error.
struct KernelCopy {
    enum class Outcome { copied, endOfFile, refused, readError, writeError };
    Outcome outcome;
    std::size_t bytes = 0;
};

// The most a copy inside the system moves in one call: larger pieces are cut
// to it.
inline constexpr std::size_t kernelPiece = 1024 * 1024;

class FileSystem {
public:
    virtual ~FileSystem() = default;

    [[nodiscard]] virtual PathStyle style() const = 0;
    // The process's current directory; nullopt when it can't be read.
    [[nodiscard]] virtual std::optional<std::string> currentDir() = 0;
    // The absolute form of `path`, relative paths taken from `workingDir`
    // (see lexicalFullPath); empty when it can't be formed.
    [[nodiscard]] virtual std::string fullPath(std::string_view path, std::string_view workingDir) = 0;
    // What `path` names: through every link, or the last name itself (a
    // mount point shows what is mounted there).
    [[nodiscard]] virtual FileInfo info(const std::string& path, Links links = Links::followed) = 0;
    // The regular files behind the standard output and error streams, which
    // no run may write as a file of its own.
    [[nodiscard]] virtual std::vector<FileInfo> standardStreams() = 0;
    [[nodiscard]] virtual LinkChain followLinks(const std::string& path) = 0;
    [[nodiscard]] virtual bool access(const std::string& path, Access access) = 0;
    // Every entry of `dir` except "." and ".."; nullopt when it can't be
    // listed whole.
    [[nodiscard]] virtual std::optional<std::vector<Entry>> list(const std::string& dir,
                                                                 Detail detail = Detail::names) = 0;
    // Opens an existing regular file (links followed) for reading; anything
    // else, a FIFO or a device included, can't be opened, and opening never
    // blocks. `opened`, when given, receives what the file was when it
    // opened. With Lock::shared the open fails while another run holds the
    // file to write it, and the file stays locked against writers while it
    // is open; where the system has no locks it opens unlocked.
    [[nodiscard]] virtual std::unique_ptr<File> openRead(const std::string& path, FileInfo* opened = nullptr,
                                                         Lock lock = Lock::none) = 0;
    // Opens `path` to be written, never through a symbolic link: a new
    // regular file where the name is free, else the regular file that has
    // the name, as it is, with nothing cut.
    [[nodiscard]] virtual Opened openToWrite(const std::string& path) = 0;
    // The archive a run writes, locked against every other run: created
    // when missing (links followed, a link that leads nowhere creating its
    // target, whose path `madeAt` then receives, for a failure to delete
    // too), an existing file kept as it is to be written over in place
    // (Windows empties it once the open has succeeded); the caller sets the
    // final length. Fails, changing nothing, while another run has the file
    // open with a lock; where the system has no locks it opens unlocked.
    [[nodiscard]] virtual std::unique_ptr<File> createOutput(const std::string& path, std::string& madeAt) = 0;
    // Cuts an existing file to 0 bytes by its path.
    [[nodiscard]] virtual bool emptyFile(const std::string& path) = 0;
    [[nodiscard]] virtual bool makeDir(const std::string& path) = 0;
    // Deletes a name that is not a directory; a link goes as a link.
    [[nodiscard]] virtual bool remove(const std::string& path) = 0;
    // Moves up to `size` bytes from the current position of `source` to the
    // current position of `target` inside the system, where it can.
    [[nodiscard]] virtual KernelCopy copy(File& source, File& target, std::size_t size) = 0;
};

}  // namespace fs
