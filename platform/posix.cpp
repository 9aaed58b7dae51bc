// The POSIX side of the platform layer.
#include "platform/platform.h"

#include <cerrno>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstring>
#include <memory>

namespace platform {

const char separator = '/';

namespace {

// Whether startProcess found the standard output stream closed and put the
// null device in its place.
bool outputClosed = false;

}  // namespace

bool startProcess() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        if (fd == STDOUT_FILENO) outputClosed = true;
        // The lowest free descriptor is this one, those below it being open.
        const int standIn = ::open("/dev/null", O_RDWR);
        if (standIn != fd) return false;
    }
    // The writes then fail with EPIPE and EFBIG, which the run reports.
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);
    return true;
}

std::vector<std::string> arguments(int argc, char** argv) { return std::vector<std::string>(argv, argv + argc); }

namespace {

sigset_t interruptSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&signals, signal);
    return signals;
}

// Holds interrupts back while it lives; one that comes meanwhile is taken
// when it ends.
class InterruptsHeld {
public:
    InterruptsHeld() {
        const sigset_t signals = interruptSignals();
        ::pthread_sigmask(SIG_BLOCK, &signals, &before_);
    }
    ~InterruptsHeld() { ::pthread_sigmask(SIG_SETMASK, &before_, nullptr); }
    InterruptsHeld(const InterruptsHeld&) = delete;
    InterruptsHeld& operator=(const InterruptsHeld&) = delete;

private:
    sigset_t before_;
};

// Waits until the stream `fd` takes more: it may be non-blocking and full
// for a moment. Async-signal-safe.
bool waitToWrite(int fd) {
    pollfd stream{fd, POLLOUT, 0};
    for (;;) {
        if (::poll(&stream, 1, -1) >= 0) return (stream.revents & POLLOUT) != 0;
        if (errno != EINTR) return false;
    }
}

// Async-signal-safe. What a stream that is gone can't take is dropped.
void writeAll(const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t put = ::write(STDERR_FILENO, data, size);
        if (put < 0 && errno == EINTR) continue;
        if (put < 0 && errno == EAGAIN && waitToWrite(STDERR_FILENO)) continue;
        if (put <= 0) return;
        data += put;
        size -= static_cast<std::size_t>(put);
    }
}

// Text for the standard error stream, which the interrupt handler reads too:
// the bytes from pendingFlushed up to pendingLength are complete and not yet
// written.
constexpr std::size_t pendingCapacity = 4096;
char pendingText[pendingCapacity];
std::atomic<std::size_t> pendingLength{0};
std::atomic<std::size_t> pendingFlushed{0};

void writePending() {
    const std::size_t length = pendingLength.load();
    const std::size_t flushed = pendingFlushed.load();
    if (flushed < length) writeAll(pendingText + flushed, length - flushed);
}

// While the main thread writes pending text, an interrupt can't know whether
// the write has happened: it only leaves word, and the main thread takes it
// once it has noted what the write did, so that nothing shows twice.
std::atomic<bool> inErrorWrite{false};
std::atomic<bool> interruptWaiting{false};

std::atomic<const char*> interruptMessage{nullptr};
// The output an interrupt cuts and deletes, changed only while interrupts
// are held back: its path, and its descriptor while it is open.
std::string outputPath;
std::atomic<const char*> outputName{nullptr};
std::atomic<int> outputFd{-1};
// The file the output's name led to through a link, when the run made it.
std::string madePath;
std::atomic<const char*> madeName{nullptr};

// Ends the run as an interrupt does. Async-signal-safe.
[[noreturn]] void interruptNow() {
    if (const char* path = outputName.load()) {
        // Cut first, so that no other name of the file keeps its bytes.
        const int open = outputFd.load();
        const int fd = open >= 0 ? open : ::open(path, O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd >= 0) {
            [[maybe_unused]] const int cut = ::ftruncate(fd, 0);
        }
        ::unlink(path);
        if (const char* made = madeName.load()) ::unlink(made);
    }
    writePending();
    if (const char* message = interruptMessage.load()) writeAll(message, std::strlen(message));
    ::_exit(1);
}

extern "C" void onInterrupt(int) {
    if (inErrorWrite.load()) {
        interruptWaiting.store(true);
        return;
    }
    interruptNow();
}

struct FlushAtExit {
    ~FlushAtExit() { flushErrors(); }
} flushAtExit;

}  // namespace

