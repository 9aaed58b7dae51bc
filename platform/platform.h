// The operating system underneath both programs: paths, directory listing,
// file identity, and opening, creating and removing files. Everything here
// reports failure as a value; nothing prints.
//
// One implementation file per platform provides these declarations; the build
// picks it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fs/file_system.h"

namespace platform {

// The separator used when paths are built.
extern const char separator;

// Readies the process before anything else runs: the standard streams are
// open (on the null device where they were closed), so that no file the run
// opens can take the place of one of them, and a write to a closed pipe or
// past the file-size limit fails as a value instead of ending the process.
// False when the streams can't be made safe; the run must not go on then.
bool startProcess();

// The program's arguments as UTF-8 strings, argv[0] included.
std::vector<std::string> arguments(int argc, char** argv);

// Adds UTF-8 text to what goes to the standard error stream, shown so that
// a console shows names in any script. Text gathers up to a few KiB and goes
// out in one write; flushErrors sends it at once. It is sent when the program
// ends, and before an interrupt's message.
void writeError(std::string_view text);
void flushErrors();

// Whether the standard output stream was open when the process started.
bool outputOpen();
// Writes all of `size` bytes to the standard output stream at once, with no
// buffer: a console shows them as UTF-8 text in any script, anything else
// gets the bytes. False when the stream takes no more (closed, a pipe
// without a reader, a full disk).
bool writeOutput(const void* data, std::size_t size);

// True when the argument is an option rather than the operand.
bool startsOption(std::string_view argument);

// The process's current directory; nullopt when it can't be read.
std::optional<std::string> currentDir();

// The absolute form of `path`, relative paths taken from `workingDir`; '.'
// and '..' are resolved lexically, links are not followed and the path need
// not exist. A trailing separator is kept. Empty when the system can't
// place the path.
std::string fullPath(std::string_view path, std::string_view workingDir);

enum class PathKind { missing, directory, other };
// What `path` names, links followed.
PathKind pathKind(const std::string& path);

// What `path` names, links followed or, with `followLast` false, the last
// name itself (a symbolic link shows as `other`).
fs::Status pathStatus(const std::string& path, bool followLast);

// The regular files behind the standard output and error streams.
std::vector<fs::Status> standardStreams();

bool exists(const std::string& path);
bool canRead(const std::string& path);
bool canReadWrite(const std::string& path);

using FileId = fs::FileId;

using LinkChain = fs::LinkChain;
LinkChain followLinks(const std::string& path);

using DirEntry = fs::Entry;
// Every entry of `dir` except "." and ".."; nullopt when it can't be listed.
std::optional<std::vector<DirEntry>> listDir(const std::string& dir);

bool makeDir(const std::string& path);
bool removeFile(const std::string& path);

// An open file, closed when it goes out of scope. Positions and sizes are
// 64-bit.
class File {
public:
    File() = default;
    explicit File(std::intptr_t handle) : handle_(handle) {}
    File(File&& other) noexcept : handle_(other.release()) {}
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File();

    bool isOpen() const { return handle_ != invalid; }
    std::intptr_t handle() const { return handle_; }

    // Reads until `size` bytes are in or the file ends; nullopt on a read
    // error.
    std::optional<std::size_t> read(void* buffer, std::size_t size);
    // One read of at most `size` bytes: 0 at the end of the file, possibly
    // fewer bytes before it; nullopt on a read error.
    std::optional<std::size_t> readSome(void* buffer, std::size_t size);
    // Writes all of `size` bytes; false on any failure.
    bool write(const void* data, std::size_t size);
    bool seek(std::uint64_t position);
    // Sets the file's length, cutting or extending it; the position stays.
    bool truncate(std::uint64_t length);
    std::optional<std::uint64_t> seekEnd();
    // What the open file is now.
    std::optional<fs::Status> status() const;
    // Closes the file and reports whether everything written reached it.
    bool close();

private:
    static constexpr std::intptr_t invalid = -1;
    std::intptr_t release();
    std::intptr_t handle_ = invalid;
};


// Opens an existing regular file (links followed) for reading; anything
// else, a FIFO or a device included, can't be opened, and opening never
// blocks. `info`, when given, receives what the file was when it opened.
// With `shared`, the open fails while another run writes the file, and no
// other run can write it while it is open.
std::optional<File> openRead(const std::string& path, fs::Status* info = nullptr, bool shared = false);

// Opens a name that exists for writing as it is: never through a symbolic
// link, nothing cut; only a regular file.
std::optional<File> openExisting(const std::string& path);

// Creates a file for reading and writing, or empties an existing one. Where
// the system can't delete a link by its own name (Wine), a name that leads
// through a link into another folder is refused rather than emptying a file
// there.
std::optional<File> createFile(const std::string& path);

// Cuts an existing file to 0 bytes by its path.
bool emptyFile(const std::string& path);

// Opens the archive a run writes, locked against every other run and
// registered in the same step, with no moment for an interrupt in between,
// as the file an interrupt cuts to 0 bytes and deletes (and
// `madeThroughLink`, when given, as a file it deletes too). It is created
// when missing; the caller sets the final length with truncate. On POSIX an
// existing file keeps its bytes until they are written over: writing over a
// file in place spares the file system freeing its blocks, waiting on their
// write-back and allocating them again. Nothing is changed when another run
// holds the file. It stays registered until forgetOutput or endInterrupts;
// closeOutput closes it, after which an interrupt reaches it by its path.
std::optional<File> createOutput(const std::string& path, const std::string* madeThroughLink);
bool closeOutput(File& output);
void forgetOutput();

// Creates a file for writing that must not exist yet. `existed` tells a name
// already taken from any other failure.
struct NewFile {
    std::optional<File> file;
    bool existed = false;
};
NewFile createNew(const std::string& path);

// Moves up to `size` bytes from the current position of `source` to the
// current position of `target` inside the kernel where the platform can,
// without passing them through the program's memory.
using KernelCopy = fs::KernelCopy;
KernelCopy kernelCopy(File& source, File& target, std::size_t size);

using fs::kernelPiece;

// From now on SIGINT, SIGTERM, SIGHUP and SIGQUIT (or the console's break
// keys and its closing) end the run at once: the output registered by
// createOutput is cut to 0 bytes and deleted, the text gathered for the
// standard error stream and then `message` are written, and the exit status
// is 1. `message` must outlive the run.
void catchInterrupts(const char* message);

// The run has done its work and said everything: interrupts no longer end
// it, and the output stays.
void endInterrupts();

}  // namespace platform
