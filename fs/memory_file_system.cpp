#include "fs/memory_file_system.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <stdexcept>

namespace fs {

enum class NodeType { directory, file, fifo, link };

// A file of any type. A folder's entries own their nodes, and so does every
// open file: a node lives while a name or an open file holds it.
struct MemoryNode {
    NodeType type = NodeType::file;
    std::uint64_t inode = 0;
    std::uint64_t names = 0;  // folder entries that lead to it
    std::string bytes;        // a regular file's contents
    std::string target;       // a link's
    std::map<std::string, std::shared_ptr<MemoryNode>> entries;  // a folder's
    MemoryNode* parent = nullptr;  // a folder's; the root is its own
};

struct MemoryTree {
    std::shared_ptr<MemoryNode> root;
    std::string currentDir = "/";
    std::uint64_t lastInode = 0;
    // Shared with the open files, which may outlive the tree.
    std::shared_ptr<std::size_t> openFiles = std::make_shared<std::size_t>(0);
};

namespace {

constexpr std::uint64_t device = 1;
// As many links as the kernel follows in one path before it gives up.
constexpr int maxHops = 40;

std::shared_ptr<MemoryNode> newNode(MemoryTree& tree, NodeType type) {
    auto node = std::make_shared<MemoryNode>();
    node->type = type;
    node->inode = ++tree.lastInode;
    return node;
}

void addEntry(MemoryNode& dir, const std::string& name, std::shared_ptr<MemoryNode> node) {
    if (node->type == NodeType::directory) node->parent = &dir;
    ++node->names;
    dir.entries.emplace(name, std::move(node));
}

std::deque<std::string> partsOf(std::string_view path) {
    std::deque<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t slash = std::min(path.find('/', start), path.size());
        if (slash > start) parts.emplace_back(path.substr(start, slash - start));
        start = slash + 1;
    }
    return parts;
}

// Up to and including the last '/'; empty when there is none.
std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Where a path leads. `node` is what it names, null when its last name is
// free in `dir`; a path ending in "." or ".." names a folder with no `dir`.
struct Found {
    bool ok = false;  // false: a folder on the way is missing or no folder, or links loop
    MemoryNode* dir = nullptr;
    std::string name;
    MemoryNode* node = nullptr;
    bool trailingSlash = false;

    std::shared_ptr<MemoryNode> owned() const { return dir->entries.at(name); }
};

// Part by part from `start`, as the kernel goes: a link met on the way is
// replaced by its target's parts, so a ".." after it leaves the folder the
// link leads to.
Found walkFrom(const MemoryTree& tree, MemoryNode& start, std::string_view path, bool followLast) {
    if (path.empty()) return {};
    std::deque<std::string> rest = partsOf(path);
    MemoryNode* dir = path.front() == '/' ? tree.root.get() : &start;
    Found found{true, nullptr, {}, dir, path.back() == '/'};
    int hops = 0;
    while (!rest.empty()) {
        if (dir->type != NodeType::directory) return {};
        std::string name = std::move(rest.front());
        rest.pop_front();
        if (name == "." || name == "..") {
            if (name == "..") dir = dir->parent;
            found.dir = nullptr;
            found.node = dir;
            continue;
        }
        const auto entry = dir->entries.find(name);
        if (entry == dir->entries.end()) {
            if (!rest.empty()) return {};
            found.dir = dir;
            found.name = std::move(name);
            found.node = nullptr;
            break;
        }
        MemoryNode* next = entry->second.get();
        if (next->type == NodeType::link && (!rest.empty() || followLast)) {
            if (++hops > maxHops) return {};
            const std::deque<std::string> target = partsOf(next->target);
            rest.insert(rest.begin(), target.begin(), target.end());
            if (next->target.front() == '/') dir = tree.root.get();
            found.dir = nullptr;
            found.node = dir;
            continue;
        }
        found.dir = dir;
        found.name = std::move(name);
        found.node = next;
        dir = next;
    }
    if (found.trailingSlash && found.node != nullptr && found.node->type != NodeType::directory) return {};
    return found;
}

Found walk(const MemoryTree& tree, std::string_view path, bool followLast) {
    MemoryNode* start = tree.root.get();
    if (!path.empty() && path.front() != '/') {
        const Found current = walkFrom(tree, *tree.root, tree.currentDir, true);
        if (!current.ok || current.node == nullptr || current.node->type != NodeType::directory) return {};
        start = current.node;
    }
    return walkFrom(tree, *start, path, followLast);
}

FileId idOf(const MemoryNode& node) {
    FileId id;
    id.device = device;
    id.inode = node.inode;
    return id;
}

Status statusOf(const MemoryNode& node) {
    Status status;
    status.id = idOf(node);
    status.links = node.names;
    switch (node.type) {
    case NodeType::directory:
        status.kind = Kind::directory;
        // Its own name, its "." and each subfolder's "..".
        status.links = 2 + static_cast<std::uint64_t>(std::count_if(
                               node.entries.begin(), node.entries.end(),
                               [](const auto& entry) { return entry.second->type == NodeType::directory; }));
        break;
    case NodeType::file:
        status.kind = Kind::file;
        status.size = node.bytes.size();
        break;
    case NodeType::fifo:
    case NodeType::link:
        status.kind = Kind::other;
        break;
    }
    return status;
}

class MemoryFile : public File {
public:
    MemoryFile(std::shared_ptr<MemoryNode> node, bool writable, std::shared_ptr<std::size_t> openFiles)
        : node_(std::move(node)), writable_(writable), openFiles_(std::move(openFiles)) {
        ++*openFiles_;
    }
    ~MemoryFile() override {
        if (node_) static_cast<void>(close());
    }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    std::optional<std::size_t> read(void* buffer, std::size_t size) override {
        if (!node_) return std::nullopt;
        const std::string& bytes = node_->bytes;
        if (position_ >= bytes.size()) return 0;
        const std::size_t count = std::min<std::size_t>(size, bytes.size() - position_);
        std::memcpy(buffer, bytes.data() + position_, count);
        position_ += count;
        return count;
    }
    std::optional<std::size_t> readSome(void* buffer, std::size_t size) override { return read(buffer, size); }

