// A file system that hands every operation to another one: decorators
// derive from it and change only what they are about, so that nothing the
// wrapped file system does (exclusive creation, locks, the kernel copy, the
// output's registration) is lost under them.
#pragma once

#include "fs/file_system.h"

namespace fs {

class FileSystemWrapper : public FileSystem {
public:
    explicit FileSystemWrapper(FileSystem& inner) : inner_(inner) {}

    PathStyle style() const override { return inner_.style(); }
    std::optional<std::string> currentDir() override { return inner_.currentDir(); }
    std::string fullPath(std::string_view path, std::string_view workingDir) override {
        return inner_.fullPath(path, workingDir);
    }
    Status status(const std::string& path) override { return inner_.status(path); }
    Status linkStatus(const std::string& path) override { return inner_.linkStatus(path); }
    std::vector<Status> standardStreams() override { return inner_.standardStreams(); }
    LinkChain followLinks(const std::string& path) override { return inner_.followLinks(path); }
    bool access(const std::string& path, Access access) override { return inner_.access(path, access); }
    std::optional<std::vector<Entry>> list(const std::string& dir) override { return inner_.list(dir); }
    std::unique_ptr<File> openRead(const std::string& path, Status* opened, Lock lock) override {
        return inner_.openRead(path, opened, lock);
    }
    std::unique_ptr<File> createNew(const std::string& path, bool& existed) override {
        return inner_.createNew(path, existed);
    }
    std::unique_ptr<File> openExisting(const std::string& path) override { return inner_.openExisting(path); }
    bool emptyFile(const std::string& path) override { return inner_.emptyFile(path); }
    bool makeDir(const std::string& path) override { return inner_.makeDir(path); }
    bool remove(const std::string& path) override { return inner_.remove(path); }
    KernelCopy copy(File& source, File& target, std::size_t size) override {
        return inner_.copy(source, target, size);
    }
    std::unique_ptr<File> createOutput(const std::string& path, const std::string* madeThroughLink) override {
        return inner_.createOutput(path, madeThroughLink);
    }
    bool closeOutput(File& output) override { return inner_.closeOutput(output); }
    void forgetOutput() override { inner_.forgetOutput(); }
    void keepOutput() override { inner_.keepOutput(); }

protected:
    FileSystem& inner() { return inner_; }

private:
    FileSystem& inner_;
};

}  // namespace fs
