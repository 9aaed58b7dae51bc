// The terminal on Windows: the console's events for interrupts, handled on a
// thread of their own, and the standard error stream in UTF-16 for a
// console, in UTF-8 for a file or a pipe.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <cstring>

#include "cli/terminal.h"
#include "fs/host_file_system.h"
#include "fs/windows_rules.h"

namespace cli {

namespace {

// Paths up to the longest the system takes.
constexpr std::size_t longestPath = 32768;

using fs::windows::utf8;
using fs::windows::wide;

class Lock {
public:
    explicit Lock(SRWLOCK& lock) : lock_(lock) { ::AcquireSRWLockExclusive(&lock_); }
    ~Lock() { ::ReleaseSRWLockExclusive(&lock_); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

private:
    SRWLOCK& lock_;
};

// ---- The standard error stream ----

// Text for the standard error stream, which the console's event handler reads
// too from its own thread: every use holds the lock. The handler never gives
// it back, so nothing more is written once it has run.
SRWLOCK errorLock = SRWLOCK_INIT;
constexpr std::size_t pendingCapacity = 4096;
char pendingText[pendingCapacity];
std::size_t pendingLength = 0;

// A console takes the text as UTF-16, so that every name shows whatever its
// code page; a file or a pipe gets the UTF-8 bytes. False when the stream
// takes no more.
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

// Set by the console's event handler: from then on the main thread says
// nothing more, so that the transcript ends with what was said before the
// interrupt and its message.
std::atomic<bool> interrupting{false};

void stopWhenInterrupted() {
    if (interrupting.load()) ::Sleep(INFINITE);
}

void flushErrors() {
    stopWhenInterrupted();
    const Lock lock(errorLock);
    flushPending();
}

class ErrorStream : public Transcript {
public:
    void say(std::string_view text) override {
        stopWhenInterrupted();
        const Lock lock(errorLock);
        if (text.size() > pendingCapacity - pendingLength) flushPending();
        if (text.size() > pendingCapacity) {
            writeAll(text.data(), text.size());
            return;
        }
        std::memcpy(pendingText + pendingLength, text.data(), text.size());
        pendingLength += text.size();
    }
    void flush() override { flushErrors(); }
};

struct FlushAtExit {
    ~FlushAtExit() { flushErrors(); }
} flushAtExit;

// ---- Interrupts ----

std::atomic<const char*> interruptMessage{nullptr};
// The output an interrupt cuts and deletes, held with its own lock, which is
// never held during a write: a main thread stuck writing to a full pipe or a
// paused console can't keep the file from being deleted.
SRWLOCK outputLock = SRWLOCK_INIT;
std::wstring outputName;
std::wstring madeName;  // the file made through a link, when there is one
bool outputSet = false;
HANDLE outputHandle = nullptr;  // while the run holds it open
bool interruptsEnded = false;

// Cuts a file to 0 bytes by its name.
void empty(const std::wstring& name) {
    const HANDLE handle =
        ::CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
}

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
    case CTRL_SHUTDOWN_EVENT: break;
    default: return FALSE;
    }
    ::AcquireSRWLockExclusive(&outputLock);
    if (interruptsEnded) {
        // The run is complete and has said everything: it ends as it is.
        ::ReleaseSRWLockExclusive(&outputLock);
        return TRUE;
    }
    interrupting.store(true);
    if (outputSet) {
        // Cut first, so that no other name of the file keeps its bytes.
        if (outputHandle != nullptr) {
            FILE_END_OF_FILE_INFO end{};
            ::SetFileInformationByHandle(outputHandle, FileEndOfFileInfo, &end, sizeof end);
        } else {
            empty(outputName);
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

class HostOutputGuard : public packer::OutputGuard {
public:
    std::unique_ptr<fs::File> create(fs::FileSystem& files, const std::string& path, std::string& madeAt) override {
        std::wstring name = wide(fs::windows::extendedPath(path));
        const Lock lock(outputLock);
        std::unique_ptr<fs::File> file = files.createOutput(path, madeAt);
        if (!file) return nullptr;
        madeName = madeAt.empty() ? std::wstring() : wide(fs::windows::extendedPath(madeAt));
        outputName.swap(name);
        outputSet = true;
        outputHandle = reinterpret_cast<HANDLE>(fs::hostHandle(*file));
        return file;
    }
    bool close(fs::File& output) override {
        const Lock lock(outputLock);
        outputHandle = nullptr;
        return output.close();
    }
    void forget() override {
        const Lock lock(outputLock);
        outputSet = false;
        outputHandle = nullptr;
        outputName.clear();
        madeName.clear();
    }
    void keep() override {
        const Lock lock(outputLock);
        interruptsEnded = true;
        outputSet = false;
        outputHandle = nullptr;
    }
};

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

OptionStyle optionStyle() { return OptionStyle::dashOrSlash; }

bool outputOpen() {
    const HANDLE stream = ::GetStdHandle(STD_OUTPUT_HANDLE);
    return stream != nullptr && stream != INVALID_HANDLE_VALUE;
}

bool writeOutput(const void* data, std::size_t size) {
    return writeTo(::GetStdHandle(STD_OUTPUT_HANDLE), static_cast<const char*>(data), size);
}

Transcript& errorStream() {
    static ErrorStream stream;
    return stream;
}

void catchInterrupts(const char* message) {
    interruptMessage.store(message);
    // Ctrl-C may have been turned off for the process by its starter.
    ::SetConsoleCtrlHandler(nullptr, FALSE);
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

packer::OutputGuard& outputGuard() {
    static HostOutputGuard guard;
    return guard;
}

}  // namespace cli
