#include "testing/run.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>

namespace testsupport {

bool collectOutput(int outFd, int errFd, RunResult& result, std::chrono::steady_clock::time_point deadline) {
    pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = (outFd >= 0 ? 1 : 0) + (errFd >= 0 ? 1 : 0);
    while (open > 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        if (::poll(fds, 2, static_cast<int>(left.count())) < 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char chunk[4096];
            const ssize_t got = ::read(fds[i].fd, chunk, sizeof chunk);
            if (got > 0) {
                sinks[i]->append(chunk, static_cast<std::size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                fds[i].fd = -1;
                --open;
            }
        }
    }
    return true;
}

namespace {

// Fills the pipe behind `fd`, made non-blocking, until it takes no more;
// the number of bytes put in.
std::size_t fillPipe(int fd) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    const std::string filler(4096, '.');
    std::size_t filled = 0;
    for (;;) {
        const ssize_t put = ::write(fd, filler.data(), filler.size());
        if (put <= 0) return filled;
        filled += static_cast<std::size_t>(put);
    }
}

}  // namespace

std::vector<char*> argvOf(const std::string& program, const std::vector<std::string>& args) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    return argv;
}

RunResult runProgram(const std::string& program, const std::vector<std::string>& args, const RunOptions& options) {
    int outPipe[2];
    int errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) return {};
    std::size_t filler = 0;
    if (options.errors == RunOptions::Errors::brokenPipe) {
        ::close(errPipe[0]);
        errPipe[0] = -1;
    } else if (options.errors == RunOptions::Errors::stalled) {
        filler = fillPipe(errPipe[1]);
    }

    std::vector<char*> argv = argvOf(program, args);

    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(outPipe[1], STDOUT_FILENO);
        if (!options.outputFile.empty()) {
            const int output = ::open(options.outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
            if (output < 0 || ::dup2(output, STDOUT_FILENO) < 0) ::_exit(127);
            ::close(output);
        }
        ::dup2(errPipe[1], STDERR_FILENO);
        const int devNull = ::open("/dev/null", O_RDONLY);
        ::dup2(devNull, STDIN_FILENO);
        ::close(devNull);
        for (const int fd : options.closed) ::close(fd);
        if (!options.workingDir.empty() && ::chdir(options.workingDir.c_str()) != 0) ::_exit(127);
        if (options.fileSizeLimit >= 0) {
            const rlimit limit{static_cast<rlim_t>(options.fileSizeLimit), static_cast<rlim_t>(options.fileSizeLimit)};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    // Long enough for the child to meet the full pipe.
    if (filler > 0) ::usleep(300 * 1000);

    RunResult result;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.timeoutSeconds);
    if (!collectOutput(outPipe[0], errPipe[0], result, deadline)) {
        result.timedOut = true;
        ::kill(child, SIGKILL);
    }
    ::close(outPipe[0]);
    if (errPipe[0] >= 0) ::close(errPipe[0]);
    result.err.erase(0, std::min(filler, result.err.size()));
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!result.timedOut && WIFEXITED(status)) result.status = WEXITSTATUS(status);
    return result;
}

}  // namespace testsupport
