// platform.h on a file system held in memory: files are byte vectors in a
// map by normalised path, and a File's handle indexes the table of open
// files. Nothing here touches the disk, the process's directory or signals.
#include "fuzz/memory_platform.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

#include "platform/platform.h"

namespace {

struct Node {
    bool directory = false;
    std::shared_ptr<memoryfs::Bytes> bytes;  // regular files only
    std::uint64_t inode = 0;
};

struct OpenFile {
    std::shared_ptr<memoryfs::Bytes> bytes;
    std::uint64_t inode = 0;
    std::uint64_t position = 0;
    bool writable = false;
};

struct State {
    std::map<std::string, Node> nodes;
    std::vector<std::optional<OpenFile>> open;
    std::string workingDir = "/";
    std::string transcript;
    std::uint64_t nextInode = 1;
};

State& state() {
    static State instance;
    return instance;
}

constexpr std::uint64_t device = 1;

platform::FileId idOf(std::uint64_t inode) {
    platform::FileId id;
    id.device = device;
    id.inode = inode;
    return id;
}

platform::FileInfo infoOf(const Node& node) {
    platform::FileInfo info;
    info.id = idOf(node.inode);
    info.size = node.directory ? 0 : node.bytes->size();
    info.links = 1;
    return info;
}

std::string normalised(const std::string& path) {
    std::string full = platform::fullPath(path, state().workingDir);
    if (full.size() > 1 && full.back() == '/') full.pop_back();
    return full;
}

std::string parentOf(const std::string& normalisedPath) {
    const std::size_t slash = normalisedPath.rfind('/');
    return slash == 0 ? std::string("/") : normalisedPath.substr(0, slash);
}

Node* find(const std::string& path) {
    const auto found = state().nodes.find(normalised(path));
    return found == state().nodes.end() ? nullptr : &found->second;
}

Node& insert(const std::string& normalisedPath, bool directory) {
    Node node;
    node.directory = directory;
    if (!directory) node.bytes = std::make_shared<memoryfs::Bytes>();
    node.inode = state().nextInode++;
    return state().nodes[normalisedPath] = std::move(node);
}

OpenFile* openFile(std::intptr_t handle) {
    auto& table = state().open;
    if (handle < 0 || static_cast<std::size_t>(handle) >= table.size() || !table[static_cast<std::size_t>(handle)]) {
        return nullptr;
    }
    return &*table[static_cast<std::size_t>(handle)];
}

platform::File opened(const Node& node, bool writable) {
    auto& table = state().open;
    OpenFile file{node.bytes, node.inode, 0, writable};
    const auto freeSlot = std::find(table.begin(), table.end(), std::nullopt);
    if (freeSlot != table.end()) {
        *freeSlot = std::move(file);
        return platform::File(freeSlot - table.begin());
    }
    table.push_back(std::move(file));
    return platform::File(static_cast<std::intptr_t>(table.size() - 1));
}

void closeHandle(std::intptr_t handle) {
    if (openFile(handle) != nullptr) state().open[static_cast<std::size_t>(handle)].reset();
}

}  // namespace

namespace memoryfs {

void reset(const std::string& workingDir) {
    state() = State{};
    insert("/", true);
    state().workingDir = normalised(workingDir);
    addDir(state().workingDir);
}

void addDir(const std::string& path) {
    const std::string full = normalised(path);
    if (full != "/") addDir(parentOf(full));
    if (find(full) == nullptr) insert(full, true);
}

void addFile(const std::string& path, const Bytes& bytes) {
    *insert(normalised(path), false).bytes = bytes;
}

std::optional<Bytes> fileBytes(const std::string& path) {
    const Node* node = find(path);
    if (node == nullptr || node->directory) return std::nullopt;
    return *node->bytes;
}

bool isDir(const std::string& path) {
    const Node* node = find(path);
    return node != nullptr && node->directory;
}

std::vector<std::string> namesIn(const std::string& dir) {
    std::vector<std::string> names;
    const std::string full = normalised(dir);
    for (const auto& [path, node] : state().nodes) {
        if (path != "/" && parentOf(path) == full) names.push_back(path.substr(path.rfind('/') + 1));
    }
    return names;
}

const std::string& transcript() { return state().transcript; }

std::size_t openFiles() {
    return static_cast<std::size_t>(std::count_if(state().open.begin(), state().open.end(),
                                                  [](const std::optional<OpenFile>& file) { return file.has_value(); }));
}

}  // namespace memoryfs

