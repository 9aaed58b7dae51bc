// The file system on POSIX system calls.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <memory>

#include "fs/host_file_system.h"

namespace fs {

namespace {

FileInfo infoFrom(const struct stat& status) {
    FileInfo info;
    info.kind = S_ISDIR(status.st_mode) ? Kind::directory : S_ISREG(status.st_mode) ? Kind::file : Kind::other;
    info.id.device = static_cast<std::uint64_t>(status.st_dev);
    info.id.inode = static_cast<std::uint64_t>(status.st_ino);
    info.size = static_cast<std::uint64_t>(status.st_size);
    info.links = static_cast<std::uint64_t>(status.st_nlink);
    return info;
}

// Fills in what each entry's name is, through the folder's own descriptor.
void identify(int folder, std::vector<Entry>& entries, Links links) {
    const int flags = links == Links::followed ? 0 : AT_SYMLINK_NOFOLLOW;
    for (Entry& entry : entries) {
        struct stat status {};
        if (::fstatat(folder, entry.name.c_str(), &status, flags) == 0) entry.info = infoFrom(status);
    }
}

class PosixFile : public File {
public:
    explicit PosixFile(int fd) : fd_(fd) {}
    ~PosixFile() override {
        if (fd_ >= 0) ::close(fd_);
    }
    PosixFile(const PosixFile&) = delete;
    PosixFile& operator=(const PosixFile&) = delete;

    int fd() const { return fd_; }

    std::optional<std::size_t> read(void* buffer, std::size_t size) override {
        auto* bytes = static_cast<unsigned char*>(buffer);
        std::size_t done = 0;
        while (done < size) {
            const ssize_t got = ::read(fd_, bytes + done, size - done);
            if (got < 0) {
                if (errno == EINTR) continue;
                return std::nullopt;
            }
            if (got == 0) break;
            done += static_cast<std::size_t>(got);
        }
        return done;
    }

    std::optional<std::size_t> readSome(void* buffer, std::size_t size) override {
        for (;;) {
            const ssize_t got = ::read(fd_, buffer, size);
            if (got >= 0) return static_cast<std::size_t>(got);
            if (errno != EINTR) return std::nullopt;
        }
    }

    bool write(const void* data, std::size_t size) override {
        const auto* bytes = static_cast<const unsigned char*>(data);
        while (size > 0) {
            const ssize_t put = ::write(fd_, bytes, size);
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

    bool seek(std::uint64_t position) override {
        return ::lseek(fd_, static_cast<off_t>(position), SEEK_SET) == static_cast<off_t>(position);
    }

    std::optional<std::uint64_t> seekEnd() override {
        const off_t end = ::lseek(fd_, 0, SEEK_END);
        if (end < 0) return std::nullopt;
        return static_cast<std::uint64_t>(end);
    }

    bool truncate(std::uint64_t length) override {
        for (;;) {
            if (::ftruncate(fd_, static_cast<off_t>(length)) == 0) return true;
            if (errno != EINTR) return false;
        }
    }

    std::optional<FileInfo> info() override {
        struct stat status {};
        if (::fstat(fd_, &status) != 0) return std::nullopt;
        return infoFrom(status);
    }

    bool close() override {
        if (fd_ < 0) return true;
        const int fd = fd_;
        fd_ = -1;
        // A close interrupted by a signal has still released the descriptor.
        return ::close(fd) == 0 || errno == EINTR;
    }

private:
    int fd_;
};

// Opens non-blocking, so that a FIFO can't hold the run, and keeps the file
// only when it is a regular one. Reads of a regular file ignore the flag, so
// only a file that is to be written has it cleared.
std::unique_ptr<PosixFile> openRegular(const std::string& path, int flags, FileInfo* opened) {
    const int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    auto file = std::make_unique<PosixFile>(fd);
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) return nullptr;
    // Only O_NONBLOCK of the status flags that F_SETFL changes was set.
    if ((flags & O_ACCMODE) != O_RDONLY && ::fcntl(fd, F_SETFL, 0) != 0) return nullptr;
    if (opened != nullptr) *opened = infoFrom(status);
    return file;
}

// Locks the whole file against other runs without waiting: false only when
// another run holds a lock that keeps this one out. A file system without
// locks leaves the file unlocked.
bool lockAgainstOthers(const PosixFile& file, int how) {
    for (;;) {
        if (::flock(file.fd(), how | LOCK_NB) == 0) return true;
        if (errno != EINTR) return errno != EWOULDBLOCK;
    }
}

// The pipe through which the kernel copy moves bytes: filled from the source
// and emptied into the target. Made on first use and kept for the run.
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

bool refusedBySplice(int error) { return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == EXDEV; }

class PosixFileSystem : public FileSystem {
public:
    PathStyle style() const override { return PathStyle::posix; }

    std::optional<std::string> currentDir() override {
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

    std::string fullPath(std::string_view path, std::string_view workingDir) override {
        return lexicalFullPath(path, workingDir, PathStyle::posix);
    }

    FileInfo info(const std::string& path, Links links) override {
        struct stat status {};
        const int result = links == Links::followed ? ::stat(path.c_str(), &status) : ::lstat(path.c_str(), &status);
        if (result != 0) return {};
        return infoFrom(status);
    }

    std::vector<FileInfo> standardStreams() override {
        std::vector<FileInfo> streams;
        for (const int fd : {STDOUT_FILENO, STDERR_FILENO}) {
            struct stat status {};
            if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) streams.push_back(infoFrom(status));
        }
        return streams;
    }