void writeError(std::string_view text) {
    if (text.size() > pendingCapacity - pendingLength.load()) flushErrors();
    if (text.size() > pendingCapacity) {
        writeAll(text.data(), text.size());
        return;
    }
    const std::size_t length = pendingLength.load();
    std::memcpy(pendingText + length, text.data(), text.size());
    pendingLength.store(length + text.size());
}

void flushErrors() {
    const std::size_t length = pendingLength.load();
    std::size_t flushed = pendingFlushed.load();
    while (flushed < length) {
        inErrorWrite.store(true);
        const ssize_t put = ::write(STDERR_FILENO, pendingText + flushed, length - flushed);
        const int error = errno;
        if (put > 0) {
            flushed += static_cast<std::size_t>(put);
            pendingFlushed.store(flushed);
        }
        inErrorWrite.store(false);
        if (interruptWaiting.load()) {
            const sigset_t signals = interruptSignals();
            ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
            interruptNow();
        }
        if (put > 0 || (put < 0 && error == EINTR)) continue;
        if (put < 0 && error == EAGAIN && waitToWrite(STDERR_FILENO)) continue;
        // A stream that is gone: what it can't take is dropped.
        break;
    }
    pendingLength.store(0);
    pendingFlushed.store(0);
}

bool outputOpen() { return !outputClosed; }

bool writeOutput(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ssize_t put = ::write(STDOUT_FILENO, bytes, size);
        if (put < 0 && errno == EINTR) continue;
        if (put < 0 && errno == EAGAIN && waitToWrite(STDOUT_FILENO)) continue;
        if (put <= 0) return false;
        bytes += put;
        size -= static_cast<std::size_t>(put);
    }
    return true;
}

bool startsOption(std::string_view argument) {
    // A leading '/' begins an absolute path here, so it is an operand.
    return !argument.empty() && argument.front() == '-';
}

std::optional<std::string> currentDir() {
    std::string buffer(256, '\0');
    for (;;) {
        if (::getcwd(buffer.data(), buffer.size()) != nullptr) {
            buffer.resize(std::char_traits<char>::length(buffer.c_str()));
            // Linux reports an unreachable directory with this prefix.
            if (buffer.empty() || buffer.front() != '/') return std::nullopt;
            return buffer;
        }
        if (errno != ERANGE) return std::nullopt;
        buffer.resize(buffer.size() * 2);
    }
}

std::string fullPath(std::string_view path, std::string_view workingDir) {
    return fs::lexicalFullPath(path, workingDir, fs::PathStyle::posix);
}

PathKind pathKind(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return PathKind::missing;
    return S_ISDIR(info.st_mode) ? PathKind::directory : PathKind::other;
}

bool exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }
bool canRead(const std::string& path) { return ::access(path.c_str(), R_OK) == 0; }
bool canReadWrite(const std::string& path) { return ::access(path.c_str(), R_OK | W_OK) == 0; }

namespace {

FileId idOf(const struct stat& info) {
    FileId id;
    id.device = static_cast<std::uint64_t>(info.st_dev);
    id.inode = static_cast<std::uint64_t>(info.st_ino);
    return id;
}

int fdOf(const File& file) { return static_cast<int>(file.handle()); }

fs::Status statusFrom(const struct stat& info) {
    fs::Status status;
    status.kind = S_ISDIR(info.st_mode) ? fs::Kind::directory
                  : S_ISREG(info.st_mode) ? fs::Kind::file
                                          : fs::Kind::other;
    status.id = idOf(info);
    status.size = static_cast<std::uint64_t>(info.st_size);
    status.links = static_cast<std::uint64_t>(info.st_nlink);
    return status;
}

}  // namespace

fs::Status pathStatus(const std::string& path, bool followLast) {
    struct stat info {};
    const int result = followLast ? ::stat(path.c_str(), &info) : ::lstat(path.c_str(), &info);
    if (result != 0) return {};
    return statusFrom(info);
}

std::vector<fs::Status> standardStreams() {
    std::vector<fs::Status> streams;
    for (const int fd : {STDOUT_FILENO, STDERR_FILENO}) {
        struct stat info {};
        if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) streams.push_back(statusFrom(info));
    }
    return streams;
}

