// Runs a program and reports its peak memory: peak_memory REPORT PROGRAM
// [ARGS...] writes the peak resident set size in KiB into the file REPORT
// and exits with the program's status. A program started straight from a
// large process would count that process's pages, copied before exec, as its
// own; started from this small one it counts only its own.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 3) return 126;
    const pid_t child = ::fork();
    if (child == 0) {
        ::execv(argv[2], argv + 2);
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || ::wait4(child, &status, 0, &usage) != child) return 126;
    std::FILE* report = std::fopen(argv[1], "w");
    if (report == nullptr) return 126;
    std::fprintf(report, "%ld\n", usage.ru_maxrss);
    std::fclose(report);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
