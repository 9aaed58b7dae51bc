// The file system on Windows' wide-character calls. Strings are UTF-8 inside
// the programs and UTF-16 at every call, so names in any script work
// whatever the ANSI code page.
//
// Drive roots are written without their separator ("C:"): every call here
// takes that form as the root of the drive, so members of "C:" are
// "C:\name". Every call takes a full path in its extended form
// ("\\?\C:\..."), so that names of any length, names ending in a dot or a
// space, and names like "CON.nm2" reach the file they name.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <direct.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fs/host_file_system.h"
#include "fs/windows_rules.h"

namespace fs {

namespace {

// Paths up to the longest the system takes.
constexpr std::size_t longestPath = 32768;

std::u16string_view units(std::wstring_view text) {
    return {reinterpret_cast<const char16_t*>(text.data()), text.size()};
}

using windows::utf8;
using windows::wide;

bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// The path as the system takes it: a full path in its extended form, a bare
// drive as its root.
std::wstring native(std::string_view path) { return wide(windows::extendedPath(path)); }

// '*' and '?', and the forms the system's listing takes as wildcards too:
// a path holding one after its extended prefix is no file's name.
bool hasWildcard(const std::string& path) {
    return windows::namePart(path).find_first_of("*?<>\"") != std::string_view::npos;
}

DWORD attributesOf(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()); }

constexpr DWORD noAttributes = INVALID_FILE_ATTRIBUTES;

// ---- Identity ----

// The name of the file system holding the file; nullopt when the volume
// can't be asked.
std::optional<std::string> fileSystemOf(HANDLE file) {
    wchar_t system[MAX_PATH + 1] = {};
    if (!::GetVolumeInformationByHandleW(file, nullptr, 0, nullptr, nullptr, nullptr, system, MAX_PATH + 1)) {
        return std::nullopt;
    }
    return utf8(system);
}

// The file's full path as the system resolves it, links followed, in the
// extended form; empty when it can't be had.
std::wstring finalPathOf(HANDLE file) {
    std::wstring path(longestPath, L'\0');
    const DWORD length = ::GetFinalPathNameByHandleW(file, path.data(), static_cast<DWORD>(path.size()),
                                                     FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= path.size()) return {};
    path.resize(length);
    return path;
}

HANDLE openAttributes(const std::wstring& path, DWORD flags = 0) {
    return ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
}

// The serial and id the system gives the open file: the 128-bit id where it
// has one (Windows 8 and later), the older 64-bit index otherwise.
void numbersOf(HANDLE file, const BY_HANDLE_FILE_INFORMATION& info, windows::IdentityFacts& facts) {
    FILE_ID_INFO wideId{};
    if (::GetFileInformationByHandleEx(file, FileIdInfo, &wideId, sizeof wideId)) {
        facts.serial = wideId.VolumeSerialNumber;
        std::memcpy(facts.id.data(), wideId.FileId.Identifier, facts.id.size());
        facts.wideId = true;
        return;
    }
    facts.serial = info.dwVolumeSerialNumber;
    const std::uint64_t index = std::uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow;
    for (std::size_t k = 0; k < 8; ++k) facts.id[k] = static_cast<std::uint8_t>(index >> (8 * k));
}

std::optional<windows::IdentityFacts> numbersOf(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file, &info)) return std::nullopt;
    windows::IdentityFacts facts;
    numbersOf(file, info, facts);
    return facts;
}

// Whether opening `finalPath` reaches the file of `facts`.
bool leadsBack(const std::wstring& finalPath, const windows::IdentityFacts& facts) {
    const HANDLE file = openAttributes(finalPath);
    if (file == INVALID_HANDLE_VALUE) return false;
    const std::optional<windows::IdentityFacts> reached = numbersOf(file);
    ::CloseHandle(file);
    return reached && windows::sameNumbers(facts, *reached);
}

// What the open file is: a folder when it is one, a file otherwise.
std::optional<FileInfo> infoOf(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file, &info)) return std::nullopt;
    FileInfo result;
    result.kind = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? Kind::directory : Kind::file;
    result.size = std::uint64_t{info.nFileSizeHigh} << 32 | info.nFileSizeLow;
    result.links = info.nNumberOfLinks;

    windows::IdentityFacts facts;
    numbersOf(file, info, facts);
    facts.fileSystem = fileSystemOf(file);
    const std::wstring finalPath = finalPathOf(file);
    facts.finalPath = utf8(finalPath);
    // Only where the numbers can't tell files apart do final paths: a file
    // whose numbers are sure shares no folder, and so no final path, with
    // one whose numbers aren't.
    if (!windows::numbersSure(facts) && !finalPath.empty()) facts.finalPathLeadsBack = leadsBack(finalPath, facts);
    result.id = windows::identityOf(facts);
    return result;
}