LinkChain followLinks(const std::string& path) {
    LinkChain chain{{}, path};
    // As many hops as the kernel follows before it gives up.
    for (int hop = 0; hop < 40; ++hop) {
        struct stat info {};
        if (::lstat(chain.target.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) break;
        std::string to(PATH_MAX, '\0');
        const ssize_t length = ::readlink(chain.target.c_str(), to.data(), to.size());
        if (length <= 0 || static_cast<std::size_t>(length) >= to.size()) break;
        to.resize(static_cast<std::size_t>(length));
        chain.links.push_back(statusFrom(info));
        const fs::PathStyle style = fs::PathStyle::posix;
        chain.target = fs::isAbsolute(to, style) ? to : fs::splitPath(chain.target, style).dir + to;
    }
    return chain;
}

std::optional<std::vector<DirEntry>> listDir(const std::string& dir) {
    const std::unique_ptr<DIR, int (*)(DIR*)> stream(::opendir(dir.c_str()), ::closedir);
    if (!stream) return std::nullopt;
    std::vector<DirEntry> entries;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(stream.get());
        if (entry == nullptr) {
            if (errno != 0) return std::nullopt;
            break;
        }
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        DirEntry item{std::string(name), entry->d_type == DT_DIR, entry->d_type == DT_LNK,
                      static_cast<std::uint64_t>(entry->d_ino)};
        struct stat info {};
        if (entry->d_type == DT_UNKNOWN &&
            ::fstatat(::dirfd(stream.get()), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0) {
            item.isDirectory = S_ISDIR(info.st_mode);
            item.isLink = S_ISLNK(info.st_mode);
        }
        if (item.isLink) {
            item.isDirectory = ::fstatat(::dirfd(stream.get()), entry->d_name, &info, 0) == 0 && S_ISDIR(info.st_mode);
        }
        entries.push_back(std::move(item));
    }
    return entries;
}

bool makeDir(const std::string& path) { return ::mkdir(path.c_str(), 0777) == 0; }
bool removeFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        if (isOpen()) ::close(fdOf(*this));
        handle_ = other.release();
    }
    return *this;
}

File::~File() {
    if (isOpen()) ::close(fdOf(*this));
}

std::intptr_t File::release() {
    const std::intptr_t handle = handle_;
    handle_ = invalid;
    return handle;
}

std::optional<std::size_t> File::read(void* buffer, std::size_t size) {
    auto* bytes = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = ::read(fdOf(*this), bytes + done, size - done);
        if (got < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

std::optional<std::size_t> File::readSome(void* buffer, std::size_t size) {
    for (;;) {
        const ssize_t got = ::read(fdOf(*this), buffer, size);
        if (got >= 0) return static_cast<std::size_t>(got);
        if (errno != EINTR) return std::nullopt;
    }
}

bool File::write(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ssize_t put = ::write(fdOf(*this), bytes, size);
        if (put < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (put == 0) return false;
        bytes += put;
        size -= static_cast<std::size_t>(put);
    }
    return true;
}

bool File::seek(std::uint64_t position) {
    return ::lseek(fdOf(*this), static_cast<off_t>(position), SEEK_SET) == static_cast<off_t>(position);
}

bool File::truncate(std::uint64_t length) {
    for (;;) {
        if (::ftruncate(fdOf(*this), static_cast<off_t>(length)) == 0) return true;
        if (errno != EINTR) return false;
    }
}

std::optional<std::uint64_t> File::seekEnd() {
    const off_t end = ::lseek(fdOf(*this), 0, SEEK_END);
    if (end < 0) return std::nullopt;
    return static_cast<std::uint64_t>(end);
}

std::optional<fs::Status> File::status() const {
    struct stat info {};
    if (::fstat(fdOf(*this), &info) != 0) return std::nullopt;
    return statusFrom(info);
}

bool File::close() {
    if (!isOpen()) return true;
    // A close interrupted by a signal has still released the descriptor.
    const int result = ::close(static_cast<int>(release()));
    return result == 0 || errno == EINTR;
}

namespace {

// Opens non-blocking, so that a FIFO can't hold the run, and keeps the file
// only when it is a regular one. Reads of a regular file ignore the flag, so
// only a file that is to be written has it cleared.
std::optional<File> openRegular(const std::string& path, int flags, fs::Status* opened) {
    const int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) return std::nullopt;
    File file(fd);
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    // Only O_NONBLOCK of the status flags that F_SETFL changes was set.
    if ((flags & O_ACCMODE) != O_RDONLY && ::fcntl(fd, F_SETFL, 0) != 0) return std::nullopt;
    if (opened != nullptr) *opened = statusFrom(info);
    return file;
}

}  // namespace

// Locks the whole file against other runs without waiting: false only when
// another run holds a lock that keeps this one out. A file system without
// locks leaves the file unlocked.
bool lockAgainstOthers(const File& file, int how) {
    for (;;) {
        if (::flock(fdOf(file), how | LOCK_NB) == 0) return true;
        if (errno != EINTR) return errno != EWOULDBLOCK;
    }
}

std::optional<File> openRead(const std::string& path, fs::Status* info, bool shared) {
    std::optional<File> file = openRegular(path, O_RDONLY, info);
    if (file && shared && !lockAgainstOthers(*file, LOCK_SH)) return std::nullopt;
    return file;
}

std::optional<File> openExisting(const std::string& path) {
    return openRegular(path, O_WRONLY | O_NOFOLLOW | O_NOCTTY, nullptr);
}

std::optional<File> createFile(const std::string& path) {
    // The archive is rewritten at byte 0 when it is complete, so only a
    // regular file can hold it.
    return openRegular(path, O_RDWR | O_CREAT | O_TRUNC, nullptr);
}

NewFile createNew(const std::string& path) {
    // A file made by this very call is a regular one.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return NewFile{std::nullopt, errno == EEXIST};
    return NewFile{File(fd), false};
}

namespace {

// The pipe through which kernelCopy moves bytes: filled from the source and
// emptied into the target. Made on first use and kept for the run.
struct CopyPipe {
    int read = -1;
    int write = -1;
    std::size_t size = 0;

    bool ready() {
        if (read >= 0) return true;
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) return false;
        read = ends[0];
        write = ends[1];
        // A larger pipe moves a whole piece at once; the default serves too.
        const int grown = ::fcntl(write, F_SETPIPE_SZ, static_cast<int>(kernelPiece));
        const int current = grown > 0 ? grown : ::fcntl(write, F_GETPIPE_SZ);
        size = current > 0 ? static_cast<std::size_t>(current) : 4096;
        return true;
    }

    // Bytes left in the pipe by a failed move must not reach another file.
    void discard() {
        ::close(read);
        ::close(write);
        read = write = -1;
    }
};

CopyPipe copyPipe;

bool refusedBySplice(int error) { return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == EXDEV; }

}  // namespace

