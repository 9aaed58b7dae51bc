// The Windows side of the platform layer, on the C runtime's wide-character
// calls. Strings are UTF-8 inside the programs and UTF-16 at every call, so
// names in any script work whatever the ANSI code page.
//
// Drive roots are written without their separator ("C:"): every call here
// takes that form as the root of the drive, so members of "C:" are
// "C:\name". Every call takes a full path in its extended form
// ("\\?\C:\..."), so that names of any length, names ending in a dot or a
// space, and names like "CON.nm2" reach the file they name.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include "platform/platform.h"
#include "platform/windows_rules.h"

#include <windows.h>

#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace platform {

const char separator = '\\';

namespace {

// Paths up to the longest the system takes.
constexpr std::size_t longestPath = 32768;

std::wstring wide(std::string_view text) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
    std::wstring result(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, result.data(), length);
    return result;
}

std::string utf8(std::wstring_view text) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, result.data(), length, nullptr, nullptr);
    return result;
}

bool isSeparator(char c) { return c == '\\' || c == '/'; }
bool isSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool hasDrive(std::string_view path) {
    if (path.size() < 2 || path[1] != ':') return false;
    const char letter = path[0];
    return (letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z');
}

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - ('a' - 'A')) : c; }

// The path as the system takes it: a full path in its extended form, a bare
// drive as its root.
std::wstring native(std::string_view path) { return wide(windows::extendedPath(path)); }

std::u16string_view units(std::wstring_view text) {
    return {reinterpret_cast<const char16_t*>(text.data()), text.size()};
}

// The root of a full path: its drive ("C:") or its share ("\\server\share").
std::string_view rootOf(std::string_view path) {
    if (hasDrive(path)) return path.substr(0, 2);
    if (path.size() < 2 || !isSeparator(path[0]) || !isSeparator(path[1])) return {};
    std::size_t end = 2;
    for (int parts = 0; parts < 2 && end < path.size(); ++parts) {
        while (end < path.size() && !isSeparator(path[end])) ++end;
        if (parts == 0 && end < path.size()) ++end;
    }
    return path.substr(0, end);
}

std::string withName(std::string_view folder, std::string_view name) {
    std::string path(folder);
    if (!path.empty() && !isSeparator(path.back())) path += '\\';
    path += name;
    return path;
}

// '*' and '?', and the forms the system's listing takes as wildcards too:
// a path holding one after its extended prefix is no file's name.
bool hasWildcard(const std::string& path) {
    return windows::namePart(path).find_first_of("*?<>\"") != std::string_view::npos;
}

DWORD attributesOf(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()); }

constexpr DWORD noAttributes = INVALID_FILE_ATTRIBUTES;

// ---- The standard error stream ----

// Text for the standard error stream, which the console's event handler reads
// too from its own thread: every use holds the lock. The handler never gives
// it back, so nothing more is written once it has run.
SRWLOCK errorLock = SRWLOCK_INIT;
constexpr std::size_t pendingCapacity = 4096;
char pendingText[pendingCapacity];
std::size_t pendingLength = 0;

// A console takes the text as UTF-16, so that every name shows whatever its
// code page; a file or a pipe gets the UTF-8 bytes.
bool writeTo(HANDLE stream, const char* data, std::size_t size) {
    if (size == 0) return true;
    if (stream == nullptr || stream == INVALID_HANDLE_VALUE) return false;
    DWORD mode = 0;
    if (::GetConsoleMode(stream, &mode)) {
        const std::wstring text = wide(std::string_view(data, size));
        std::size_t done = 0;
        while (done < text.size()) {
            const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(text.size() - done, 8192));
            DWORD put = 0;
            if (!::WriteConsoleW(stream, text.data() + done, piece, &put, nullptr) || put == 0) return false;
            done += put;
        }
        return true;
    }
    while (size > 0) {
        const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
        DWORD put = 0;
        if (!::WriteFile(stream, data, piece, &put, nullptr) || put == 0) return false;
        data += put;
        size -= put;
    }
    return true;
}