namespace platform {

const char separator = '/';

std::vector<std::string> arguments(int argc, char** argv) { return std::vector<std::string>(argv, argv + argc); }

void writeError(std::string_view text) { state().transcript += text; }

void flushErrors() {}

bool startsOption(std::string_view argument) { return !argument.empty() && argument.front() == '-'; }

std::optional<std::string> currentDir() { return state().workingDir; }

std::string fullPath(std::string_view path, std::string_view workingDir) {
    std::string joined;
    if (isAbsolute(path)) {
        joined = path;
    } else {
        joined = workingDir;
        joined += '/';
        joined += path;
    }
    std::vector<std::string_view> parts;
    std::string_view rest = joined;
    while (!rest.empty()) {
        const std::size_t cut = rest.find('/');
        const std::string_view part = rest.substr(0, cut);
        rest = cut == std::string_view::npos ? std::string_view{} : rest.substr(cut + 1);
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    std::string result;
    for (const std::string_view part : parts) {
        result += '/';
        result += part;
    }
    if (result.empty() || (!path.empty() && path.back() == '/')) result += '/';
    return result;
}

bool isAbsolute(std::string_view path) { return !path.empty() && path.front() == '/'; }

bool isRoot(std::string_view path) { return path == "/"; }

PathParts splitPath(std::string_view path) {
    PathParts parts;
    const std::size_t slash = path.rfind('/');
    const std::size_t nameStart = slash == std::string_view::npos ? 0 : slash + 1;
    parts.dir = path.substr(0, nameStart);
    const std::string_view fileName = path.substr(nameStart);
    const std::size_t dot = fileName.rfind('.');
    parts.name = fileName.substr(0, dot);
    if (dot != std::string_view::npos) parts.ext = fileName.substr(dot);
    return parts;
}

PathKind pathKind(const std::string& path) {
    const Node* node = find(path);
    if (node == nullptr) return PathKind::missing;
    return node->directory ? PathKind::directory : PathKind::other;
}

bool exists(const std::string& path) { return find(path) != nullptr; }
bool canRead(const std::string& path) { return exists(path); }
bool canReadWrite(const std::string& path) { return exists(path); }

std::optional<FileId> fileId(const std::string& path) {
    const Node* node = find(path);
    if (node == nullptr) return std::nullopt;
    return idOf(node->inode);
}

std::optional<FileInfo> fileInfo(const std::string& path) {
    const Node* node = find(path);
    if (node == nullptr) return std::nullopt;
    return infoOf(*node);
}

LinkChain followLinks(const std::string& path) { return LinkChain{{}, path}; }

std::optional<std::vector<DirEntry>> listDir(const std::string& dir) {
    if (!memoryfs::isDir(dir)) return std::nullopt;
    std::vector<DirEntry> entries;
    for (const std::string& name : memoryfs::namesIn(dir)) {
        entries.push_back(DirEntry{name, memoryfs::isDir(dir + "/" + name), false});
    }
    return entries;
}

bool makeDir(const std::string& path) {
    const std::string full = normalised(path);
    if (find(full) != nullptr || !memoryfs::isDir(parentOf(full))) return false;
    insert(full, true);
    return true;
}

bool removeFile(const std::string& path) {
    const Node* node = find(path);
    if (node == nullptr || node->directory) return false;
    state().nodes.erase(normalised(path));
    return true;
}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        closeHandle(handle_);
        handle_ = other.release();
    }
    return *this;
}

File::~File() { closeHandle(handle_); }

std::intptr_t File::release() {
    const std::intptr_t handle = handle_;
    handle_ = invalid;
    return handle;
}

std::optional<std::size_t> File::read(void* buffer, std::size_t size) { return readSome(buffer, size); }