KernelCopy kernelCopy(File& source, File& target, std::size_t size) {
    if (!copyPipe.ready()) return {KernelCopy::Status::refused, 0};
    const std::size_t want = std::min({size, kernelPiece, copyPipe.size});
    ssize_t filled = 0;
    for (;;) {
        filled = ::splice(fdOf(source), nullptr, copyPipe.write, nullptr, want, SPLICE_F_MOVE);
        if (filled >= 0 || errno != EINTR) break;
    }
    if (filled == 0) return {KernelCopy::Status::endOfFile, 0};
    if (filled < 0) {
        return {refusedBySplice(errno) ? KernelCopy::Status::refused : KernelCopy::Status::readError, 0};
    }
    auto left = static_cast<std::size_t>(filled);
    while (left > 0) {
        const ssize_t emptied = ::splice(copyPipe.read, nullptr, fdOf(target), nullptr, left, SPLICE_F_MOVE);
        if (emptied < 0 && errno == EINTR) continue;
        if (emptied <= 0) {
            copyPipe.discard();
            return {KernelCopy::Status::writeError, 0};
        }
        left -= static_cast<std::size_t>(emptied);
    }
    return {KernelCopy::Status::copied, static_cast<std::size_t>(filled)};
}

bool emptyFile(const std::string& path) { return ::truncate(path.c_str(), 0) == 0; }

std::optional<File> createOutput(const std::string& path, const std::string* madeThroughLink) {
    const InterruptsHeld held;
    // The paths are copied before the file is made, so that no allocation
    // can fail after.
    outputPath = path;
    madePath = madeThroughLink != nullptr ? *madeThroughLink : std::string();
    std::optional<File> file = openRegular(path, O_RDWR | O_CREAT, nullptr);
    if (!file || !lockAgainstOthers(*file, LOCK_EX)) return std::nullopt;
    outputName.store(outputPath.c_str());
    madeName.store(madeThroughLink != nullptr ? madePath.c_str() : nullptr);
    outputFd.store(fdOf(*file));
    return file;
}

bool closeOutput(File& output) {
    const InterruptsHeld held;
    outputFd.store(-1);
    return output.close();
}

void forgetOutput() {
    const InterruptsHeld held;
    outputName.store(nullptr);
    madeName.store(nullptr);
    madePath.clear();
    outputFd.store(-1);
    outputPath.clear();
}

void catchInterrupts(const char* message) {
    interruptMessage.store(message);
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigfillset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) ::sigaction(signal, &action, nullptr);
}

void endInterrupts() {
    const sigset_t signals = interruptSignals();
    ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    outputName.store(nullptr);
    madeName.store(nullptr);
    outputFd.store(-1);
}

}  // namespace platform