// What the standard error stream can't take is dropped.
void writeAll(const char* data, std::size_t size) { writeTo(::GetStdHandle(STD_ERROR_HANDLE), data, size); }

// With the lock held.
void flushPending() {
    writeAll(pendingText, pendingLength);
    pendingLength = 0;
}

class Lock {
public:
    explicit Lock(SRWLOCK& lock) : lock_(lock) { ::AcquireSRWLockExclusive(&lock_); }
    ~Lock() { ::ReleaseSRWLockExclusive(&lock_); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

private:
    SRWLOCK& lock_;
};

struct ErrorLock : Lock {
    ErrorLock() : Lock(errorLock) {}
};

// Set by the console's event handler: from then on the main thread says
// nothing more, so that the transcript ends with what was said before the
// interrupt and its message.
std::atomic<bool> interrupting{false};

void stopWhenInterrupted() {
    if (interrupting.load()) ::Sleep(INFINITE);
}

struct FlushAtExit {
    ~FlushAtExit() { flushErrors(); }
} flushAtExit;

}  // namespace

// Messages go to the standard error handle, which no file the run opens can
// take, and Windows has no signals for a closed pipe or the file-size limit.
bool startProcess() { return true; }

std::vector<std::string> arguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wideArguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wideArguments == nullptr) return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> result;
    for (int i = 0; i < count; ++i) result.push_back(utf8(wideArguments[i]));
    ::LocalFree(wideArguments);

    // The program's own file stands first, so that the usage line names it
    // with its extension however it was started.
    std::wstring module(longestPath, L'\0');
    const DWORD length = ::GetModuleFileNameW(nullptr, module.data(), static_cast<DWORD>(module.size()));
    if (length > 0 && length < module.size()) {
        module.resize(length);
        if (result.empty()) result.emplace_back();
        result.front() = utf8(module);
    }
    return result;
}

void writeError(std::string_view text) {
    stopWhenInterrupted();
    const ErrorLock lock;
    if (text.size() > pendingCapacity - pendingLength) flushPending();
    if (text.size() > pendingCapacity) {
        writeAll(text.data(), text.size());
        return;
    }
    std::memcpy(pendingText + pendingLength, text.data(), text.size());
    pendingLength += text.size();
}

void flushErrors() {
    stopWhenInterrupted();
    const ErrorLock lock;
    flushPending();
}

bool outputOpen() {
    const HANDLE stream = ::GetStdHandle(STD_OUTPUT_HANDLE);
    return stream != nullptr && stream != INVALID_HANDLE_VALUE;
}

bool writeOutput(const void* data, std::size_t size) {
    return writeTo(::GetStdHandle(STD_OUTPUT_HANDLE), static_cast<const char*>(data), size);
}

bool startsOption(std::string_view argument) {
    return !argument.empty() && (argument.front() == '-' || argument.front() == '/');
}

// ---- Paths ----

std::optional<std::string> currentDir() {
    wchar_t* dir = ::_wgetcwd(nullptr, 0);
    if (dir == nullptr) return std::nullopt;
    std::string result = utf8(dir);
    std::free(dir);
    if (result.empty()) return std::nullopt;
    return result;
}

namespace {

bool isAbsolute(std::string_view path) { return fs::isAbsolute(path, fs::PathStyle::windows); }

}  // namespace

