#include "testing/faulty_file_system.h"

namespace testsupport {

struct FaultLog {
    CallKind kind;
    std::uint64_t failAt;
    std::uint64_t calls = 0;
    std::optional<std::string> fault;
    std::vector<std::string> changes;
    std::function<void()> observer;

    // Counts a call; true when it is the one to fail.
    bool fails(CallKind of, std::string_view call, const std::string& detail) {
        if (observer) observer();
        if (of != kind || ++calls != failAt) return false;
        fault = std::string(nameOf(of)) + " " + std::string(call);
        if (!detail.empty()) *fault += " " + detail;
        return true;
    }
    // Passes a change's result through, noting it when it succeeded after
    // the failure.
    bool changed(bool succeeded, std::string_view call, const std::string& path) {
        if (succeeded && fault) changes.push_back(std::string(call) + " " + path);
        return succeeded;
    }
};

std::string_view nameOf(CallKind kind) {
    switch (kind) {
    case CallKind::open: return "open";
    case CallKind::create: return "create";
    case CallKind::read: return "read";
    case CallKind::write: return "write";
    case CallKind::seek: return "seek";
    case CallKind::close: return "close";
    case CallKind::list: return "list";
    case CallKind::remove: return "remove";
    case CallKind::status: return "status";
    }
    return "?";
}

namespace {

class FaultyFile : public fs::File {
public:
    FaultyFile(std::unique_ptr<fs::File> inner, std::string path, std::shared_ptr<FaultLog> log)
        : inner_(std::move(inner)), path_(std::move(path)), log_(std::move(log)) {}
    // A file closed by going out of scope makes a close call as well.
    ~FaultyFile() override {
        if (!closed_) static_cast<void>(close());
    }
    FaultyFile(const FaultyFile&) = delete;
    FaultyFile& operator=(const FaultyFile&) = delete;

    std::optional<std::size_t> read(void* buffer, std::size_t size) override {
        if (log_->fails(CallKind::read, "read", path_)) return std::nullopt;
        return inner_->read(buffer, size);
    }
    std::optional<std::size_t> readSome(void* buffer, std::size_t size) override {
        if (log_->fails(CallKind::read, "readSome", path_)) return std::nullopt;
        return inner_->readSome(buffer, size);
    }
    bool write(const void* data, std::size_t size) override {
        if (log_->fails(CallKind::write, "write", path_)) return false;
        return log_->changed(inner_->write(data, size), "write", path_);
    }
    bool truncate(std::uint64_t length) override {
        if (log_->fails(CallKind::write, "truncate", path_)) return false;
        return log_->changed(inner_->truncate(length), "truncate", path_);
    }
    bool seek(std::uint64_t position) override {
        if (log_->fails(CallKind::seek, "seek", path_)) return false;
        return inner_->seek(position);
    }
    std::optional<std::uint64_t> seekEnd() override {
        if (log_->fails(CallKind::seek, "seekEnd", path_)) return std::nullopt;
        return inner_->seekEnd();
    }
    std::optional<fs::FileInfo> info() override {
        if (log_->fails(CallKind::status, "fileInfo", path_)) return std::nullopt;
        return inner_->info();
    }
    bool close() override {
        closed_ = true;
        if (log_->fails(CallKind::close, "close", path_)) {
            // As on Linux: the file is closed, yet the close reports an error.
            static_cast<void>(inner_->close());
            return false;
        }
        return inner_->close();
    }
    const std::string& path() const { return path_; }