std::optional<std::size_t> File::readSome(void* buffer, std::size_t size) {
    OpenFile* file = openFile(handle_);
    if (file == nullptr) return std::nullopt;
    const std::uint64_t end = file->bytes->size();
    if (file->position >= end) return 0;
    const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(size, end - file->position));
    std::memcpy(buffer, file->bytes->data() + file->position, count);
    file->position += count;
    return count;
}

bool File::write(const void* data, std::size_t size) {
    OpenFile* file = openFile(handle_);
    if (file == nullptr || !file->writable) return false;
    memoryfs::Bytes& bytes = *file->bytes;
    if (bytes.size() < file->position + size) bytes.resize(static_cast<std::size_t>(file->position + size));
    if (size > 0) std::memcpy(bytes.data() + file->position, data, size);
    file->position += size;
    return true;
}

bool File::seek(std::uint64_t position) {
    OpenFile* file = openFile(handle_);
    if (file == nullptr) return false;
    file->position = position;
    return true;
}

std::optional<std::uint64_t> File::seekEnd() {
    OpenFile* file = openFile(handle_);
    if (file == nullptr) return std::nullopt;
    file->position = file->bytes->size();
    return file->position;
}

std::optional<std::uint64_t> File::size() const {
    const OpenFile* file = openFile(handle_);
    if (file == nullptr) return std::nullopt;
    return file->bytes->size();
}

std::optional<FileId> File::id() const {
    const OpenFile* file = openFile(handle_);
    if (file == nullptr) return std::nullopt;
    return idOf(file->inode);
}

bool File::close() {
    if (!isOpen()) return true;
    closeHandle(release());
    return true;
}

std::optional<File> openRead(const std::string& path, FileInfo* info) {
    const Node* node = find(path);
    if (node == nullptr || node->directory) return std::nullopt;
    if (info != nullptr) *info = infoOf(*node);
    return opened(*node, false);
}

std::optional<File> createFile(const std::string& path) {
    const std::string full = normalised(path);
    if (!memoryfs::isDir(parentOf(full))) return std::nullopt;
    Node* node = find(full);
    if (node != nullptr && node->directory) return std::nullopt;
    if (node == nullptr) node = &insert(full, false);
    node->bytes->clear();
    return opened(*node, true);
}

NewFile createNew(const std::string& path) {
    if (find(normalised(path)) != nullptr) return NewFile{std::nullopt, true};
    return NewFile{createFile(path), false};
}


KernelCopy kernelCopy(File& source, File& target, std::size_t size) {
    OpenFile* from = openFile(source.handle());
    const OpenFile* to = openFile(target.handle());
    if (from == nullptr || to == nullptr || !to->writable) return {KernelCopy::Status::refused, 0};
    const std::uint64_t end = from->bytes->size();
    if (from->position >= end) return {KernelCopy::Status::endOfFile, 0};
    const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(size, end - from->position));
    // Through a copy, so that a file copied into itself reads what was there.
    const memoryfs::Bytes piece(from->bytes->begin() + static_cast<std::ptrdiff_t>(from->position),
                                from->bytes->begin() + static_cast<std::ptrdiff_t>(from->position + count));
    from->position += count;
    if (!target.write(piece.data(), piece.size())) return {KernelCopy::Status::writeError, 0};
    return {KernelCopy::Status::copied, count};
}

bool startProcess() { return true; }

bool File::truncate(std::uint64_t length) {
    OpenFile* file = openFile(handle_);
    if (file == nullptr || !file->writable) return false;
    file->bytes->resize(static_cast<std::size_t>(length));
    return true;
}

bool emptyFile(const std::string& path) {
    Node* node = find(path);
    if (node == nullptr || node->directory) return false;
    node->bytes->clear();
    return true;
}

// Like the real platform: an existing file keeps its bytes until they are
// written over and its length is set.
std::optional<File> createOutput(const std::string& path) {
    const std::string full = normalised(path);
    if (!memoryfs::isDir(parentOf(full))) return std::nullopt;
    Node* node = find(full);
    if (node != nullptr && node->directory) return std::nullopt;
    if (node == nullptr) node = &insert(full, false);
    return opened(*node, true);
}

bool closeOutput(File& output) { return output.close(); }

void forgetOutput() {}

void catchInterrupts(const char*) {}

void endInterrupts() {}

}  // namespace platform
