#include "testing/memory_file_system.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <deque>
#include <set>
#include <stdexcept>

namespace testsupport {

enum class NodeType { directory, file, fifo, link };
enum class HeldLock { none, shared, exclusive };

// A file of any type. A folder's entries own their nodes, and so does every
// open file: a node lives while a name or an open file holds it.
struct MemoryNode {
    NodeType type = NodeType::file;
    std::uint64_t inode = 0;
    std::uint64_t device = 1;
    std::uint64_t names = 0;                                     // folder entries that lead to it
    std::string bytes;                                           // a regular file's contents
    std::string target;                                          // a link's
    std::map<std::string, std::shared_ptr<MemoryNode>> entries;  // a folder's
    MemoryNode* parent = nullptr;                                // a folder's; the root is its own
    // Where the node was first named, the final path a mount resolves to.
    MemoryNode* homeDir = nullptr;
    std::string homeName;
    // What shows at this node's names instead of it: it is a mount point.
    std::shared_ptr<MemoryNode> mounted;
    bool unlistable = false;
    HeldLock lockedElsewhere = HeldLock::none;
};

struct MemoryTree {
    std::shared_ptr<MemoryNode> root;
    std::string currentDir = "/";
    std::uint64_t lastInode = 0;
    std::set<std::uint64_t> unnumbered;
    // The standard output and error streams, where they are files.
    std::array<std::shared_ptr<MemoryNode>, 2> streams;
    std::array<std::string, 2> streamPaths;
    // Shared with the open files, which may outlive the tree.
    std::shared_ptr<std::size_t> openFiles = std::make_shared<std::size_t>(0);
};

namespace {

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
    if (node->homeDir == nullptr) {
        node->homeDir = &dir;
        node->homeName = name;
    }
    ++node->names;
    dir.entries.emplace(name, std::move(node));
}

// What shows at a name: the node itself, or what is mounted over it.
const std::shared_ptr<MemoryNode>& shown(const std::shared_ptr<MemoryNode>& node) {
    return node->mounted ? shown(node->mounted) : node;
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
    bool mountPoint = false;  // the last name has something mounted over it

    std::shared_ptr<MemoryNode> owned() const { return shown(dir->entries.at(name)); }
};

// Part by part from `start`, as the kernel goes: a link met on the way is
// replaced by its target's parts, so a ".." after it leaves the folder the
// link leads to.
Found walkFrom(const MemoryTree& tree, MemoryNode& start, std::string_view path, bool followLast) {
    if (path.empty()) return {};
    std::deque<std::string> rest = partsOf(path);
    MemoryNode* dir = path.front() == '/' ? tree.root.get() : &start;
    Found found{true, nullptr, {}, dir, path.back() == '/', false};
    int hops = 0;
    while (!rest.empty()) {
        if (dir->type != NodeType::directory) return {};
        std::string name = std::move(rest.front());
        rest.pop_front();
        if (name == "." || name == "..") {
            if (name == "..") dir = dir->parent;
            found.dir = nullptr;
            found.node = dir;
            found.mountPoint = false;
            continue;
        }
        const auto entry = dir->entries.find(name);
        if (entry == dir->entries.end()) {
            if (!rest.empty()) return {};
            found.dir = dir;
            found.name = std::move(name);
            found.node = nullptr;
            found.mountPoint = false;
            break;
        }
        MemoryNode* next = shown(entry->second).get();
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
        found.mountPoint = entry->second->mounted != nullptr;
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

// The path of a folder from the root, as its names lead down to it.
std::string pathOf(const MemoryTree& tree, const MemoryNode& dir) {
    if (&dir == tree.root.get()) return "";
    const MemoryNode& parent = *dir.parent;
    for (const auto& [name, node] : parent.entries) {
        if (shown(node).get() == &dir) return pathOf(tree, parent) + "/" + name;
    }
    return pathOf(tree, parent) + "/?";
}

// The final path of what `found` names: its folder's path and its name,
// or where a file mounted there was first named.
std::string finalPathOf(const MemoryTree& tree, const Found& found) {
    if (found.dir == nullptr) return pathOf(tree, *found.node) + "/";
    if (found.mountPoint && found.node->homeDir != nullptr) {
        return pathOf(tree, *found.node->homeDir) + "/" + found.node->homeName;
    }
    return pathOf(tree, *found.dir) + "/" + found.name;
}

fs::FileInfo statusOf(const MemoryTree& tree, const MemoryNode& node, const std::string& finalPath) {
    fs::FileInfo status;
    status.id.device = node.device;
    status.id.inode = node.inode;
    // As on a system that can't trust every volume's numbers: every file
    // has its final path, by which files of different devices are told
    // apart where either has no numbers.
    status.id.numbered = !tree.unnumbered.contains(node.device);
    if (!tree.unnumbered.empty()) status.id.finalPath = finalPath;
    status.links = node.names;
    switch (node.type) {
    case NodeType::directory:
        status.kind = fs::Kind::directory;
        // Its own name, its "." and each subfolder's "..".
        status.links = 2 + static_cast<std::uint64_t>(std::count_if(
                               node.entries.begin(), node.entries.end(),
                               [](const auto& entry) { return entry.second->type == NodeType::directory; }));
        break;
    case NodeType::file:
        status.kind = fs::Kind::file;
        status.size = node.bytes.size();
        break;
    case NodeType::fifo:
    case NodeType::link: status.kind = fs::Kind::other; break;
    }
    return status;
}

fs::FileInfo statusOf(const MemoryTree& tree, const Found& found) {
    if (!found.ok || found.node == nullptr) return {};
    return statusOf(tree, *found.node, finalPathOf(tree, found));
}

class MemoryFile : public fs::File {
public:
    MemoryFile(std::shared_ptr<MemoryNode> node, bool writable, fs::FileInfo opened,
               std::shared_ptr<std::size_t> openFiles)
        : node_(std::move(node)), writable_(writable), opened_(std::move(opened)), openFiles_(std::move(openFiles)) {
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
    std::optional<fs::FileInfo> info() override {
        if (!node_) return std::nullopt;
        fs::FileInfo now = opened_;
        now.size = node_->bytes.size();
        now.links = node_->names;
        return now;
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
    fs::FileInfo opened_;  // what the file was when it opened
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
    for (const auto& [name, entry] : dir.entries) {
        const std::string path = dirPath + "/" + name;
        const MemoryNode& node = *shown(entry);
        switch (node.type) {
        case NodeType::directory:
            into[path] = "<dir>";
            describe(node, path, into);
            break;
        case NodeType::file: into[path] = node.bytes; break;
        case NodeType::fifo: into[path] = "<fifo>"; break;
        case NodeType::link: into[path] = "-> " + node.target; break;
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

fs::PathStyle MemoryFileSystem::style() const { return fs::PathStyle::posix; }

std::optional<std::string> MemoryFileSystem::currentDir() { return tree_->currentDir; }

std::string MemoryFileSystem::fullPath(std::string_view path, std::string_view workingDir) {
    return fs::lexicalFullPath(path, workingDir, style());
}

fs::FileInfo MemoryFileSystem::info(const std::string& path, fs::Links links) {
    return statusOf(*tree_, walk(*tree_, path, links == fs::Links::followed));
}

std::vector<fs::FileInfo> MemoryFileSystem::standardStreams() {
    std::vector<fs::FileInfo> streams;
    for (std::size_t k = 0; k < tree_->streams.size(); ++k) {
        const std::shared_ptr<MemoryNode>& node = tree_->streams[k];
        if (node && node->type == NodeType::file) streams.push_back(statusOf(*tree_, *node, tree_->streamPaths[k]));
    }
    return streams;
}

fs::LinkChain MemoryFileSystem::followLinks(const std::string& path) {
    fs::LinkChain chain{{}, path};
    for (int hop = 0; hop < maxHops; ++hop) {
        const Found found = walk(*tree_, chain.target, false);
        if (!found.ok || found.node == nullptr || found.node->type != NodeType::link) break;
        chain.links.push_back(statusOf(*tree_, found));
        const std::string& to = found.node->target;
        chain.target = to.front() == '/' ? to : folderOf(chain.target) + to;
    }
    return chain;
}

bool MemoryFileSystem::access(const std::string& path, fs::Access) { return info(path).kind != fs::Kind::missing; }

std::optional<std::vector<fs::Entry>> MemoryFileSystem::list(const std::string& dir, fs::Detail detail) {
    const Found found = walk(*tree_, dir, true);
    if (!found.ok || found.node == nullptr || found.node->type != NodeType::directory) return std::nullopt;
    if (found.node->unlistable) return std::nullopt;
    std::vector<fs::Entry> entries;
    for (const auto& [name, node] : found.node->entries) {
        // The listing shows the name's own node, not what is mounted over it.
        fs::Entry entry;
        entry.name = name;
        entry.isLink = node->type == NodeType::link;
        entry.isDirectory = node->type == NodeType::directory;
        if (entry.isLink) {
            const Found target = walkFrom(*tree_, *found.node, name, true);
            entry.isDirectory = target.ok && target.node != nullptr && target.node->type == NodeType::directory;
        }
        entry.inode = node->inode;
        if (detail != fs::Detail::names) {
            entry.info = info(fs::joinPath(dir, name, fs::PathStyle::posix),
                              detail == fs::Detail::identities ? fs::Links::followed : fs::Links::notFollowed);
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::unique_ptr<fs::File> MemoryFileSystem::openRead(const std::string& path, fs::FileInfo* opened, fs::Lock lock) {
    const Found found = walk(*tree_, path, true);
    if (!found.ok || found.node == nullptr || found.node->type != NodeType::file) return nullptr;
    if (lock == fs::Lock::shared && found.node->lockedElsewhere == HeldLock::exclusive) return nullptr;
    const fs::FileInfo status = statusOf(*tree_, found);
    if (opened != nullptr) *opened = status;
    return std::make_unique<MemoryFile>(found.owned(), false, status, tree_->openFiles);
}

std::unique_ptr<fs::File> MemoryFileSystem::create(const std::string& path) {
    const Found found = walk(*tree_, path, true);
    if (!found.ok) return nullptr;
    if (found.node != nullptr) {
        if (found.node->type != NodeType::file) return nullptr;
        found.node->bytes.clear();
        return std::make_unique<MemoryFile>(found.owned(), true, statusOf(*tree_, found), tree_->openFiles);
    }
    if (found.trailingSlash) return nullptr;
    addEntry(*found.dir, found.name, newNode(*tree_, NodeType::file));
    const Found made = walk(*tree_, path, true);
    return std::make_unique<MemoryFile>(made.owned(), true, statusOf(*tree_, made), tree_->openFiles);
}

fs::Opened MemoryFileSystem::openToWrite(const std::string& path) {
    const Found found = walk(*tree_, path, false);
    if (!found.ok || found.dir == nullptr) return {};
    if (found.node != nullptr) {
        if (found.node->type != NodeType::file) return {};
        return {std::make_unique<MemoryFile>(found.owned(), true, statusOf(*tree_, found), tree_->openFiles), false};
    }
    if (found.trailingSlash) return {};
    addEntry(*found.dir, found.name, newNode(*tree_, NodeType::file));
    const Found made = walk(*tree_, path, false);
    return {std::make_unique<MemoryFile>(made.owned(), true, statusOf(*tree_, made), tree_->openFiles), true};
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
    if (!found.ok || found.dir == nullptr || found.node == nullptr || found.node->type == NodeType::directory ||
        found.mountPoint) {
        return false;
    }
    --found.dir->entries.at(found.name)->names;
    found.dir->entries.erase(found.name);
    return true;
}

fs::KernelCopy MemoryFileSystem::copy(fs::File&, fs::File&, std::size_t) {
    return {fs::KernelCopy::Outcome::refused, 0};
}

std::unique_ptr<fs::File> MemoryFileSystem::createOutput(const std::string& path, std::string& madeAt) {
    // Everything is had before the tree changes, so that an allocation that
    // fails leaves no file behind.
    madeAt.clear();
    const Found found = walk(*tree_, path, true);
    if (!found.ok) return nullptr;
    std::string made;
    if (found.node == nullptr) {
        std::string target = followLinks(path).target;
        if (target != path) made = std::move(target);
    }
    std::shared_ptr<MemoryNode> node;
    if (found.node != nullptr) {
        if (found.node->type != NodeType::file || found.node->lockedElsewhere != HeldLock::none) return nullptr;
        node = found.owned();
    } else {
        if (found.trailingSlash) return nullptr;
        node = newNode(*tree_, NodeType::file);
    }
    const std::string finalPath = finalPathOf(*tree_, found);
    auto file = std::make_unique<MemoryFile>(node, true, statusOf(*tree_, *node, finalPath), tree_->openFiles);
    if (found.node == nullptr) addEntry(*found.dir, found.name, node);
    madeAt = std::move(made);
    return file;
}

void MemoryFileSystem::setCurrentDir(std::string path) { tree_->currentDir = std::move(path); }

void MemoryFileSystem::addDir(const std::string& path) {
    std::string prefix = path.starts_with('/') ? "/" : "";
    for (const std::string& part : partsOf(path)) {
        prefix += part;
        const fs::Kind kind = info(prefix).kind;
        if (kind == fs::Kind::missing && !makeDir(prefix)) throw std::invalid_argument("addDir: " + prefix);
        if (kind != fs::Kind::missing && kind != fs::Kind::directory) throw std::invalid_argument("addDir: " + prefix);
        prefix += '/';
    }
}

void MemoryFileSystem::addFile(const std::string& path, std::string_view bytes) {
    addDir(folderOf(path));
    const std::unique_ptr<fs::File> file = create(path);
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

void MemoryFileSystem::mount(const std::string& source, const std::string& point) {
    const Found from = walk(*tree_, source, true);
    const Found at = walk(*tree_, point, false);
    if (!from.ok || from.node == nullptr || from.dir == nullptr || !at.ok || at.node == nullptr || at.dir == nullptr ||
        (from.node->type == NodeType::directory) != (at.node->type == NodeType::directory)) {
        throw std::invalid_argument("mount: " + source + " on " + point);
    }
    const std::shared_ptr<MemoryNode>& covered = shown(at.dir->entries.at(at.name));
    // A file bound over itself changes nothing.
    if (covered == from.owned()) return;
    covered->mounted = from.owned();
}

void MemoryFileSystem::setDevice(const std::string& path, std::uint64_t device) {
    const Found found = walk(*tree_, path, true);
    if (!found.ok || found.node == nullptr) throw std::invalid_argument("setDevice: " + path);
    found.node->device = device;
}

void MemoryFileSystem::setUnnumbered(std::uint64_t device) { tree_->unnumbered.insert(device); }

void MemoryFileSystem::setUnlistable(const std::string& dir) {
    const Found found = walk(*tree_, dir, true);
    if (!found.ok || found.node == nullptr || found.node->type != NodeType::directory) {
        throw std::invalid_argument("setUnlistable: " + dir);
    }
    found.node->unlistable = true;
}

void MemoryFileSystem::lockElsewhere(const std::string& path, bool exclusive) {
    const Found found = walk(*tree_, path, true);
    if (!found.ok || found.node == nullptr) throw std::invalid_argument("lockElsewhere: " + path);
    found.node->lockedElsewhere = exclusive ? HeldLock::exclusive : HeldLock::shared;
}

void MemoryFileSystem::setStandardStream(int stream, const std::string& path) {
    const Found found = walk(*tree_, path, true);
    if (stream < 1 || stream > 2 || !found.ok || found.node == nullptr || found.dir == nullptr) {
        throw std::invalid_argument("setStandardStream: " + path);
    }
    const auto k = static_cast<std::size_t>(stream - 1);
    tree_->streams[k] = found.owned();
    tree_->streamPaths[k] = finalPathOf(*tree_, found);
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

}  // namespace testsupport
