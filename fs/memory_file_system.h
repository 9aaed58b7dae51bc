// A file system held in memory, as a POSIX kernel shows one: '/' separates
// and is the root, one device, directories, regular files, FIFOs, hard links
// and symbolic links. Paths are resolved part by part through links, as the
// kernel resolves them. Permissions are not modelled: whatever exists can be
// read and written.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "fs/file_system.h"

namespace fs {

struct MemoryTree;

class MemoryFileSystem : public FileSystem {
public:
    MemoryFileSystem();
    ~MemoryFileSystem() override;
    MemoryFileSystem(const MemoryFileSystem&) = delete;
    MemoryFileSystem& operator=(const MemoryFileSystem&) = delete;

    [[nodiscard]] PathStyle style() const override;
    [[nodiscard]] std::optional<std::string> currentDir() override;
    [[nodiscard]] Status status(const std::string& path) override;
    [[nodiscard]] LinkChain followLinks(const std::string& path) override;
    [[nodiscard]] bool access(const std::string& path, Access access) override;
    // Entries come sorted by name.
    [[nodiscard]] std::optional<std::vector<Entry>> list(const std::string& dir) override;
    [[nodiscard]] std::unique_ptr<File> openRead(const std::string& path, Status* opened) override;
    [[nodiscard]] std::unique_ptr<File> create(const std::string& path) override;
    [[nodiscard]] bool emptyFile(const std::string& path) override;
    [[nodiscard]] bool makeDir(const std::string& path) override;
    [[nodiscard]] bool remove(const std::string& path) override;

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

    // Looking at a tree. bytesOf: the regular file `path` leads to; nullopt
    // for anything else.
    [[nodiscard]] std::optional<std::string> bytesOf(const std::string& path) const;
    // Every path below '/' (links not followed) to what it holds: a file's
    // bytes, "<dir>", "<fifo>", or "-> target" for a symbolic link.
    [[nodiscard]] std::map<std::string, std::string> snapshot() const;
    // Files opened and not yet closed.
    [[nodiscard]] std::size_t openFiles() const;

private:
    std::unique_ptr<MemoryTree> tree_;
};

}  // namespace fs