// The final path of what `path` names, links followed; empty when nothing
// is there or it can't be had.
std::wstring finalPathOf(const std::wstring& path) {
    const HANDLE file = openAttributes(path);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::wstring finalPath = finalPathOf(file);
    ::CloseHandle(file);
    return finalPath;
}

// The folder part of a path, without its last separator.
std::wstring_view folderOf(std::wstring_view path) {
    const std::size_t last = path.find_last_of(L"\\/");
    return last == std::wstring_view::npos ? std::wstring_view() : path.substr(0, last);
}

// The last part of a path.
std::wstring_view nameOf(std::wstring_view path) {
    const std::size_t last = path.find_last_of(L"\\/");
    return last == std::wstring_view::npos ? path : path.substr(last + 1);
}

// Where the name `path` (extended) leads, `file` being what it opened: to
// itself, to another name in its folder, out of its folder, or, when the
// system can't say, unknown. Some systems (Wine) mark no link as one, and
// delete the target of a link for the link; this asks the final path of
// what the name opened instead, name and folder exactly as they are, since
// a case-sensitive folder may hold names that differ only in case.
enum class Reach { itself, elsewhereInFolder, outsideFolder, unknown };
Reach reachOf(const std::wstring& path, HANDLE file) {
    const std::wstring target = finalPathOf(file);
    if (target.empty()) return Reach::unknown;
    // A drive's root is named with its separator, and final paths of roots
    // end in one.
    std::wstring folderName(folderOf(path));
    if (!folderName.empty() && folderName.back() == L':') folderName += L'\\';
    std::wstring folder = finalPathOf(folderName);
    if (folder.empty()) return Reach::unknown;
    if (isSeparator(folder.back())) folder.pop_back();
    if (folderOf(target) != folder) return Reach::outsideFolder;
    switch (windows::matchName(nameOf(path), nameOf(target))) {
    case windows::NameMatch::same: return Reach::itself;
    case windows::NameMatch::sameButTrailing: {
        // Itself when the final path, which lacks the trailing dots and
        // spaces, opens another file or none.
        const std::optional<windows::IdentityFacts> opened = numbersOf(file);
        if (!opened) return Reach::unknown;
        return leadsBack(target, *opened) ? Reach::elsewhereInFolder : Reach::itself;
    }
    case windows::NameMatch::other: break;
    }
    return Reach::elsewhereInFolder;
}

// Whether `path` names a folder or something else, by a listing of the path
// itself; roots, which no folder lists, are asked for their attributes.
// nullopt when nothing is there.
std::optional<bool> listedAsFolder(const std::string& path) {
    if (path.empty() || hasWildcard(path)) return std::nullopt;
    const std::wstring name = native(path);
    _wfinddata64i32_t found{};
    const intptr_t search = ::_wfindfirst64i32(name.c_str(), &found);
    if (search != -1) {
        ::_findclose(search);
        return (found.attrib & _A_SUBDIR) != 0;
    }
    const DWORD attributes = attributesOf(name);
    if (attributes == noAttributes) return std::nullopt;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// ---- Deleting ----

// How SetFileInformationByHandle is asked for FILE_DISPOSITION_INFO_EX
// (Windows 10, 1809 and later), which the headers declare only for systems
// that have it.
constexpr auto dispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);

// Sets those of the open file's attributes that can be set, leaving its
// times as they are.
bool setAttributes(HANDLE file, DWORD attributes) {
    constexpr DWORD settable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                               FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                               FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = (attributes & settable) == 0 ? FILE_ATTRIBUTE_NORMAL : attributes & settable;
    return ::SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic) != 0;
}

