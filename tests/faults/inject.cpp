// Linked into the test builds veskal_faults and unveskal_faults with
// -Wl,--wrap for every C library call the platform layer makes: the Nth call
// of one kind fails as the system would fail it. These test builds read the
// environment; the real programs don't.
//
//   VESKAL_FAULT=kind:N      kinds: open (for reading), create (a file, new
//                            or not, a directory or a pipe), read, write
//                            (ftruncate too), seek, close, list, remove; a
//                            splice into a pipe counts as a read, one out of
//                            it as a write
//   VESKAL_FAULT_LOG=path    lines appended: "fault KIND CALL DETAIL" when the
//                            fault is injected, then "after CALL DETAIL" for
//                            every file created or written after it
//   VESKAL_NO_KERNEL_COPY=1  splice always refuses (EINVAL), as a file system
//                            without it would, without being counted
//   VESKAL_INTERRUPT=kind:N  nothing fails; SIGINT comes right after the Nth
//                            call of the kind has been made; the kind "say"
//                            counts writes to the standard error stream
//
// Writes to the standard error stream are never failed, and counted only as
// "say".
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
int __real_open(const char* path, int flags, ...);
ssize_t __real_read(int fd, void* buffer, size_t size);
ssize_t __real_write(int fd, const void* data, size_t size);
off_t __real_lseek(int fd, off_t offset, int whence);
int __real_close(int fd);
ssize_t __real_splice(int in, loff_t* inOffset, int out, loff_t* outOffset, size_t size, unsigned flags);
int __real_ftruncate(int fd, off_t length);
int __real_pipe2(int ends[2], int flags);
DIR* __real_opendir(const char* path);
struct dirent* __real_readdir(DIR* dir);
int __real_closedir(DIR* dir);
int __real_unlink(const char* path);
int __real_mkdir(const char* path, mode_t mode);
}

