// The machine's file system through the platform layer, whose one file per
// platform the build picks.
#include "fs/host_file_system.h"

namespace fs {

namespace {


class HostFile : public File {
public:
    explicit HostFile(platform::File file) : file_(std::move(file)) {}

    std::optional<std::size_t> read(void* buffer, std::size_t size) override { return file_.read(buffer, size); }
    std::optional<std::size_t> readSome(void* buffer, std::size_t size) override {
        return file_.readSome(buffer, size);
    }
    bool write(const void* data, std::size_t size) override { return file_.write(data, size); }
    bool seek(std::uint64_t position) override { return file_.seek(position); }
    std::optional<std::uint64_t> seekEnd() override { return file_.seekEnd(); }
    bool truncate(std::uint64_t length) override { return file_.truncate(length); }
    std::optional<Status> status() override { return file_.status(); }
    bool close() override { return file_.close(); }

    platform::File& native() { return file_; }

private:
    platform::File file_;
};

std::unique_ptr<File> wrapped(std::optional<platform::File> file) {
    if (!file) return nullptr;
    return std::make_unique<HostFile>(std::move(*file));
}

class HostFileSystem : public FileSystem {
public:
    PathStyle style() const override { return platform::separator == '\\' ? PathStyle::windows : PathStyle::posix; }
    std::optional<std::string> currentDir() override { return platform::currentDir(); }
    std::string fullPath(std::string_view path, std::string_view workingDir) override {
        return platform::fullPath(path, workingDir);
    }

    Status status(const std::string& path) override { return platform::pathStatus(path, true); }
    Status linkStatus(const std::string& path) override { return platform::pathStatus(path, false); }
    std::vector<Status> standardStreams() override { return platform::standardStreams(); }
    LinkChain followLinks(const std::string& path) override { return platform::followLinks(path); }
    bool access(const std::string& path, Access access) override {
        switch (access) {
        case Access::exists:
            return platform::exists(path);
        case Access::read:
            return platform::canRead(path);
        case Access::readWrite:
            return platform::canReadWrite(path);
        }
        return false;
    }
    std::optional<std::vector<Entry>> list(const std::string& dir) override { return platform::listDir(dir); }

    std::unique_ptr<File> openRead(const std::string& path, Status* opened, Lock lock) override {
        return wrapped(platform::openRead(path, opened, lock == Lock::shared));
    }
    std::unique_ptr<File> openExisting(const std::string& path) override {
        return wrapped(platform::openExisting(path));
    }
    std::unique_ptr<File> createNew(const std::string& path, bool& existed) override {
        platform::NewFile made = platform::createNew(path);
        existed = made.existed;
        return wrapped(std::move(made.file));
    }
    bool emptyFile(const std::string& path) override { return platform::emptyFile(path); }
    bool makeDir(const std::string& path) override { return platform::makeDir(path); }
    bool remove(const std::string& path) override { return platform::removeFile(path); }

    KernelCopy copy(File& source, File& target, std::size_t size) override {
        auto* from = dynamic_cast<HostFile*>(&source);
        auto* to = dynamic_cast<HostFile*>(&target);
        if (from == nullptr || to == nullptr) return {KernelCopy::Status::refused, 0};
        return platform::kernelCopy(from->native(), to->native(), size);
    }

    std::unique_ptr<File> createOutput(const std::string& path, const std::string* madeThroughLink) override {
        // Had before the file is made, so that no allocation can fail after.
        auto output = std::make_unique<HostFile>(platform::File());
        std::optional<platform::File> file = platform::createOutput(path, madeThroughLink);
        if (!file) return nullptr;
        output->native() = std::move(*file);
        return output;
    }
    bool closeOutput(File& output) override { return platform::closeOutput(static_cast<HostFile&>(output).native()); }
    void forgetOutput() override { platform::forgetOutput(); }
    void keepOutput() override { platform::endInterrupts(); }
};

}  // namespace

std::unique_ptr<File> hostFile(platform::File file) { return std::make_unique<HostFile>(std::move(file)); }

FileSystem& hostFileSystem() {
    static HostFileSystem files;
    return files;
}

}  // namespace fs
