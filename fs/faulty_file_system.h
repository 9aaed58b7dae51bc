// A file system over another one that fails the Nth call of one kind as the
// system would fail it, so that a test can run a procedure once for every
// call it makes, each time with that call failing, and check what it left.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fs/file_system.h"

namespace fs {

// open: openRead; create: create and makeDir; read: read and readSome;
// write: write and truncate; seek: seek and seekEnd; close: close (the file
// is closed nonetheless); list; remove; status: status, followLinks, access,
// currentDir and an open file's status. Calls on the files handed out count
// too.
enum class CallKind { open, create, read, write, seek, close, list, remove, status };

std::string_view nameOf(CallKind kind);

struct FaultLog;

class FaultyFileSystem : public FileSystem {
public:
    // Fails call number `failAt` (counted from 1) of `kind`; 0 fails none.
    FaultyFileSystem(FileSystem& inner, CallKind kind, std::uint64_t failAt);
    ~FaultyFileSystem() override;
    FaultyFileSystem(const FaultyFileSystem&) = delete;
    FaultyFileSystem& operator=(const FaultyFileSystem&) = delete;

    [[nodiscard]] PathStyle style() const override;
    [[nodiscard]] std::optional<std::string> currentDir() override;
    [[nodiscard]] Status status(const std::string& path) override;
    [[nodiscard]] LinkChain followLinks(const std::string& path) override;
    [[nodiscard]] bool access(const std::string& path, Access access) override;
    [[nodiscard]] std::optional<std::vector<Entry>> list(const std::string& dir) override;
    [[nodiscard]] std::unique_ptr<File> openRead(const std::string& path, Status* opened) override;
    [[nodiscard]] std::unique_ptr<File> create(const std::string& path) override;
    [[nodiscard]] bool emptyFile(const std::string& path) override;
    [[nodiscard]] bool makeDir(const std::string& path) override;
    [[nodiscard]] bool remove(const std::string& path) override;

    // Calls of the planned kind made so far, the failed one included.
    [[nodiscard]] std::uint64_t calls() const;
    // "kind call detail" of the failed call, such as "write truncate /a";
    // nullopt while none has failed.
    [[nodiscard]] const std::optional<std::string>& fault() const;
    // Every change that succeeded after the failure, as "call path": create,
    // makeDir, write, truncate, remove.
    [[nodiscard]] const std::vector<std::string>& changesAfterFault() const;

private:
    FileSystem& inner_;
    std::shared_ptr<FaultLog> log_;  // shared with the files handed out
};

}  // namespace fs
