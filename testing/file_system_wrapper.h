// A file system that hands every operation to another one: decorators
// derive from it and change only what they are about, so that nothing the
// wrapped file system does (exclusive creation, locks, the kernel copy) is
// lost under them.
#pragma once

#include "fs/file_system.h"

namespace testsupport {

class FileSystemWrapper : public fs::FileSystem {
public:
    explicit FileSystemWrapper(fs::FileSystem& inner) : inner_(inner) {}

    fs::PathStyle style() const override { return inner_.style(); }
    std::optional<std::string> currentDir() override { return inner_.currentDir(); }
    std::string fullPath(std::string_view path, std::string_view workingDir) override {
        return inner_.fullPath(path, workingDir);
    }
    fs::FileInfo info(const std::string& path, fs::Links links) override { return inner_.info(path, links); }
    std::vector<fs::FileInfo> standardStreams() override { return inner_.standardStreams(); }
    fs::LinkChain followLinks(const std::string& path) override { return inner_.followLinks(path); }
    bool access(const std::string& path, fs::Access access) override { return inner_.access(path, access); }
    std::optional<std::vector<fs::Entry>> list(const std::string& dir, fs::Detail detail = fs::Detail::names) override {
        return inner_.list(dir, detail);
    }
    std::unique_ptr<fs::File> openRead(const std::string& path, fs::FileInfo* opened, fs::Lock lock) override {
        return inner_.openRead(path, opened, lock);
    }
    fs::Opened openToWrite(const std::string& path) override { return inner_.openToWrite(path); }
    bool emptyFile(const std::string& path) override { return inner_.emptyFile(path); }
    bool makeDir(const std::string& path) override { return inner_.makeDir(path); }
    bool remove(const std::string& path) override { return inner_.remove(path); }
    fs::KernelCopy copy(fs::File& source, fs::File& target, std::size_t size) override {
        return inner_.copy(source, target, size);
    }
    std::unique_ptr<fs::File> createOutput(const std::string& path, std::string& madeAt) override {
        return inner_.createOutput(path, madeAt);
    }

protected:
    fs::FileSystem& inner() { return inner_; }

private:
    fs::FileSystem& inner_;
};

}  // namespace testsupport