std::string fullPath(std::string_view path, std::string_view workingDir) {
    std::string joined;
    if (isAbsolute(path)) {
        joined = path;
    } else if (!path.empty() && isSeparator(path.front())) {
        // From the root of the working directory's drive.
        joined = std::string(rootOf(workingDir)) + std::string(path);
    } else if (hasDrive(path)) {
        // Relative to a drive: to the working directory when it is on that
        // drive; otherwise to the directory the system keeps for the drive.
        const std::string_view root = rootOf(workingDir);
        const bool sameDrive = hasDrive(root) && upper(root[0]) == upper(path[0]);
        joined = sameDrive ? withName(workingDir, path.substr(2)) : std::string(path);
    } else {
        joined = withName(workingDir, path);
    }
    // The system's own call resolves a drive-relative path from the
    // directory it keeps for that drive.
    // Asked with room for a usual path first, then with the room it needs:
    // Wine answers nonsense when given room for the very longest.
    const std::wstring name = wide(joined);
    std::wstring full(MAX_PATH, L'\0');
    DWORD length = ::GetFullPathNameW(name.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length >= full.size() && length < longestPath) {
        full.resize(length);
        length = ::GetFullPathNameW(name.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    }
    if (length == 0 || length >= full.size()) return {};
    full.resize(length);
    std::string result = utf8(full);
    if (!isAbsolute(result)) return {};
    return result;
}

PathKind pathKind(const std::string& path) {
    if (path.empty() || hasWildcard(path)) return PathKind::missing;
    const std::wstring name = native(path);
    // A listing of the path itself; roots, which no folder lists, are asked
    // for their attributes.
    _wfinddata64i32_t found{};
    const intptr_t search = ::_wfindfirst64i32(name.c_str(), &found);
    if (search != -1) {
        ::_findclose(search);
        return (found.attrib & _A_SUBDIR) != 0 ? PathKind::directory : PathKind::other;
    }
    const DWORD attributes = attributesOf(name);
    if (attributes == noAttributes) return PathKind::missing;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? PathKind::directory : PathKind::other;
}

bool exists(const std::string& path) { return ::_waccess(native(path).c_str(), 0) == 0; }
bool canRead(const std::string& path) { return ::_waccess(native(path).c_str(), 4) == 0; }
bool canReadWrite(const std::string& path) { return ::_waccess(native(path).c_str(), 6) == 0; }

// ---- File identity ----

namespace {

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

std::wstring folded(std::wstring text) {
    if (!text.empty()) ::CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

// What the open file is: a folder when it is one, a file otherwise.
std::optional<fs::Status> infoOf(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file, &info)) return std::nullopt;
    fs::Status result;
    result.kind = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? fs::Kind::directory : fs::Kind::file;
    result.size = std::uint64_t{info.nFileSizeHigh} << 32 | info.nFileSizeLow;
    result.links = info.nNumberOfLinks;

    windows::IdentityFacts facts;
    FILE_ID_INFO wideId{};
    if (::GetFileInformationByHandleEx(file, FileIdInfo, &wideId, sizeof wideId)) {
        facts.serial = wideId.VolumeSerialNumber;
        std::memcpy(facts.id.data(), wideId.FileId.Identifier, facts.id.size());
        facts.wideId = true;
    } else {
        facts.serial = info.dwVolumeSerialNumber;
        const std::uint64_t index = std::uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow;
        for (std::size_t k = 0; k < 8; ++k) facts.id[k] = static_cast<std::uint8_t>(index >> (8 * k));
    }
    facts.fileSystem = fileSystemOf(file);
    facts.finalPath = utf8(finalPathOf(file));
    result.id = windows::identityOf(facts);
    return result;
}

HANDLE openAttributes(const std::wstring& path, DWORD flags = 0) {
    return ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
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

// Where `path` (extended) names something through a link: what it reaches
// lies in another folder than the path's own folder, or under another name.
// Some systems (Wine) mark no link as one, and delete the target of a link
// for the link; this asks where the name leads instead.
enum class Reach { nothing, itself, elsewhereInFolder, outsideFolder, unknown };
Reach reachOf(const std::wstring& path) {
    const std::wstring target = finalPathOf(path);
    if (target.empty()) return ::GetFileAttributesW(path.c_str()) == noAttributes ? Reach::nothing : Reach::unknown;
    // A drive's root is named with its separator, and final paths of roots
    // end in one.
    std::wstring folderName(folderOf(path));
    if (!folderName.empty() && folderName.back() == L':') folderName += L'\\';
    std::wstring folder = finalPathOf(folderName);
    if (folder.empty()) return Reach::unknown;
    if (isSeparator(folder.back())) folder.pop_back();
    if (folded(std::wstring(folderOf(target))) != folded(folder)) return Reach::outsideFolder;
    // Wine leaves trailing dots and spaces out of final paths.
    const auto nameOf = [](std::wstring_view full) {
        std::wstring_view name = full.substr(folderOf(full).size());
        while (!name.empty() && (name.back() == L'.' || name.back() == L' ')) name.remove_suffix(1);
        return folded(std::wstring(name));
    };
    return nameOf(path) == nameOf(target) ? Reach::itself : Reach::elsewhereInFolder;
}

// What `path` is, links followed or, with `followLast` false, the last
// name itself; its data is not opened, so files held open without sharing
// answer too.
std::optional<fs::Status> infoOf(const std::string& path, bool followLast) {
    const HANDLE file = openAttributes(native(path), followLast ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    std::optional<fs::Status> info = infoOf(file);
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (info && !followLast && ::GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof tag) &&
        (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        info->kind = fs::Kind::other;
    }
    ::CloseHandle(file);
    return info;
}

}  // namespace

fs::Status pathStatus(const std::string& path, bool followLast) {
    const PathKind kind = pathKind(path);
    if (kind == PathKind::missing && followLast) return {};
    std::optional<fs::Status> info = infoOf(path, followLast);
    if (!info) return {};
    if (followLast && kind == PathKind::other && info->kind == fs::Kind::directory) info->kind = fs::Kind::other;
    return std::move(*info);
}

std::vector<fs::Status> standardStreams() {
    std::vector<fs::Status> streams;
    for (const DWORD which : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        const HANDLE stream = ::GetStdHandle(which);
        if (stream == nullptr || stream == INVALID_HANDLE_VALUE || ::GetFileType(stream) != FILE_TYPE_DISK) continue;
        if (std::optional<fs::Status> info = infoOf(stream); info && info->kind == fs::Kind::file) {
            streams.push_back(std::move(*info));
        }
    }
    return streams;
}

// Links are left to the system here: a path leads where it names.
LinkChain followLinks(const std::string& path) { return LinkChain{{}, path}; }

// ---- Folders ----

std::optional<std::vector<DirEntry>> listDir(const std::string& dir) {
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
            return std::vector<DirEntry>();
        }
        return std::nullopt;
    }
    bool first = true;
    std::optional<std::vector<DirEntry>> entries = windows::collectListing([&](DirEntry& entry) {
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
    return entries;
}

bool makeDir(const std::string& path) { return ::_wmkdir(native(path).c_str()) == 0; }

bool removeFile(const std::string& path) {
    const std::wstring name = native(path);
    const DWORD attributes = attributesOf(name);
    if (attributes == noAttributes) return false;
    // A link the system marks as one goes by its own name; one it doesn't
    // mark may take its target with it, so it stays.
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        const Reach reach = reachOf(name);
        if (reach == Reach::outsideFolder || reach == Reach::elsewhereInFolder) return false;
    }
    // A read-only file can't be deleted until it is no longer read-only; if
    // it still can't be, it is left as it was.
    const bool readOnly =
        (attributes & FILE_ATTRIBUTE_READONLY) != 0 && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    if (readOnly && !::SetFileAttributesW(name.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY})) return false;
    if (::DeleteFileW(name.c_str())) return true;
    if (readOnly) ::SetFileAttributesW(name.c_str(), attributes);
    return false;
}

