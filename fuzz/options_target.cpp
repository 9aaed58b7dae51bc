// Fuzz target: the input is an argument vector, its arguments separated by
// NUL bytes; the first byte picks the packer's option letters or only the
// help letters. The option scanner, the unknown-option lines, the usage
// line, path joining and the path functions of the platform must keep their
// promises for every vector.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "console/frame.h"
#include "console/path.h"
#include "platform/platform.h"

namespace {

[[noreturn]] void fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "invariant broken: %s [%s]\n", what, detail.c_str());
    std::abort();
}

void require(bool condition, const char* what, const std::string& detail = {}) {
    if (!condition) fail(what, detail);
}

bool isHelp(std::string_view argument) {
    return argument.size() > 1 && (argument[1] == '?' || argument[1] == 'h' || argument[1] == 'H');
}

char letterOf(std::string_view argument) { return argument.size() > 1 ? argument[1] : '\0'; }

void checkScan(const std::vector<std::string>& arguments, bool packerLetters) {
    std::vector<const char*> argv;
    for (const std::string& argument : arguments) argv.push_back(argument.c_str());
    argv.push_back(nullptr);
    const int argc = static_cast<int>(arguments.size());

    std::vector<std::string> seen;
    std::vector<std::string> unknown;
    const console::ScanResult scan =
        console::scanOptions(argc, argv.data(), [&](char letter, std::string_view argument) {
            require(letter == letterOf(argument), "handler given another letter", std::string(argument));
            seen.emplace_back(argument);
            const bool known = packerLetters && std::string_view("iIrRoO").find(letter) != std::string_view::npos;
            if (!known) unknown.emplace_back(argument);
            return known;
        });

    // Where the scan must stop, found the plain way.
    int expected = 0;
    std::size_t stop = arguments.size();
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        if (!platform::startsOption(arguments[i])) {
            expected = static_cast<int>(i);
            stop = i;
            break;
        }
        if (isHelp(arguments[i])) {
            expected = console::helpRequested;
            stop = i;
            break;
        }
    }
    require(scan.operand == expected, "operand index", std::to_string(scan.operand));
    if (scan.operand > 0) {
        require(scan.operand < argc, "operand out of range");
        require(!platform::startsOption(arguments[static_cast<std::size_t>(scan.operand)]), "operand is an option");
    }
    const std::vector<std::string> options(arguments.begin() + 1, arguments.begin() + static_cast<std::ptrdiff_t>(stop));
    require(seen == options, "handler not told every option before the stop, in order");
    require(scan.unknown == unknown, "unknown options");

    std::string lines;
    for (const std::string& argument : unknown) lines += "unknown option " + argument + "\n";
    require(console::unknownOptionsText(scan) == lines, "unknown option lines");

    const std::string& program = arguments.front();
    const platform::PathParts parts = platform::splitPath(program);
    require(console::usageText(program, "%s%s|") == parts.name + parts.ext + "|", "usage line", program);
}

void checkPaths(const std::string& path, const std::string& other) {
    const platform::PathParts parts = platform::splitPath(path);
    require(parts.drive + parts.dir + parts.name + parts.ext == path, "split parts don't make the path", path);
    require(parts.dir.empty() || parts.dir.back() == platform::separator, "directory part", path);
    require((parts.name + parts.ext).find(platform::separator) == std::string::npos, "file name holds a separator");
    require(parts.ext.empty() || parts.ext.front() == '.', "extension", path);
    require(parts.ext.find('.', 1) == std::string::npos, "extension holds two dots", path);

    const std::string joined = console::joinPath(path, other);
    const bool endsInSeparator = !path.empty() && path.back() == platform::separator;
    require(joined == path + (endsInSeparator ? "" : std::string(1, platform::separator)) + other, "joinPath",
            joined);

    const std::string workingDir = platform::fullPath(other, "/w");
    require(platform::isAbsolute(workingDir), "full path of the working folder", workingDir);
    const std::string full = platform::fullPath(path, workingDir);
    require(platform::isAbsolute(full), "full path not absolute", full);
    for (const char* part : {"//", "/./", "/../"}) {
        require(full.find(part) == std::string::npos, "full path not normal", full);
    }
    require(platform::fullPath(full, "/elsewhere") == full, "full path changes again", full);
    if (endsInSeparator) require(full.back() == platform::separator, "trailing separator lost", full);
}

std::vector<std::string> argumentsOf(const std::uint8_t* data, std::size_t size) {
    // Never empty: argv[0] is always there.
    std::vector<std::string> arguments;
    std::string current;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            arguments.push_back(current);
            current.clear();
        } else {
            current += static_cast<char>(data[i]);
        }
    }
    arguments.push_back(current);
    return arguments;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const bool packerLetters = (data[0] & 1) != 0;
    const std::vector<std::string> arguments = argumentsOf(data + 1, size - 1);
    checkScan(arguments, packerLetters);
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        checkPaths(arguments[i], arguments[(i + 1) % arguments.size()]);
    }
    return 0;
}