    LinkChain followLinks(const std::string& path) override {
        LinkChain chain{{}, path};
        // As many hops as the kernel follows before it gives up.
        for (int hop = 0; hop < 40; ++hop) {
            struct stat status {};
            if (::lstat(chain.target.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) break;
            std::string to(PATH_MAX, '\0');
            const ssize_t length = ::readlink(chain.target.c_str(), to.data(), to.size());
            if (length <= 0 || static_cast<std::size_t>(length) >= to.size()) break;
            to.resize(static_cast<std::size_t>(length));
            chain.links.push_back(infoFrom(status));
            chain.target = isAbsolute(to, PathStyle::posix) ? to : splitPath(chain.target, PathStyle::posix).dir + to;
        }
        return chain;
    }

    bool access(const std::string& path, Access access) override {
        return ::access(path.c_str(), access == Access::read ? R_OK : R_OK | W_OK) == 0;
    }

    std::optional<std::vector<Entry>> list(const std::string& dir, Detail detail) override {
        const std::unique_ptr<DIR, int (*)(DIR*)> stream(::opendir(dir.c_str()), ::closedir);
        if (!stream) return std::nullopt;
        std::vector<Entry> entries;
        for (;;) {
            errno = 0;
            const dirent* entry = ::readdir(stream.get());
            if (entry == nullptr) {
                if (errno != 0) return std::nullopt;
                break;
            }
            const std::string_view name = entry->d_name;
            if (name == "." || name == "..") continue;
            Entry item;
            item.name = name;
            item.isDirectory = entry->d_type == DT_DIR;
            item.isLink = entry->d_type == DT_LNK;
            item.inode = static_cast<std::uint64_t>(entry->d_ino);
            struct stat status {};
            if (entry->d_type == DT_UNKNOWN &&
                ::fstatat(::dirfd(stream.get()), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0) {
                item.isDirectory = S_ISDIR(status.st_mode);
                item.isLink = S_ISLNK(status.st_mode);
            }
            if (item.isLink) {
                item.isDirectory =
                    ::fstatat(::dirfd(stream.get()), entry->d_name, &status, 0) == 0 && S_ISDIR(status.st_mode);
            }
            entries.push_back(std::move(item));
        }
        if (detail != Detail::names) {
            identify(::dirfd(stream.get()), entries,
                     detail == Detail::identities ? Links::followed : Links::notFollowed);
        }
        return entries;
    }

    std::unique_ptr<File> openRead(const std::string& path, FileInfo* opened, Lock lock) override {
        std::unique_ptr<PosixFile> file = openRegular(path, O_RDONLY, opened);
        if (file && lock == Lock::shared && !lockAgainstOthers(*file, LOCK_SH)) return nullptr;
        return file;
    }

    Opened openToWrite(const std::string& path) override {
        // A file made by this very call is a regular one, and O_EXCL never
        // follows a link, not even one that leads nowhere.
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) return {std::make_unique<PosixFile>(fd), true};
        if (errno != EEXIST) return {};
        return {openRegular(path, O_WRONLY | O_NOFOLLOW | O_NOCTTY, nullptr), false};
    }

    std::unique_ptr<File> createOutput(const std::string& path, std::string& madeAt) override {
        // Worked out before the open, so that nothing is allocated after it.
        madeAt.clear();
        if (info(path, Links::followed).kind == Kind::missing) {
            std::string target = followLinks(path).target;
            if (target != path) madeAt = std::move(target);
        }
        std::unique_ptr<PosixFile> file = openRegular(path, O_RDWR | O_CREAT, nullptr);
        if (!file || !lockAgainstOthers(*file, LOCK_EX)) {
            madeAt.clear();
            return nullptr;
        }
        return file;
    }

    bool emptyFile(const std::string& path) override { return ::truncate(path.c_str(), 0) == 0; }
    bool makeDir(const std::string& path) override { return ::mkdir(path.c_str(), 0777) == 0; }
    bool remove(const std::string& path) override { return ::unlink(path.c_str()) == 0; }

    KernelCopy copy(File& source, File& target, std::size_t size) override {
        auto* from = dynamic_cast<PosixFile*>(&source);
        auto* to = dynamic_cast<PosixFile*>(&target);
        if (from == nullptr || to == nullptr || !pipe_.ready()) return {KernelCopy::Outcome::refused, 0};
        const std::size_t want = std::min({size, kernelPiece, pipe_.size});
        ssize_t filled = 0;
        for (;;) {
            filled = ::splice(from->fd(), nullptr, pipe_.write, nullptr, want, SPLICE_F_MOVE);
            if (filled >= 0 || errno != EINTR) break;
        }
        if (filled == 0) return {KernelCopy::Outcome::endOfFile, 0};
        if (filled < 0) {
            return {refusedBySplice(errno) ? KernelCopy::Outcome::refused : KernelCopy::Outcome::readError, 0};
        }
        auto left = static_cast<std::size_t>(filled);
        while (left > 0) {
            const ssize_t emptied = ::splice(pipe_.read, nullptr, to->fd(), nullptr, left, SPLICE_F_MOVE);
            if (emptied < 0 && errno == EINTR) continue;
            if (emptied <= 0) {
                pipe_.discard();
                return {KernelCopy::Outcome::writeError, 0};
            }
            left -= static_cast<std::size_t>(emptied);
        }
        return {KernelCopy::Outcome::copied, static_cast<std::size_t>(filled)};
    }

private:
    CopyPipe pipe_;
};

}  // namespace

FileSystem& hostFileSystem() {
    static PosixFileSystem files;
    return files;
}

std::intptr_t hostHandle(File& file) {
    const auto* posix = dynamic_cast<const PosixFile*>(&file);
    return posix != nullptr ? posix->fd() : -1;
}

}  // namespace fs