// ---- Files ----

namespace {

FILE* streamOf(const File& file) { return reinterpret_cast<FILE*>(file.handle()); }

HANDLE systemHandleOf(FILE* stream) { return reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream))); }

// Every read and write goes straight to the file: the programs gather their
// own, and sizes and positions then are the file's.
File fileOf(FILE* stream) {
    std::setvbuf(stream, nullptr, _IONBF, 0);
    return File(reinterpret_cast<std::intptr_t>(stream));
}

}  // namespace

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        if (isOpen()) std::fclose(streamOf(*this));
        handle_ = other.release();
    }
    return *this;
}

File::~File() {
    if (isOpen()) std::fclose(streamOf(*this));
}

std::intptr_t File::release() {
    const std::intptr_t handle = handle_;
    handle_ = invalid;
    return handle;
}

std::optional<std::size_t> File::read(void* buffer, std::size_t size) {
    auto* bytes = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < size) {
        const std::size_t got = std::fread(bytes + done, 1, size - done, streamOf(*this));
        done += got;
        if (got == 0) break;
    }
    if (std::ferror(streamOf(*this))) return std::nullopt;
    return done;
}

std::optional<std::size_t> File::readSome(void* buffer, std::size_t size) {
    const std::size_t got = std::fread(buffer, 1, size, streamOf(*this));
    if (std::ferror(streamOf(*this))) return std::nullopt;
    return got;
}

