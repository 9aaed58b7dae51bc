// Another run's hold on a file, for the end-to-end cases under Wine: opens
// FILE with the given access and sharing, runs the command after it with
// this program's standard streams, and closes the file once the command has
// ended, with the command's exit status.
//
//   hold.exe ACCESS SHARING FILE PROGRAM [ARGUMENTS...]
//
// ACCESS and SHARING are letters: r (read), w (write), d (delete); "-" is
// none, for a hold that reads nothing but keeps others from what SHARING
// leaves out.
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <string>

namespace {

DWORD flagsOf(const wchar_t* letters, DWORD read, DWORD write, DWORD remove) {
    DWORD flags = 0;
    for (; *letters != L'\0'; ++letters) {
        if (*letters == L'r') flags |= read;
        if (*letters == L'w') flags |= write;
        if (*letters == L'd') flags |= remove;
    }
    return flags;
}

// The arguments from `first` on as one command line.
std::wstring commandFrom(wchar_t** arguments, int count, int first) {
    std::wstring line;
    for (int i = first; i < count; ++i) {
        const std::wstring argument = arguments[i];
        if (!line.empty()) line += L' ';
        const bool quoted = argument.empty() || argument.find_first_of(L" \t") != std::wstring::npos;
        line += quoted ? L'"' + argument + L'"' : argument;
    }
    return line;
}

}  // namespace

int main() {
    int count = 0;
    wchar_t** arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (arguments == nullptr || count < 5) {
        std::fputs("usage: hold ACCESS SHARING FILE PROGRAM [ARGUMENTS...]\n", stderr);
        return 2;
    }
    // Not inherited: the command must meet the hold as another run would.
    const HANDLE held =
        ::CreateFileW(arguments[3], flagsOf(arguments[1], GENERIC_READ, GENERIC_WRITE, DELETE) | FILE_READ_ATTRIBUTES,
                      flagsOf(arguments[2], FILE_SHARE_READ, FILE_SHARE_WRITE, FILE_SHARE_DELETE), nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "hold: can't open the file (error %lu)\n", ::GetLastError());
        return 2;
    }
    std::wstring command = commandFrom(arguments, count, 4);
    STARTUPINFOW start{};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    start.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
    start.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start, &process)) {
        std::fprintf(stderr, "hold: can't start the command (error %lu)\n", ::GetLastError());
        return 2;
    }
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 2;
    ::GetExitCodeProcess(process.hProcess, &status);
    ::CloseHandle(held);
    return static_cast<int>(status);
}