    bool write(const void* data, std::size_t size) override {
        if (!node_ || !writable_) return false;
        if (size == 0) return true;
        std::string& bytes = node_->bytes;
        if (position_ > bytes.size()) bytes.resize(position_, '\0');
        bytes.replace(position_, size, static_cast<const char*>(data), size);
        position_ += size;
        return true;
    }
    bool seek(std::uint64_t position) override {
        if (!node_) return false;
        position_ = position;
        return true;
    }
    std::optional<std::uint64_t> seekEnd() override {
        if (!node_) return std::nullopt;
        position_ = node_->bytes.size();
        return position_;
    }
    bool truncate(std::uint64_t length) override {
        if (!node_ || !writable_) return false;
        node_->bytes.resize(length, '\0');
        return true;
    }
    std::optional<Status> status() override {
        if (!node_) return std::nullopt;
        return statusOf(*node_);
    }
    bool close() override {
        if (!node_) return false;
        node_.reset();
        --*openFiles_;
        return true;
    }

private:
    std::shared_ptr<MemoryNode> node_;  // null once closed
    bool writable_;
    std::shared_ptr<std::size_t> openFiles_;
    std::uint64_t position_ = 0;
};

// A new name for a setup helper; throws where it can't be made.
void addNew(MemoryTree& tree, const std::string& path, std::shared_ptr<MemoryNode> node) {
    const Found found = walk(tree, path, false);
    if (!found.ok || found.node != nullptr || found.trailingSlash) throw std::invalid_argument("add: " + path);
    addEntry(*found.dir, found.name, std::move(node));
}

void describe(const MemoryNode& dir, const std::string& dirPath, std::map<std::string, std::string>& into) {
    for (const auto& [name, node] : dir.entries) {
        const std::string path = dirPath + "/" + name;
        switch (node->type) {
        case NodeType::directory:
            into[path] = "<dir>";
            describe(*node, path, into);
            break;
        case NodeType::file: into[path] = node->bytes; break;
        case NodeType::fifo: into[path] = "<fifo>"; break;
        case NodeType::link: into[path] = "-> " + node->target; break;
        }
    }
}

}  // namespace

MemoryFileSystem::MemoryFileSystem() : tree_(std::make_unique<MemoryTree>()) {
    tree_->root = newNode(*tree_, NodeType::directory);
    tree_->root->parent = tree_->root.get();
    tree_->root->names = 1;
}

MemoryFileSystem::~MemoryFileSystem() = default;

PathStyle MemoryFileSystem::style() const { return PathStyle::posix; }

std::optional<std::string> MemoryFileSystem::currentDir() { return tree_->currentDir; }

Status MemoryFileSystem::status(const std::string& path) {
    const Found found = walk(*tree_, path, true);
    if (!found.ok || found.node == nullptr) return {};
    return statusOf(*found.node);
}

LinkChain MemoryFileSystem::followLinks(const std::string& path) {
    LinkChain chain{{}, path};
    for (int hop = 0; hop < maxHops; ++hop) {
        const Found found = walk(*tree_, chain.target, false);
        if (!found.ok || found.node == nullptr || found.node->type != NodeType::link) break;
        chain.links.push_back(idOf(*found.node));
        const std::string& to = found.node->target;
        chain.target = to.front() == '/' ? to : folderOf(chain.target) + to;
    }
    return chain;
}

bool MemoryFileSystem::access(const std::string& path, Access) { return status(path).kind != Kind::missing; }