bool File::write(const void* data, std::size_t size) {
    if (size == 0) return true;
    return std::fwrite(data, 1, size, streamOf(*this)) == size;
}

bool File::seek(std::uint64_t position) {
    if (position > static_cast<std::uint64_t>(INT64_MAX)) return false;
    return ::_fseeki64(streamOf(*this), static_cast<__int64>(position), SEEK_SET) == 0;
}

bool File::truncate(std::uint64_t length) {
    if (length > static_cast<std::uint64_t>(INT64_MAX)) return false;
    return ::_chsize_s(::_fileno(streamOf(*this)), static_cast<__int64>(length)) == 0;
}

std::optional<std::uint64_t> File::seekEnd() {
    if (::_fseeki64(streamOf(*this), 0, SEEK_END) != 0) return std::nullopt;
    const __int64 end = ::_ftelli64(streamOf(*this));
    if (end < 0) return std::nullopt;
    return static_cast<std::uint64_t>(end);
}

std::optional<fs::Status> File::status() const { return infoOf(systemHandleOf(streamOf(*this))); }

bool File::close() {
    if (!isOpen()) return true;
    return std::fclose(reinterpret_cast<FILE*>(release())) == 0;
}

namespace {

// The open file `handle` as a stream, when it is a file on a disk: not a
// console, a printer port or a pipe.
std::optional<File> streamOn(HANDLE handle, int access, const wchar_t* mode) {
    if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
    if (::GetFileType(handle) != FILE_TYPE_DISK) {
        ::CloseHandle(handle);
        return std::nullopt;
    }
    const int descriptor = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), access | _O_BINARY);
    if (descriptor == -1) {
        ::CloseHandle(handle);
        return std::nullopt;
    }
    FILE* stream = ::_wfdopen(descriptor, mode);
    if (stream == nullptr) {
        ::_close(descriptor);
        return std::nullopt;
    }
    return fileOf(stream);
}

}  // namespace

std::optional<File> openRead(const std::string& path, fs::Status* info, bool shared) {
    // Shared with other readers only when asked: no run writes the file
    // while it is read, and none reads it while another writes it.
    const DWORD sharing = shared ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    std::optional<File> file = streamOn(::CreateFileW(native(path).c_str(), GENERIC_READ, sharing, nullptr,
                                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr),
                                        _O_RDONLY, L"rb");
    if (!file) return std::nullopt;
    const std::optional<fs::Status> opened = infoOf(systemHandleOf(streamOf(*file)));
    if (!opened || opened->kind != fs::Kind::file) return std::nullopt;
    if (info != nullptr) *info = *opened;
    return file;
}

namespace {

// Created or emptied like "w+b" opens it (or, with CREATE_NEW, only made
// new), shared with no reader or writer, but open to deletion: an interrupt
// deletes the archive while the run still holds it. The archive is
// rewritten at byte 0 when it is complete, so only a file on a disk can
// hold it.
std::optional<File> createNamed(const std::wstring& name, DWORD disposition) {
    return streamOn(::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                                  disposition, FILE_ATTRIBUTE_NORMAL, nullptr),
                    _O_RDWR, L"r+b");
}

}  // namespace

NewFile createNew(const std::string& path) {
    std::optional<File> file = createNamed(native(path), CREATE_NEW);
    if (file) return NewFile{std::move(file), false};
    const DWORD error = ::GetLastError();
    return NewFile{std::nullopt, error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS};
}

