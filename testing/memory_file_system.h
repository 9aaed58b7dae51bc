// A file system held in memory, as a POSIX kernel shows one: '/' separates
// and is the root; directories, regular files, FIFOs, hard links and
// symbolic links. Paths are resolved part by part through links, as the
// kernel resolves them. Permissions are not modelled: whatever exists can be
// read and written, but a folder can be made unlistable.
//
// It also shows what makes a listing lie about identity: files on devices
// other than their folder's (an overlay), files bound over other names
// (mount points, whose listing shows the number of the file they cover),
// devices whose numbers can't be trusted, locks held by other runs, and
// standard streams that are files of the tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fs/file_system.h"

namespace testsupport {

struct MemoryTree;

class MemoryFileSystem : public fs::FileSystem {
public:
    MemoryFileSystem();
    ~MemoryFileSystem() override;
    MemoryFileSystem(const MemoryFileSystem&) = delete;
    MemoryFileSystem& operator=(const MemoryFileSystem&) = delete;

    [[nodiscard]] fs::PathStyle style() const override;
    [[nodiscard]] std::optional<std::string> currentDir() override;
    [[nodiscard]] std::string fullPath(std::string_view path, std::string_view workingDir) override;
    [[nodiscard]] fs::FileInfo info(const std::string& path, fs::Links links = fs::Links::followed) override;
    [[nodiscard]] std::vector<fs::FileInfo> standardStreams() override;
    [[nodiscard]] fs::LinkChain followLinks(const std::string& path) override;
    [[nodiscard]] bool access(const std::string& path, fs::Access access) override;
    // Entries come sorted by name.
    [[nodiscard]] std::optional<std::vector<fs::Entry>> list(const std::string& dir,
                                                             fs::Detail detail = fs::Detail::names) override;
    [[nodiscard]] std::unique_ptr<fs::File> openRead(const std::string& path, fs::FileInfo* opened = nullptr,
                                                     fs::Lock lock = fs::Lock::none) override;
    [[nodiscard]] fs::Opened openToWrite(const std::string& path) override;
    [[nodiscard]] bool emptyFile(const std::string& path) override;
    [[nodiscard]] bool makeDir(const std::string& path) override;
    [[nodiscard]] bool remove(const std::string& path) override;
    [[nodiscard]] fs::KernelCopy copy(fs::File& source, fs::File& target, std::size_t size) override;
    [[nodiscard]] std::unique_ptr<fs::File> createOutput(const std::string& path, std::string& madeAt) override;

    // Creates a regular file for reading and writing, or empties an
    // existing one, links followed (a link that leads nowhere creating its
    // target).
    [[nodiscard]] std::unique_ptr<fs::File> create(const std::string& path);

    // Setting up a tree. Each add makes the missing folders above the new
    // name and throws std::invalid_argument when the name can't be made.
    void setCurrentDir(std::string path);
    void addDir(const std::string& path);
    // Writes a regular file, links followed, replacing what was there.
    void addFile(const std::string& path, std::string_view bytes);
    void addSymlink(const std::string& path, const std::string& target);
    // A second name for what `existing` names (a link itself, not followed).
    void addHardLink(const std::string& existing, const std::string& path);
    void addFifo(const std::string& path);
    // What `source` names (links followed) shows at `point`, an existing
    // name of the same kind, as a bind mount shows it: every path through
    // `point` reaches `source`, but the folder's listing still gives the
    // number of the file it covers, and the name can't be deleted.
    void mount(const std::string& source, const std::string& point);
    // What `path` names (links followed) lies on `device` (every file starts
    // on device 1): an overlay shows its lower layer's files in a folder of
    // its own device.
    void setDevice(const std::string& path, std::uint64_t device);
    // Files on `device` are not numbered for good: they are told apart by
    // their final paths, as on a volume without file ids.
    void setUnnumbered(std::uint64_t device);
    // The folder can still be searched and written, but not listed.
    void setUnlistable(const std::string& dir);
    // Another run holds what `path` names open with a lock: an exclusive one
    // keeps every other lock out, a shared one only exclusive ones.
    void lockElsewhere(const std::string& path, bool exclusive);
    // The standard output (1) or error (2) stream is the file `path`.
    void setStandardStream(int stream, const std::string& path);

    // Looking at a tree. bytesOf: the regular file `path` leads to; nullopt
    // for anything else.
    [[nodiscard]] std::optional<std::string> bytesOf(const std::string& path) const;
    // Every path below '/' (links not followed) to what it holds: a file's
    // bytes, "<dir>", "<fifo>", or "-> target" for a symbolic link. A mount
    // point shows what is mounted there.
    [[nodiscard]] std::map<std::string, std::string> snapshot() const;
    // Files opened and not yet closed.
    [[nodiscard]] std::size_t openFiles() const;

private:
    std::unique_ptr<MemoryTree> tree_;
};

}  // namespace testsupport