// Deletes the name the open file was opened by, without changing the file:
// its read-only attribute, which its other names share, stays as it was.
bool deleteOpen(HANDLE file, DWORD attributes) {
    FILE_DISPOSITION_INFO_EX ignoringReadOnly{FILE_DISPOSITION_FLAG_DELETE |
                                              FILE_DISPOSITION_FLAG_IGNORE_READONLY_ATTRIBUTE};
    if (::SetFileInformationByHandle(file, dispositionInfoEx, &ignoringReadOnly, sizeof ignoringReadOnly)) return true;
    // Where that is unknown (before Windows 10, and Wine), a read-only file
    // can't be deleted: it loses the attribute while its deletion is set,
    // and gets it back by the same handle when it has another name or stays.
    const bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (readOnly && !setAttributes(file, attributes & ~DWORD{FILE_ATTRIBUTE_READONLY})) return false;
    FILE_DISPOSITION_INFO disposition{TRUE};
    const bool deleted = ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition) != 0;
    BY_HANDLE_FILE_INFORMATION info{};
    if (readOnly && (!deleted || !::GetFileInformationByHandle(file, &info) || info.nNumberOfLinks > 1)) {
        setAttributes(file, attributes);
    }
    return deleted;
}

// ---- Files ----

HANDLE systemHandleOf(FILE* stream) { return reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream))); }

// A file read and written through the C runtime's stream, unbuffered: the
// programs gather their own, and sizes and positions then are the file's.
class WindowsFile : public File {
public:
    explicit WindowsFile(FILE* stream) : stream_(stream) { std::setvbuf(stream_, nullptr, _IONBF, 0); }
    ~WindowsFile() override {
        if (stream_ != nullptr) std::fclose(stream_);
    }
    WindowsFile(const WindowsFile&) = delete;
    WindowsFile& operator=(const WindowsFile&) = delete;

    HANDLE handle() const { return stream_ != nullptr ? systemHandleOf(stream_) : INVALID_HANDLE_VALUE; }

    std::optional<std::size_t> read(void* buffer, std::size_t size) override {
        auto* bytes = static_cast<unsigned char*>(buffer);
        std::size_t done = 0;
        while (done < size) {
            const std::size_t got = std::fread(bytes + done, 1, size - done, stream_);
            done += got;
            if (got == 0) break;
        }
        if (std::ferror(stream_)) return std::nullopt;
        return done;
    }

    std::optional<std::size_t> readSome(void* buffer, std::size_t size) override {
        const std::size_t got = std::fread(buffer, 1, size, stream_);
        if (std::ferror(stream_)) return std::nullopt;
        return got;
    }

    bool write(const void* data, std::size_t size) override {
        if (size == 0) return true;
        return std::fwrite(data, 1, size, stream_) == size;
    }

    bool seek(std::uint64_t position) override {
        if (position > static_cast<std::uint64_t>(INT64_MAX)) return false;
        return ::_fseeki64(stream_, static_cast<__int64>(position), SEEK_SET) == 0;
    }

    std::optional<std::uint64_t> seekEnd() override {
        if (::_fseeki64(stream_, 0, SEEK_END) != 0) return std::nullopt;
        const __int64 end = ::_ftelli64(stream_);
        if (end < 0) return std::nullopt;
        return static_cast<std::uint64_t>(end);
    }

    bool truncate(std::uint64_t length) override {
        if (length > static_cast<std::uint64_t>(INT64_MAX)) return false;
        return ::_chsize_s(::_fileno(stream_), static_cast<__int64>(length)) == 0;
    }

    std::optional<FileInfo> info() override { return infoOf(handle()); }

    bool close() override {
        if (stream_ == nullptr) return true;
        FILE* stream = stream_;
        stream_ = nullptr;
        return std::fclose(stream) == 0;
    }

private:
    FILE* stream_;
};

// The open file `handle` as one of the programs' files, when it is a file on
// a disk: not a console, a printer port or a pipe.
std::unique_ptr<WindowsFile> fileOn(HANDLE handle, int access, const wchar_t* mode) {
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    if (::GetFileType(handle) != FILE_TYPE_DISK) {
        ::CloseHandle(handle);
        return nullptr;
    }
    const int descriptor = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), access | _O_BINARY);
    if (descriptor == -1) {
        ::CloseHandle(handle);
        return nullptr;
    }
    FILE* stream = ::_wfdopen(descriptor, mode);
    if (stream == nullptr) {
        ::_close(descriptor);
        return nullptr;
    }
    return std::make_unique<WindowsFile>(stream);
}