std::optional<File> openExisting(const std::string& path) {
    // Never through a link, marked as one or not: the name must lead to
    // itself.
    const std::wstring name = native(path);
    if (reachOf(name) != Reach::itself) return std::nullopt;
    const HANDLE handle = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (handle != INVALID_HANDLE_VALUE &&
        (!::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) ||
         (tag.FileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0)) {
        ::CloseHandle(handle);
        return std::nullopt;
    }
    return streamOn(handle, _O_RDWR, L"r+b");
}

KernelCopy kernelCopy(File&, File&, std::size_t) { return {KernelCopy::Status::refused, 0}; }

namespace {

bool emptyFile(const std::wstring& name) {
    const HANDLE handle = ::CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(handle);
    return true;
}

}  // namespace

bool emptyFile(const std::string& path) { return emptyFile(native(path)); }

// ---- Interrupts ----

namespace {

std::atomic<const char*> interruptMessage{nullptr};
// The output an interrupt cuts and deletes, held with its own lock, which is
// never held during a write: a main thread stuck writing to a full pipe or a
// paused console can't keep the file from being deleted.
SRWLOCK removesLock = SRWLOCK_INIT;
std::wstring outputName;
std::wstring madeName;  // the file made through a link, when there is one
bool outputSet = false;
HANDLE outputHandle = nullptr;  // while the run holds it open
bool interruptsEnded = false;

// Runs on a thread of its own while the main thread goes on. It cuts the
// output to 0 bytes and deletes it first, then waits for any write of the
// main thread to finish, says what was gathered and its message, and ends
// the process without returning.
BOOL WINAPI onConsoleEvent(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        break;
    default:
        return FALSE;
    }
    ::AcquireSRWLockExclusive(&removesLock);
    if (interruptsEnded) {
        // The run is complete and has said everything: it ends as it is.
        ::ReleaseSRWLockExclusive(&removesLock);
        return TRUE;
    }
    interrupting.store(true);
    if (outputSet) {
        // Cut first, so that no other name of the file keeps its bytes.
        if (outputHandle != nullptr) {
            FILE_END_OF_FILE_INFO end{};
            ::SetFileInformationByHandle(outputHandle, FileEndOfFileInfo, &end, sizeof end);
        } else {
            emptyFile(outputName);
        }
        ::DeleteFileW(outputName.c_str());
        if (!madeName.empty()) ::DeleteFileW(madeName.c_str());
    }
    ::AcquireSRWLockExclusive(&errorLock);
    flushPending();
    if (const char* message = interruptMessage.load()) writeAll(message, std::strlen(message));
    // No exit handlers: the main thread stops wherever it is.
    ::TerminateProcess(::GetCurrentProcess(), 1);
    return TRUE;
}

}  // namespace

std::optional<File> createOutput(const std::string& path, const std::string* madeThroughLink) {
    std::wstring name = native(path);
    const Lock lock(removesLock);
    // The output goes where its name leads, as the user asked, after the
    // packer made sure it is none of its inputs. Opened with no sharing, it
    // can't be created while another run has it open.
    std::optional<File> file = createNamed(name, CREATE_ALWAYS);
    if (!file) return std::nullopt;
    madeName = madeThroughLink != nullptr ? native(*madeThroughLink) : std::wstring();
    outputName.swap(name);
    outputSet = true;
    outputHandle = systemHandleOf(streamOf(*file));
    return file;
}

bool closeOutput(File& output) {
    const Lock lock(removesLock);
    outputHandle = nullptr;
    return output.close();
}

void forgetOutput() {
    const Lock lock(removesLock);
    outputSet = false;
    outputHandle = nullptr;
    outputName.clear();
    madeName.clear();
}

void catchInterrupts(const char* message) {
    interruptMessage.store(message);
    // Ctrl-C may have been turned off for the process by its starter.
    ::SetConsoleCtrlHandler(nullptr, FALSE);
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

void endInterrupts() {
    const Lock lock(removesLock);
    interruptsEnded = true;
    outputSet = false;
    outputHandle = nullptr;
}

}  // namespace platform
