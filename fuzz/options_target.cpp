// Fuzz target: the input is an argument vector, its arguments separated by
// NUL bytes; the first byte picks the POSIX or the Windows style. Both
// programs' command lines, the unknown-option lines, path joining and the
// path rules must keep their promises for every vector.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "cli/command_line.h"
#include "cli/frame.h"
#include "fs/paths.h"

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

bool isOption(std::string_view argument, cli::OptionStyle style) {
    return !argument.empty() && (argument[0] == '-' || (style == cli::OptionStyle::dashOrSlash && argument[0] == '/'));
}

void checkCommandLine(const std::vector<std::string>& arguments, cli::OptionStyle style) {
    // Where the scan must stop, and what it must have found unknown, worked
    // out the plain way.
    std::optional<std::size_t> operand;
    bool help = false;
    std::vector<std::string> packUnknown;
    std::vector<std::string> unpackUnknown;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (!isOption(argument, style)) {
            operand = i;
            break;
        }
        if (isHelp(argument)) {
            help = true;
            break;
        }
        const char letter = argument.size() > 1 ? argument[1] : '\0';
        if (std::string_view("iIrRoO").find(letter) == std::string_view::npos || letter == '\0') {
            packUnknown.push_back(argument);
        }
        unpackUnknown.push_back(argument);
    }

    const cli::CommandLine<packer::Job> pack = cli::readPackCommandLine(arguments, style);
    require(pack.unknown == packUnknown, "the packer's unknown options");
    require(std::holds_alternative<cli::Help>(pack.action) == help, "the packer's help");
    if (const packer::Job* job = std::get_if<packer::Job>(&pack.action)) {
        require(job->atlasDir == (operand ? std::optional<std::string>(arguments[*operand]) : std::nullopt),
                "the packer's operand");
    }
    const cli::CommandLine<unpacker::Job> unpack = cli::readUnpackCommandLine(arguments, style);
    require(unpack.unknown == unpackUnknown, "the unpacker's unknown options");
    const unpacker::Job* job = std::get_if<unpacker::Job>(&unpack.action);
    require((job != nullptr) == (!help && operand.has_value()), "the unpacker's help");
    if (job != nullptr) require(job->archive == arguments[*operand], "the unpacker's operand");

    std::string lines;
    for (const std::string& argument : packUnknown) lines += "unknown option " + argument + "\n";
    require(cli::unknownOptionsText(pack.unknown) == lines, "unknown option lines");
}

bool isSeparator(char c, fs::PathStyle style) { return c == '/' || (style == fs::PathStyle::windows && c == '\\'); }

void checkPaths(const std::string& path, const std::string& other, fs::PathStyle style) {
    const fs::PathParts parts = fs::splitPath(path, style);
    require(parts.drive + parts.dir + parts.name + parts.ext == path, "split parts don't make the path", path);
    require(parts.dir.empty() || isSeparator(parts.dir.back(), style), "directory part", path);
    for (const char c : parts.name + parts.ext) require(!isSeparator(c, style), "file name holds a separator", path);
    require(parts.ext.empty() || parts.ext.front() == '.', "extension", path);
    require(parts.ext.find('.', 1) == std::string::npos, "extension holds two dots", path);

    const char separator = fs::separatorOf(style);
    const std::string joined = fs::joinPath(path, other, style);
    const bool endsInSeparator = !path.empty() && path.back() == separator;
    require(joined == path + (endsInSeparator ? "" : std::string(1, separator)) + other, "joinPath", joined);

    const std::string root = style == fs::PathStyle::posix ? "/w" : "C:\\w";
    const std::string workingDir = fs::lexicalFullPath(other, root, style);
    // A path relative to another drive is left for the system to place.
    if (!fs::isAbsolute(workingDir, style)) return;
    const std::string full = fs::lexicalFullPath(path, workingDir, style);
    if (!fs::isAbsolute(full, style)) return;
    const std::string sep(1, separator);
    for (const std::string& part : {sep + "." + sep, sep + ".." + sep}) {
        require(full.find(part) == std::string::npos, "full path not normal", full);
    }
    require(fs::lexicalFullPath(full, workingDir, style) == full, "full path changes again", full);
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
    const bool windows = (data[0] & 1) != 0;
    const std::vector<std::string> arguments = argumentsOf(data + 1, size - 1);
    checkCommandLine(arguments, windows ? cli::OptionStyle::dashOrSlash : cli::OptionStyle::dash);
    const fs::PathStyle style = windows ? fs::PathStyle::windows : fs::PathStyle::posix;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        checkPaths(arguments[i], arguments[(i + 1) % arguments.size()], style);
    }
    return 0;
}
