// Runs a built program in a child process and collects what it printed.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace testsupport {

struct RunOptions {
    std::string workingDir;        // empty: the test's own
    long long fileSizeLimit = -1;  // RLIMIT_FSIZE in bytes; -1 leaves it as it is
    int timeoutSeconds = 60;       // the child is killed after this
    std::vector<int> closed;       // standard streams the child starts without
    std::string outputFile;        // where the child's standard output goes instead of being collected
    // Where the child's standard error goes: a pipe that is read, a pipe
    // whose reading end is closed, or a non-blocking pipe that is full when
    // the child starts and read only a moment later.
    enum class Errors { collected, brokenPipe, stalled };
    Errors errors = Errors::collected;
};

inline RunOptions inFolder(const std::string& workingDir) {
    RunOptions options;
    options.workingDir = workingDir;
    return options;
}

inline RunOptions limitedTo(long long fileSizeLimit) {
    RunOptions options;
    options.fileSizeLimit = fileSizeLimit;
    return options;
}

inline RunOptions timeoutAfter(int seconds) {
    RunOptions options;
    options.timeoutSeconds = seconds;
    return options;
}

struct RunResult {
    int status = -1;  // exit status; -1 when the child didn't exit normally
    bool timedOut = false;
    std::string out;  // standard output
    std::string err;  // standard error
};

// Reads a child's standard output and error pipes into `result` until the
// child closes both; false when `deadline` passes first. Closes nothing.
bool collectOutput(int outFd, int errFd, RunResult& result, std::chrono::steady_clock::time_point deadline);

RunResult runProgram(const std::string& program, const std::vector<std::string>& args, const RunOptions& options = {});

// The argument vector that execv takes: `program`, `args`, a null pointer.
// It points into the strings, which must outlive it.
std::vector<char*> argvOf(const std::string& program, const std::vector<std::string>& args);

}  // namespace testsupport
