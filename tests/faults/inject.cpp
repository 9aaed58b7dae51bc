// Linked into the test build veskal_faults with -Wl,--wrap for the C library
// calls the platform layer makes: right after the Nth call of one kind, the
// process receives SIGINT, so that a test can interrupt a run at every
// moment. The test build reads the environment; the real program doesn't.
//
//   VESKAL_INTERRUPT=kind:N  kinds: open (for reading), create (a file or a
//                            directory), read, write (setting a file's
//                            length included), seek, close, list, and say:
//                            writes to the standard error stream; a splice
//                            into a pipe is a read, out of one a write
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" {
int __real_open(const char* path, int flags, ...);
ssize_t __real_read(int fd, void* buffer, size_t size);
ssize_t __real_write(int fd, const void* data, size_t size);
off_t __real_lseek(int fd, off_t offset, int whence);
int __real_close(int fd);
int __real_ftruncate(int fd, off_t length);
DIR* __real_opendir(const char* path);
struct dirent* __real_readdir(DIR* dir);
int __real_mkdir(const char* path, mode_t mode);
ssize_t __real_splice(int in, loff_t* inOffset, int out, loff_t* outOffset, size_t size, unsigned flags);
}

namespace {

struct Plan {
    std::string kind;
    long long at = 0;     // 0: no interrupt
    long long calls = 0;  // calls of `kind` so far
    bool raised = false;
};

Plan& plan() {
    static Plan instance = [] {
        Plan made;
        if (const char* interrupt = std::getenv("VESKAL_INTERRUPT")) {
            const std::string_view text = interrupt;
            const std::size_t colon = text.find(':');
            if (colon != std::string_view::npos) {
                made.kind = text.substr(0, colon);
                made.at = std::atoll(interrupt + colon + 1);
            }
        }
        return made;
    }();
    return instance;
}

// Counts a call of `kind` that has been made; SIGINT comes after the planned
// one. The call's result and errno are kept.
template <typename Result>
Result interruptAfter(const char* kind, Result result) {
    Plan& current = plan();
    if (current.raised || current.at <= 0 || kind != current.kind) return result;
    if (++current.calls == current.at) {
        current.raised = true;
        const int error = errno;
        ::raise(SIGINT);
        errno = error;
    }
    return result;
}

}  // namespace

extern "C" {

int __wrap_open(const char* path, int flags, ...) {
    if ((flags & O_CREAT) == 0) return interruptAfter("open", __real_open(path, flags));
    std::va_list args;
    va_start(args, flags);
    const auto mode = static_cast<mode_t>(va_arg(args, int));
    va_end(args);
    return interruptAfter("create", __real_open(path, flags, mode));
}

int __wrap_mkdir(const char* path, mode_t mode) { return interruptAfter("create", __real_mkdir(path, mode)); }

ssize_t __wrap_read(int fd, void* buffer, size_t size) { return interruptAfter("read", __real_read(fd, buffer, size)); }

ssize_t __wrap_write(int fd, const void* data, size_t size) {
    return interruptAfter(fd == STDERR_FILENO ? "say" : "write", __real_write(fd, data, size));
}

int __wrap_ftruncate(int fd, off_t length) { return interruptAfter("write", __real_ftruncate(fd, length)); }

off_t __wrap_lseek(int fd, off_t offset, int whence) {
    return interruptAfter("seek", __real_lseek(fd, offset, whence));
}

int __wrap_close(int fd) { return interruptAfter("close", __real_close(fd)); }

DIR* __wrap_opendir(const char* path) { return interruptAfter("list", __real_opendir(path)); }

struct dirent* __wrap_readdir(DIR* dir) {
    return interruptAfter("list", __real_readdir(dir));
}

ssize_t __wrap_splice(int in, loff_t* inOffset, int out, loff_t* outOffset, size_t size, unsigned flags) {
    struct stat target {};
    const bool intoPipe = ::fstat(out, &target) == 0 && S_ISFIFO(target.st_mode);
    return interruptAfter(intoPipe ? "read" : "write", __real_splice(in, inOffset, out, outOffset, size, flags));
}

}  // extern "C"