// Made new with CREATE_NEW, or created or emptied with CREATE_ALWAYS as
// "w+b" opens it, shared with no reader or writer but open to deletion: an
// interrupt deletes the archive while the run still holds it. The archive is
// rewritten at byte 0 when it is complete, so only a file on a disk can
// hold it.
std::unique_ptr<WindowsFile> createNamed(const std::wstring& name, DWORD disposition) {
    return fileOn(::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, disposition,
                                FILE_ATTRIBUTE_NORMAL, nullptr),
                  _O_RDWR, L"r+b");
}

class WindowsFileSystem : public FileSystem {
public:
    PathStyle style() const override { return PathStyle::windows; }

    std::optional<std::string> currentDir() override {
        wchar_t* dir = ::_wgetcwd(nullptr, 0);
        if (dir == nullptr) return std::nullopt;
        std::string result = utf8(dir);
        std::free(dir);
        if (result.empty()) return std::nullopt;
        return result;
    }

    // The lexical rule, then the system's own call, which also resolves a
    // path relative to another drive from the directory it keeps for it.
    std::string fullPath(std::string_view path, std::string_view workingDir) override {
        const std::wstring name = wide(lexicalFullPath(path, workingDir, PathStyle::windows));
        // Asked with room for a usual path first, then with the room it
        // needs: Wine answers nonsense when given room for the very longest.
        std::wstring full(MAX_PATH, L'\0');
        DWORD length = ::GetFullPathNameW(name.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (length >= full.size() && length < longestPath) {
            full.resize(length);
            length = ::GetFullPathNameW(name.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        }
        if (length == 0 || length >= full.size()) return {};
        full.resize(length);
        std::string result = utf8(full);
        if (!isAbsolute(result, PathStyle::windows)) return {};
        return result;
    }

    // Its data is not opened, so files held open without sharing answer
    // too.
    FileInfo info(const std::string& path, Links links) override {
        const bool followed = links == Links::followed;
        const std::optional<bool> folder = listedAsFolder(path);
        if (!folder && followed) return {};
        const HANDLE file = openAttributes(native(path), followed ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
        if (file == INVALID_HANDLE_VALUE) return {};
        std::optional<FileInfo> info = infoOf(file);
        FILE_ATTRIBUTE_TAG_INFO tag{};
        if (info && !followed && ::GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof tag) &&
            (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            info->kind = Kind::other;
        }
        ::CloseHandle(file);
        if (!info) return {};
        if (followed && !*folder && info->kind == Kind::directory) info->kind = Kind::other;
        return std::move(*info);
    }

    std::vector<FileInfo> standardStreams() override {
        std::vector<FileInfo> streams;
        for (const DWORD which : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
            const HANDLE stream = ::GetStdHandle(which);
            if (stream == nullptr || stream == INVALID_HANDLE_VALUE || ::GetFileType(stream) != FILE_TYPE_DISK) {
                continue;
            }
            if (std::optional<FileInfo> info = infoOf(stream); info && info->kind == Kind::file) {
                streams.push_back(std::move(*info));
            }
        }
        return streams;
    }

    // Links are left to the system here: a path leads where it names.
    LinkChain followLinks(const std::string& path) override { return LinkChain{{}, path}; }

    bool access(const std::string& path, Access access) override {
        return ::_waccess(native(path).c_str(), access == Access::read ? 4 : 6) == 0;
    }

    std::optional<std::vector<Entry>> list(const std::string& dir, Detail detail) override {
        if (hasWildcard(dir)) return std::nullopt;
        const std::wstring name = native(dir);
        std::wstring pattern = name;
        if (!pattern.empty() && !isSeparator(pattern.back())) pattern += L'\\';
        pattern += L'*';

        WIN32_FIND_DATAW found{};
        const HANDLE search =
            ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
        if (search == INVALID_HANDLE_VALUE) {
            // An empty root lists nothing at all, not even "." and "..".
            const DWORD error = ::GetLastError();
            const DWORD attributes = attributesOf(name);
            if (error == ERROR_FILE_NOT_FOUND && attributes != noAttributes &&
                (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                return std::vector<Entry>();
            }
            return std::nullopt;
        }
        bool first = true;
        std::optional<std::vector<Entry>> entries = windows::collectListing([&](Entry& entry) {
            if (!first && !::FindNextFileW(search, &found)) {
                return ::GetLastError() == ERROR_NO_MORE_FILES ? windows::ListStep::end : windows::ListStep::failed;
            }
            first = false;
            const std::u16string_view listed = units(found.cFileName);
            std::optional<std::string> exact = windows::exactUtf8(listed);
            entry.nameKept = exact.has_value();
            entry.name = exact ? std::move(*exact) : windows::shownUtf8(listed);
            entry.isDirectory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            entry.isLink = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
            return windows::ListStep::entry;
        });
        ::FindClose(search);
        if (entries && detail != Detail::names) {
            const Links links = detail == Detail::identities ? Links::followed : Links::notFollowed;
            for (Entry& entry : *entries) {
                if (entry.nameKept) entry.info = info(joinPath(dir, entry.name, PathStyle::windows), links);
            }
        }
        return entries;
    }

    std::unique_ptr<File> openRead(const std::string& path, FileInfo* opened, Lock lock) override {
        // Shared with other readers only when asked: no run writes the file
        // while it is read, and none reads it while another writes it.
        const DWORD sharing =
            lock == Lock::shared ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
        std::unique_ptr<WindowsFile> file = fileOn(::CreateFileW(native(path).c_str(), GENERIC_READ, sharing, nullptr,
                                                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr),
                                                   _O_RDONLY, L"rb");
        if (!file) return nullptr;
        const std::optional<FileInfo> info = infoOf(file->handle());
        if (!info || info->kind != Kind::file) return nullptr;
        if (opened != nullptr) *opened = *info;
        return file;
    }

    Opened openToWrite(const std::string& path) override {
        const std::wstring name = native(path);
        if (std::unique_ptr<WindowsFile> made = createNamed(name, CREATE_NEW)) return {std::move(made), true};
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return {};
        const HANDLE handle = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (handle == INVALID_HANDLE_VALUE) return {};
        // Never through a link, marked as one or not: what opened must be
        // the name itself.
        FILE_ATTRIBUTE_TAG_INFO tag{};
        if (!::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) ||
            (tag.FileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0 ||
            reachOf(name, handle) != Reach::itself) {
            ::CloseHandle(handle);
            return {};
        }
        return {fileOn(handle, _O_RDWR, L"r+b"), false};
    }

    std::unique_ptr<File> createOutput(const std::string& path, std::string& madeAt) override {
        madeAt.clear();
        const std::wstring name = native(path);
        const bool reachedAFile = attributesOf(name) != noAttributes;
        // Opened with no sharing, it can't be created while another run has
        // it open, and an existing file is emptied only once the open has
        // succeeded.
        std::unique_ptr<WindowsFile> file = createNamed(name, CREATE_ALWAYS);
        if (!file) return nullptr;
        // A link that led nowhere, which no chain of links shows beforehand
        // (Wine marks none), made the file where it leads.
        if (!reachedAFile && reachOf(name, file->handle()) != Reach::itself) madeAt = utf8(finalPathOf(file->handle()));
        return file;
    }

    bool emptyFile(const std::string& path) override {
        const HANDLE handle =
            ::CreateFileW(native(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) return false;
        ::CloseHandle(handle);
        return true;
    }

    bool makeDir(const std::string& path) override { return ::_wmkdir(native(path).c_str()) == 0; }

    bool remove(const std::string& path) override {
        const std::wstring name = native(path);
        // A link the system marks as one opens as the link, and goes by its
        // own name; one it doesn't mark opens as its target, which the
        // deletion would take, so it stays.
        const HANDLE file = ::CreateFileW(name.c_str(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (file == INVALID_HANDLE_VALUE) return false;
        FILE_ATTRIBUTE_TAG_INFO tag{};
        bool deletable = ::GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof tag) &&
                         (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
        if (deletable && (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
            const Reach reach = reachOf(name, file);
            deletable = reach != Reach::outsideFolder && reach != Reach::elsewhereInFolder;
        }
        const bool deleted = deletable && deleteOpen(file, tag.FileAttributes);
        ::CloseHandle(file);
        return deleted;
    }

    // Windows has no copy from file to file inside the system that the
    // programs' copies would gain by: they go through the block.
    KernelCopy copy(File&, File&, std::size_t) override { return {KernelCopy::Outcome::refused, 0}; }
};

}  // namespace

FileSystem& hostFileSystem() {
    static WindowsFileSystem files;
    return files;
}

std::intptr_t hostHandle(File& file) {
    const auto* windows = dynamic_cast<const WindowsFile*>(&file);
    return windows != nullptr ? reinterpret_cast<std::intptr_t>(windows->handle()) : -1;
}

}  // namespace fs
