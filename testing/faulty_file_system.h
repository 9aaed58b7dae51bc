// A file system over another one that fails the Nth call of one kind as the
// system would fail it, so that a test can run a procedure once for every
// call it makes, each time with that call failing, and check what it left.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "testing/file_system_wrapper.h"

namespace testsupport {

// open: openRead; create: openToWrite, createOutput and makeDir; read: read
// and readSome; write: write, truncate and emptyFile; seek: seek and
// seekEnd; close: close (the file is closed nonetheless); list; remove;
// status: info, standardStreams, followLinks, access, currentDir and an
// open file's info. Calls on the files handed out count too; a copy inside
// the system counts as a read of its source and a write of its target.
// Every other operation reaches the wrapped file system unchanged.
enum class CallKind { open, create, read, write, seek, close, list, remove, status };

std::string_view nameOf(CallKind kind);

struct FaultLog;

class FaultyFileSystem : public FileSystemWrapper {
public:
    // Fails call number `failAt` (counted from 1) of `kind`; 0 fails none.
    FaultyFileSystem(fs::FileSystem& inner, CallKind kind, std::uint64_t failAt);
    ~FaultyFileSystem() override;
    FaultyFileSystem(const FaultyFileSystem&) = delete;
    FaultyFileSystem& operator=(const FaultyFileSystem&) = delete;

    [[nodiscard]] std::optional<std::string> currentDir() override;
    [[nodiscard]] fs::FileInfo info(const std::string& path, fs::Links links = fs::Links::followed) override;
    [[nodiscard]] std::vector<fs::FileInfo> standardStreams() override;
    [[nodiscard]] fs::LinkChain followLinks(const std::string& path) override;
    [[nodiscard]] bool access(const std::string& path, fs::Access access) override;
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

    // Runs `observer` before every call of any kind, to see the files as a
    // run ended right there would leave them.
    void beforeEveryCall(std::function<void()> observer);

    // Calls of the planned kind made so far, the failed one included.
    [[nodiscard]] std::uint64_t calls() const;
    // "kind call detail" of the failed call, such as "write truncate /a";
    // nullopt while none has failed.
    [[nodiscard]] const std::optional<std::string>& fault() const;
    // Every change that succeeded after the failure, as "call path":
    // openToWrite (a file made), createOutput, makeDir, write, truncate,
    // emptyFile, remove, copy.
    [[nodiscard]] const std::vector<std::string>& changesAfterFault() const;

private:
    std::unique_ptr<fs::File> wrapped(std::unique_ptr<fs::File> file, const std::string& path);
    std::shared_ptr<FaultLog> log_;  // shared with the files handed out
};

}  // namespace testsupport