std::optional<std::vector<Entry>> MemoryFileSystem::list(const std::string& dir) {
    const Found found = walk(*tree_, dir, true);
    if (!found.ok || found.node == nullptr || found.node->type != NodeType::directory) return std::nullopt;
    std::vector<Entry> entries;
    for (const auto& [name, node] : found.node->entries) {
        Entry entry;
        entry.name = name;
        entry.isLink = node->type == NodeType::link;
        entry.isDirectory = node->type == NodeType::directory;
        if (entry.isLink) {
            const Found target = walkFrom(*tree_, *found.node, name, true);
            entry.isDirectory = target.ok && target.node != nullptr && target.node->type == NodeType::directory;
        }
        entry.inode = node->inode;
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::unique_ptr<File> MemoryFileSystem::openRead(const std::string& path, Status* opened) {
    const Found found = walk(*tree_, path, true);
    if (!found.ok || found.node == nullptr || found.node->type != NodeType::file) return nullptr;
    if (opened != nullptr) *opened = statusOf(*found.node);
    return std::make_unique<MemoryFile>(found.owned(), false, tree_->openFiles);
}

std::unique_ptr<File> MemoryFileSystem::create(const std::string& path) {
    const Found found = walk(*tree_, path, true);
    if (!found.ok) return nullptr;
    if (found.node != nullptr) {
        if (found.node->type != NodeType::file) return nullptr;
        found.node->bytes.clear();
        return std::make_unique<MemoryFile>(found.owned(), true, tree_->openFiles);
    }
    if (found.trailingSlash) return nullptr;
    addEntry(*found.dir, found.name, newNode(*tree_, NodeType::file));
    return std::make_unique<MemoryFile>(found.owned(), true, tree_->openFiles);
}

bool MemoryFileSystem::emptyFile(const std::string& path) {
    const Found found = walk(*tree_, path, true);
    if (!found.ok || found.node == nullptr || found.node->type != NodeType::file) return false;
    found.node->bytes.clear();
    return true;
}

bool MemoryFileSystem::makeDir(const std::string& path) {
    const Found found = walk(*tree_, path, false);
    if (!found.ok || found.node != nullptr) return false;
    addEntry(*found.dir, found.name, newNode(*tree_, NodeType::directory));
    return true;
}

bool MemoryFileSystem::remove(const std::string& path) {
    const Found found = walk(*tree_, path, false);
    if (!found.ok || found.dir == nullptr || found.node == nullptr || found.node->type == NodeType::directory) {
        return false;
    }
    --found.node->names;
    found.dir->entries.erase(found.name);
    return true;
}

void MemoryFileSystem::setCurrentDir(std::string path) { tree_->currentDir = std::move(path); }

void MemoryFileSystem::addDir(const std::string& path) {
    std::string prefix = path.starts_with('/') ? "/" : "";
    for (const std::string& part : partsOf(path)) {
        prefix += part;
        const Kind kind = status(prefix).kind;
        if (kind == Kind::missing && !makeDir(prefix)) throw std::invalid_argument("addDir: " + prefix);
        if (kind != Kind::missing && kind != Kind::directory) throw std::invalid_argument("addDir: " + prefix);
        prefix += '/';
    }
}

void MemoryFileSystem::addFile(const std::string& path, std::string_view bytes) {
    addDir(folderOf(path));
    const std::unique_ptr<File> file = create(path);
    if (!file || !file->write(bytes.data(), bytes.size()) || !file->close()) {
        throw std::invalid_argument("addFile: " + path);
    }
}

void MemoryFileSystem::addSymlink(const std::string& path, const std::string& target) {
    if (target.empty()) throw std::invalid_argument("addSymlink: empty target");
    addDir(folderOf(path));
    auto link = newNode(*tree_, NodeType::link);
    link->target = target;
    addNew(*tree_, path, std::move(link));
}

void MemoryFileSystem::addHardLink(const std::string& existing, const std::string& path) {
    const Found found = walk(*tree_, existing, false);
    if (!found.ok || found.dir == nullptr || found.node == nullptr || found.node->type == NodeType::directory) {
        throw std::invalid_argument("addHardLink: " + existing);
    }
    std::shared_ptr<MemoryNode> node = found.owned();
    addDir(folderOf(path));
    addNew(*tree_, path, std::move(node));
}

void MemoryFileSystem::addFifo(const std::string& path) {
    addDir(folderOf(path));
    addNew(*tree_, path, newNode(*tree_, NodeType::fifo));
}

std::optional<std::string> MemoryFileSystem::bytesOf(const std::string& path) const {
    const Found found = walk(*tree_, path, true);
    if (!found.ok || found.node == nullptr || found.node->type != NodeType::file) return std::nullopt;
    return found.node->bytes;
}

std::map<std::string, std::string> MemoryFileSystem::snapshot() const {
    std::map<std::string, std::string> tree;
    describe(*tree_->root, "", tree);
    return tree;
}

std::size_t MemoryFileSystem::openFiles() const { return *tree_->openFiles; }

}  // namespace fs