    fs::File& inner() { return *inner_; }

private:
    std::unique_ptr<fs::File> inner_;
    std::string path_;
    std::shared_ptr<FaultLog> log_;
    bool closed_ = false;
};

}  // namespace

FaultyFileSystem::FaultyFileSystem(fs::FileSystem& inner, CallKind kind, std::uint64_t failAt)
    : FileSystemWrapper(inner), log_(std::make_shared<FaultLog>(FaultLog{kind, failAt, 0, std::nullopt, {}, {}})) {}

FaultyFileSystem::~FaultyFileSystem() = default;

std::unique_ptr<fs::File> FaultyFileSystem::wrapped(std::unique_ptr<fs::File> file, const std::string& path) {
    if (!file) return nullptr;
    return std::make_unique<FaultyFile>(std::move(file), path, log_);
}

std::optional<std::string> FaultyFileSystem::currentDir() {
    if (log_->fails(CallKind::status, "currentDir", "")) return std::nullopt;
    return inner().currentDir();
}

fs::FileInfo FaultyFileSystem::info(const std::string& path, fs::Links links) {
    // A path that can't be looked at shows as nothing there.
    if (log_->fails(CallKind::status, "info", path)) return {};
    return inner().info(path, links);
}

std::vector<fs::FileInfo> FaultyFileSystem::standardStreams() {
    // Streams that can't be looked at show as no files.
    if (log_->fails(CallKind::status, "standardStreams", "")) return {};
    return inner().standardStreams();
}

fs::LinkChain FaultyFileSystem::followLinks(const std::string& path) {
    // The first link can't be read: the chain ends where it starts.
    if (log_->fails(CallKind::status, "followLinks", path)) return {{}, path};
    return inner().followLinks(path);
}

bool FaultyFileSystem::access(const std::string& path, fs::Access access) {
    if (log_->fails(CallKind::status, "access", path)) return false;
    return inner().access(path, access);
}

std::optional<std::vector<fs::Entry>> FaultyFileSystem::list(const std::string& dir, fs::Detail detail) {
    if (log_->fails(CallKind::list, "list", dir)) return std::nullopt;
    return inner().list(dir, detail);
}

std::unique_ptr<fs::File> FaultyFileSystem::openRead(const std::string& path, fs::FileInfo* opened, fs::Lock lock) {
    if (log_->fails(CallKind::open, "openRead", path)) return nullptr;
    return wrapped(inner().openRead(path, opened, lock), path);
}

fs::Opened FaultyFileSystem::openToWrite(const std::string& path) {
    if (log_->fails(CallKind::create, "openToWrite", path)) return {};
    fs::Opened opened = inner().openToWrite(path);
    if (opened.made) log_->changed(true, "openToWrite", path);
    opened.file = wrapped(std::move(opened.file), path);
    return opened;
}

bool FaultyFileSystem::emptyFile(const std::string& path) {
    if (log_->fails(CallKind::write, "emptyFile", path)) return false;
    return log_->changed(inner().emptyFile(path), "emptyFile", path);
}

bool FaultyFileSystem::makeDir(const std::string& path) {
    if (log_->fails(CallKind::create, "makeDir", path)) return false;
    return log_->changed(inner().makeDir(path), "makeDir", path);
}

bool FaultyFileSystem::remove(const std::string& path) {
    if (log_->fails(CallKind::remove, "remove", path)) return false;
    return log_->changed(inner().remove(path), "remove", path);
}

fs::KernelCopy FaultyFileSystem::copy(fs::File& source, fs::File& target, std::size_t size) {
    auto& from = static_cast<FaultyFile&>(source);
    auto& to = static_cast<FaultyFile&>(target);
    if (log_->fails(CallKind::read, "copy", from.path())) return {fs::KernelCopy::Outcome::readError, 0};
    if (log_->fails(CallKind::write, "copy", to.path())) return {fs::KernelCopy::Outcome::writeError, 0};
    const fs::KernelCopy done = inner().copy(from.inner(), to.inner(), size);
    log_->changed(done.outcome == fs::KernelCopy::Outcome::copied, "copy", to.path());
    return done;
}

std::unique_ptr<fs::File> FaultyFileSystem::createOutput(const std::string& path, std::string& madeAt) {
    if (log_->fails(CallKind::create, "createOutput", path)) return nullptr;
    std::unique_ptr<fs::File> file = inner().createOutput(path, madeAt);
    if (!log_->changed(file != nullptr, "createOutput", path)) return nullptr;
    return wrapped(std::move(file), path);
}

void FaultyFileSystem::beforeEveryCall(std::function<void()> observer) { log_->observer = std::move(observer); }

std::uint64_t FaultyFileSystem::calls() const { return log_->calls; }

const std::optional<std::string>& FaultyFileSystem::fault() const { return log_->fault; }

const std::vector<std::string>& FaultyFileSystem::changesAfterFault() const { return log_->changes; }

}  // namespace testsupport
