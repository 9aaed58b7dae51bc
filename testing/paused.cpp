#include "testing/paused.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <fstream>
#include <thread>

namespace testsupport {

namespace {

using Clock = std::chrono::steady_clock;

struct Pipe {
    int read = -1;
    int write = -1;
};

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// Waits until the error pipe holds `full` bytes, or the program has ended,
// or the deadline has passed; false only for the deadline.
bool waitForPause(int errRead, int full, pid_t child, Clock::time_point deadline) {
    for (;;) {
        int waiting = 0;
        if (::ioctl(errRead, FIONREAD, &waiting) == 0 && waiting >= full) return true;
        siginfo_t ended{};
        if (::waitid(P_PID, static_cast<id_t>(child), &ended, WEXITED | WNOHANG | WNOWAIT) == 0 &&
            ended.si_pid == child) {
            return true;
        }
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// The signal mask on the line of /proc/PID/status that begins with `label`.
std::uint64_t statusMask(int pid, const std::string& label) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(label, 0) == 0) return std::stoull(line.substr(label.size()), nullptr, 16);
    }
    return 0;
}

}  // namespace

bool waitUntilWriting(int pid, int timeoutSeconds) {
    const auto deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
    while (Clock::now() < deadline) {
        // The first field is the number of the system call the process is
        // blocked in.
        std::ifstream syscall("/proc/" + std::to_string(pid) + "/syscall");
        long number = -1;
        if (syscall >> number && number == SYS_write) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

bool signalAndWait(int pid, int signal, int timeoutSeconds) {
    if (::kill(pid, signal) != 0) return false;
    const std::uint64_t bit = std::uint64_t{1} << (signal - 1);
    const auto deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
    while (Clock::now() < deadline) {
        // Pending until it is delivered, for the process or its thread.
        if (((statusMask(pid, "ShdPnd:") | statusMask(pid, "SigPnd:")) & bit) == 0) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

RunResult runPausedAfter(const std::string& program, const std::vector<std::string>& args, const RunOptions& options,
                         std::size_t transcriptBefore, const std::function<void(int pid)>& whilePaused) {
    RunResult result;
    Pipe out;
    Pipe err;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return result;
    out = {fds[0], fds[1]};
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        closeFd(out.read);
        closeFd(out.write);
        return result;
    }
    err = {fds[0], fds[1]};
    const auto closeAll = [&] {
        for (int* fd : {&out.read, &out.write, &err.read, &err.write}) closeFd(*fd);
    };

    // A pipe of one page: a write that fits joins the page, the first that
    // doesn't waits until the page has been read whole.
    const long page = ::sysconf(_SC_PAGESIZE);
    const int capacity = ::fcntl(err.write, F_SETPIPE_SZ, static_cast<int>(page));
    if (capacity != page || transcriptBefore > static_cast<std::size_t>(page)) {
        closeAll();
        result.err = "a one-page pipe can't hold the transcript before the pause";
        return result;
    }
    const std::string filler(static_cast<std::size_t>(page) - transcriptBefore, '#');
    if (!filler.empty() && ::write(err.write, filler.data(), filler.size()) != static_cast<ssize_t>(filler.size())) {
        closeAll();
        return result;
    }

    std::vector<char*> argv = argvOf(program, args);

    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(out.write, STDOUT_FILENO);
        ::dup2(err.write, STDERR_FILENO);
        const int devNull = ::open("/dev/null", O_RDONLY);
        ::dup2(devNull, STDIN_FILENO);
        if (!options.workingDir.empty() && ::chdir(options.workingDir.c_str()) != 0) ::_exit(127);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    closeFd(out.write);
    closeFd(err.write);

    const auto deadline = Clock::now() + std::chrono::seconds(options.timeoutSeconds);
    bool inTime = child > 0 && waitForPause(err.read, static_cast<int>(page), child, deadline);
    if (inTime) whilePaused(child);
    inTime = inTime && collectOutput(out.read, err.read, result, deadline);
    if (!inTime && child > 0) {
        result.timedOut = true;
        ::kill(child, SIGKILL);
    }
    closeAll();

    int status = 0;
    if (child > 0) ::waitpid(child, &status, 0);
    if (!result.timedOut && child > 0 && WIFEXITED(status)) result.status = WEXITSTATUS(status);
    result.err.erase(0, std::min(filler.size(), result.err.size()));
    return result;
}

}  // namespace testsupport