namespace {

struct Plan {
    std::string kind;
    long long failAt = 0;  // 0: nothing fails
    long long calls = 0;   // calls of `kind` so far
    bool interrupts = false;  // the call is made, then SIGINT comes
    bool injected = false;
    bool noKernelCopy = false;
    std::string log;
};

Plan& plan() {
    static Plan instance = [] {
        Plan made;
        const char* interrupt = std::getenv("VESKAL_INTERRUPT");
        made.interrupts = interrupt != nullptr;
        if (const char* fault = made.interrupts ? interrupt : std::getenv("VESKAL_FAULT")) {
            const std::string_view text = fault;
            const std::size_t colon = text.find(':');
            if (colon != std::string_view::npos) {
                made.kind = text.substr(0, colon);
                made.failAt = std::atoll(fault + colon + 1);
            }
        }
        if (const char* log = std::getenv("VESKAL_FAULT_LOG")) made.log = log;
        const char* noCopy = std::getenv("VESKAL_NO_KERNEL_COPY");
        made.noKernelCopy = noCopy != nullptr && std::string_view(noCopy) == "1";
        return made;
    }();
    return instance;
}

void note(const std::string& line) {
    const Plan& current = plan();
    if (current.log.empty()) return;
    const int fd = __real_open(current.log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return;
    const std::string text = line + "\n";
    [[maybe_unused]] const ssize_t put = __real_write(fd, text.data(), text.size());
    __real_close(fd);
}

// Counts a call of each kind it belongs to; true when this call is to fail.
bool failsNow(std::initializer_list<std::string_view> kinds, const char* call, const std::string& detail) {
    Plan& current = plan();
    if (current.failAt <= 0 || current.injected || current.interrupts) return false;
    for (const std::string_view kind : kinds) {
        if (kind != current.kind) continue;
        if (++current.calls == current.failAt) {
            current.injected = true;
            note("fault " + std::string(kind) + " " + call + " " + detail);
            return true;
        }
    }
    return false;
}

// A file created or written once the fault has happened; `result` is the
// call's, and a call that failed changed nothing.
template <typename Result>
Result noteAfter(Result result, const char* call, const std::string& detail) {
    if (plan().injected && result >= 0) note(std::string("after ") + call + " " + detail);
    return result;
}

std::string fdDetail(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    const bool readOnly = flags >= 0 && (flags & O_ACCMODE) == O_RDONLY;
    return std::string(readOnly ? "read-only" : "writable") + " " + std::to_string(fd);
}

int failWith(int error) {
    errno = error;
    return -1;
}

// Counts a call of `kind` that has been made; SIGINT comes after the planned
// one. The call's result and errno are kept.
template <typename Result>
Result interruptAfter(const char* kind, Result result) {
    Plan& current = plan();
    if (!current.interrupts || current.injected || kind != current.kind) return result;
    if (++current.calls == current.failAt) {
        current.injected = true;
        const int error = errno;
        ::raise(SIGINT);
        errno = error;
    }
    return result;
}

}  // namespace

extern "C" {

int __wrap_open(const char* path, int flags, ...) {
    if ((flags & O_CREAT) == 0) {
        if (failsNow({"open"}, "open", path)) return failWith(EACCES);
        return interruptAfter("open", __real_open(path, flags));
    }
    std::va_list args;
    va_start(args, flags);
    const auto mode = static_cast<mode_t>(va_arg(args, int));
    va_end(args);
    if (failsNow({"create"}, "open", path)) return failWith(EACCES);
    return interruptAfter("create", noteAfter(__real_open(path, flags, mode), "open", path));
}

int __wrap_mkdir(const char* path, mode_t mode) {
    if (failsNow({"create"}, "mkdir", path)) return failWith(EACCES);
    return interruptAfter("create", noteAfter(__real_mkdir(path, mode), "mkdir", path));
}

ssize_t __wrap_read(int fd, void* buffer, size_t size) {
    if (failsNow({"read"}, "read", fdDetail(fd))) return failWith(EIO);
    return interruptAfter("read", __real_read(fd, buffer, size));
}

ssize_t __wrap_write(int fd, const void* data, size_t size) {
    if (fd == STDERR_FILENO) return interruptAfter("say", __real_write(fd, data, size));
    if (failsNow({"write"}, "write", fdDetail(fd))) return failWith(ENOSPC);
    return interruptAfter("write", noteAfter(__real_write(fd, data, size), "write", fdDetail(fd)));
}

ssize_t __wrap_splice(int in, loff_t* inOffset, int out, loff_t* outOffset, size_t size, unsigned flags) {
    if (plan().noKernelCopy) return failWith(EINVAL);
    struct stat target {};
    const bool intoPipe = ::fstat(out, &target) == 0 && S_ISFIFO(target.st_mode);
    if (intoPipe) {
        if (failsNow({"read"}, "splice", fdDetail(in))) return failWith(EIO);
        return interruptAfter("read", __real_splice(in, inOffset, out, outOffset, size, flags));
    }
    if (failsNow({"write"}, "splice", fdDetail(out))) return failWith(ENOSPC);
    return interruptAfter("write", noteAfter(__real_splice(in, inOffset, out, outOffset, size, flags), "splice",
                                             fdDetail(out)));
}

// Cutting a file to nothing writes no bytes: it is how a failed or
// interrupted run empties its archive, so only setting a final length counts.
int __wrap_ftruncate(int fd, off_t length) {
    if (length == 0) return __real_ftruncate(fd, length);
    if (failsNow({"write"}, "ftruncate", fdDetail(fd))) return failWith(EIO);
    return interruptAfter("write", noteAfter(__real_ftruncate(fd, length), "ftruncate", fdDetail(fd)));
}

int __wrap_pipe2(int ends[2], int flags) {
    if (failsNow({"create"}, "pipe2", "pipe")) return failWith(EMFILE);
    return interruptAfter("create", __real_pipe2(ends, flags));
}

off_t __wrap_lseek(int fd, off_t offset, int whence) {
    if (failsNow({"seek"}, "lseek", fdDetail(fd))) return failWith(EINVAL);
    return interruptAfter("seek", __real_lseek(fd, offset, whence));
}

int __wrap_close(int fd) {
    if (failsNow({"close"}, "close", fdDetail(fd))) {
        // As on Linux: the descriptor is gone, yet the close reports an error.
        __real_close(fd);
        return failWith(EIO);
    }
    return interruptAfter("close", __real_close(fd));
}

int __wrap_closedir(DIR* dir) {
    if (failsNow({"close"}, "closedir", "directory")) {
        __real_closedir(dir);
        return failWith(EIO);
    }
    return __real_closedir(dir);
}

DIR* __wrap_opendir(const char* path) {
    if (failsNow({"list"}, "opendir", path)) {
        errno = EACCES;
        return nullptr;
    }
    return interruptAfter("list", __real_opendir(path));
}

struct dirent* __wrap_readdir(DIR* dir) {
    if (failsNow({"list"}, "readdir", "directory")) {
        errno = EIO;
        return nullptr;
    }
    return interruptAfter("list", __real_readdir(dir));
}

int __wrap_unlink(const char* path) {
    if (failsNow({"remove"}, "unlink", path)) return failWith(EACCES);
    return interruptAfter("remove", __real_unlink(path));
}

}  // extern "C"
