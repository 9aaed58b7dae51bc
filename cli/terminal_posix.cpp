// The terminal on POSIX: signals, and the standard error stream written with
// async-signal-safe calls, since an interrupt writes what is pending too.
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "cli/terminal.h"
#include "fs/host_file_system.h"

namespace cli {

namespace {

sigset_t interruptSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&signals, signal);
    return signals;
}

// Holds interrupts back while it lives; one that comes meanwhile is taken
// when it ends.
class InterruptsHeld {
public:
    InterruptsHeld() {
        const sigset_t signals = interruptSignals();
        ::pthread_sigmask(SIG_BLOCK, &signals, &before_);
    }
    ~InterruptsHeld() { ::pthread_sigmask(SIG_SETMASK, &before_, nullptr); }
    InterruptsHeld(const InterruptsHeld&) = delete;
    InterruptsHeld& operator=(const InterruptsHeld&) = delete;

private:
    sigset_t before_;
};

// Whether startProcess found the standard output stream closed and put the
// null device in its place.
bool outputClosed = false;

// Waits until the stream `fd` takes more: it may be non-blocking and full
// for a moment. Async-signal-safe.
bool waitToWrite(int fd) {
    pollfd stream{fd, POLLOUT, 0};
    for (;;) {
        if (::poll(&stream, 1, -1) >= 0) return (stream.revents & POLLOUT) != 0;
        if (errno != EINTR) return false;
    }
}

// Async-signal-safe. What a stream that is gone can't take is dropped.
void writeAll(const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t put = ::write(STDERR_FILENO, data, size);
        if (put < 0 && errno == EINTR) continue;
        if (put < 0 && errno == EAGAIN && waitToWrite(STDERR_FILENO)) continue;
        if (put <= 0) return;
        data += put;
        size -= static_cast<std::size_t>(put);
    }
}

// Text for the standard error stream, which the interrupt handler reads too:
// the bytes from pendingFlushed up to pendingLength are complete and not yet
// written.
constexpr std::size_t pendingCapacity = 4096;
char pendingText[pendingCapacity];
std::atomic<std::size_t> pendingLength{0};
std::atomic<std::size_t> pendingFlushed{0};

void writePending() {
    const std::size_t length = pendingLength.load();
    const std::size_t flushed = pendingFlushed.load();
    if (flushed < length) writeAll(pendingText + flushed, length - flushed);
}

// While the main thread writes pending text, an interrupt can't know whether
// the write has happened: it only leaves word, and the main thread takes it
// once it has noted what the write did, so that nothing shows twice.
std::atomic<bool> inErrorWrite{false};
std::atomic<bool> interruptWaiting{false};

std::atomic<const char*> interruptMessage{nullptr};
// The output an interrupt cuts and deletes, changed only while interrupts
// are held back: its path, its descriptor while it is open, and the file
// made through a link; the strings are the run's own, which it keeps as
// they are while they are guarded.
std::atomic<const char*> outputName{nullptr};
std::atomic<int> outputFd{-1};
std::atomic<const char*> madeName{nullptr};

// Ends the run as an interrupt does. Async-signal-safe.
[[noreturn]] void interruptNow() {
    if (const char* path = outputName.load()) {
        // Cut first, so that no other name of the file keeps its bytes.
        const int open = outputFd.load();
        const int fd = open >= 0 ? open : ::open(path, O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd >= 0) {
            [[maybe_unused]] const int cut = ::ftruncate(fd, 0);
        }
        ::unlink(path);
        if (const char* made = madeName.load()) ::unlink(made);
    }
    writePending();
    if (const char* message = interruptMessage.load()) writeAll(message, std::strlen(message));
    ::_exit(1);
}

extern "C" void onInterrupt(int) {
    if (inErrorWrite.load()) {
        interruptWaiting.store(true);
        return;
    }
    interruptNow();
}

void flushErrors() {
    const std::size_t length = pendingLength.load();
    std::size_t flushed = pendingFlushed.load();
    while (flushed < length) {
        inErrorWrite.store(true);
        const ssize_t put = ::write(STDERR_FILENO, pendingText + flushed, length - flushed);
        const int error = errno;
        if (put > 0) {
            flushed += static_cast<std::size_t>(put);
            pendingFlushed.store(flushed);
        }
        inErrorWrite.store(false);
        if (interruptWaiting.load()) {
            const sigset_t signals = interruptSignals();
            ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
            interruptNow();
        }
        if (put > 0 || (put < 0 && error == EINTR)) continue;
        if (put < 0 && error == EAGAIN && waitToWrite(STDERR_FILENO)) continue;
        // A stream that is gone: what it can't take is dropped.
        break;
    }
    pendingLength.store(0);
    pendingFlushed.store(0);
}

class ErrorStream : public Transcript {
public:
    void say(std::string_view text) override {
        if (text.size() > pendingCapacity - pendingLength.load()) flushErrors();
        if (text.size() > pendingCapacity) {
            writeAll(text.data(), text.size());
            return;
        }
        const std::size_t length = pendingLength.load();
        std::memcpy(pendingText + length, text.data(), text.size());
        pendingLength.store(length + text.size());
    }
    void flush() override { flushErrors(); }
};

struct FlushAtExit {
    ~FlushAtExit() { flushErrors(); }
} flushAtExit;

class HostOutputGuard : public packer::OutputGuard {
public:
    std::unique_ptr<fs::File> create(fs::FileSystem& files, const std::string& path, std::string& madeAt) override {
        const InterruptsHeld held;
        std::unique_ptr<fs::File> file = files.createOutput(path, madeAt);
        if (!file) return nullptr;
        outputName.store(path.c_str());
        madeName.store(madeAt.empty() ? nullptr : madeAt.c_str());
        outputFd.store(static_cast<int>(fs::hostHandle(*file)));
        return file;
    }
    bool close(fs::File& output) override {
        const InterruptsHeld held;
        outputFd.store(-1);
        return output.close();
    }
    void forget() override {
        const InterruptsHeld held;
        outputName.store(nullptr);
        madeName.store(nullptr);
        outputFd.store(-1);
    }
    void keep() override {
        const sigset_t signals = interruptSignals();
        ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
        outputName.store(nullptr);
        madeName.store(nullptr);
        outputFd.store(-1);
    }
};

}  // namespace

bool startProcess() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        if (fd == STDOUT_FILENO) outputClosed = true;
        // The lowest free descriptor is this one, those below it being open.
        const int standIn = ::open("/dev/null", O_RDWR);
        if (standIn != fd) return false;
    }
    // The writes then fail with EPIPE and EFBIG, which the run reports.
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);
    return true;
}

std::vector<std::string> arguments(int argc, char** argv) { return std::vector<std::string>(argv, argv + argc); }

// A leading '/' begins an absolute path here, so it is an operand.
OptionStyle optionStyle() { return OptionStyle::dash; }

bool outputOpen() { return !outputClosed; }

bool writeOutput(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ssize_t put = ::write(STDOUT_FILENO, bytes, size);
        if (put < 0 && errno == EINTR) continue;
        if (put < 0 && errno == EAGAIN && waitToWrite(STDOUT_FILENO)) continue;
        if (put <= 0) return false;
        bytes += put;
        size -= static_cast<std::size_t>(put);
    }
    return true;
}

Transcript& errorStream() {
    static ErrorStream stream;
    return stream;
}

void catchInterrupts(const char* message) {
    interruptMessage.store(message);
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigfillset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) ::sigaction(signal, &action, nullptr);
}

packer::OutputGuard& outputGuard() {
    static HostOutputGuard guard;
    return guard;
}

}  // namespace cli
