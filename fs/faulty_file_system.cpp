#include "fs/faulty_file_system.h"

namespace fs {

struct FaultLog {
    CallKind kind;
    std::uint64_t failAt;
    std::uint64_t calls = 0;
    std::optional<std::string> fault;
    std::vector<std::string> changes;

    // Counts a call; true when it is the one to fail.
    bool fails(CallKind of, std::string_view call, const std::string& detail) {
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

class FaultyFile : public File {
public:
    FaultyFile(std::unique_ptr<File> inner, std::string path, std::shared_ptr<FaultLog> log)
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
    std::optional<Status> status() override {
        if (log_->fails(CallKind::status, "fileStatus", path_)) return std::nullopt;
        return inner_->status();
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

private:
    std::unique_ptr<File> inner_;
    std::string path_;
    std::shared_ptr<FaultLog> log_;
    bool closed_ = false;
};

}  // namespace

FaultyFileSystem::FaultyFileSystem(FileSystem& inner, CallKind kind, std::uint64_t failAt)
    : inner_(inner), log_(std::make_shared<FaultLog>(FaultLog{kind, failAt, 0, std::nullopt, {}})) {}

FaultyFileSystem::~FaultyFileSystem() = default;

PathStyle FaultyFileSystem::style() const { return inner_.style(); }

std::optional<std::string> FaultyFileSystem::currentDir() {
    if (log_->fails(CallKind::status, "currentDir", "")) return std::nullopt;
    return inner_.currentDir();
}

Status FaultyFileSystem::status(const std::string& path) {
    // A path that can't be looked at shows as nothing there.
    if (log_->fails(CallKind::status, "status", path)) return {};
    return inner_.status(path);
}

LinkChain FaultyFileSystem::followLinks(const std::string& path) {
    // The first link can't be read: the chain ends where it starts.
    if (log_->fails(CallKind::status, "followLinks", path)) return {{}, path};
    return inner_.followLinks(path);
}

bool FaultyFileSystem::access(const std::string& path, Access access) {
    if (log_->fails(CallKind::status, "access", path)) return false;
    return inner_.access(path, access);
}

std::optional<std::vector<Entry>> FaultyFileSystem::list(const std::string& dir) {
    if (log_->fails(CallKind::list, "list", dir)) return std::nullopt;
    return inner_.list(dir);
}

std::unique_ptr<File> FaultyFileSystem::openRead(const std::string& path, Status* opened) {
    if (log_->fails(CallKind::open, "openRead", path)) return nullptr;
    std::unique_ptr<File> file = inner_.openRead(path, opened);
    if (!file) return nullptr;
    return std::make_unique<FaultyFile>(std::move(file), path, log_);
}

std::unique_ptr<File> FaultyFileSystem::create(const std::string& path) {
    if (log_->fails(CallKind::create, "create", path)) return nullptr;
    std::unique_ptr<File> file = inner_.create(path);
    if (!log_->changed(file != nullptr, "create", path)) return nullptr;
    return std::make_unique<FaultyFile>(std::move(file), path, log_);
}

bool FaultyFileSystem::emptyFile(const std::string& path) {
    if (log_->fails(CallKind::write, "emptyFile", path)) return false;
    return log_->changed(inner_.emptyFile(path), "emptyFile", path);
}

bool FaultyFileSystem::makeDir(const std::string& path) {
    if (log_->fails(CallKind::create, "makeDir", path)) return false;
    return log_->changed(inner_.makeDir(path), "makeDir", path);
}

bool FaultyFileSystem::remove(const std::string& path) {
    if (log_->fails(CallKind::remove, "remove", path)) return false;
    return log_->changed(inner_.remove(path), "remove", path);
}

std::uint64_t FaultyFileSystem::calls() const { return log_->calls; }

const std::optional<std::string>& FaultyFileSystem::fault() const { return log_->fault; }

const std::vector<std::string>& FaultyFileSystem::changesAfterFault() const { return log_->changes; }

}  // namespace fs
