// An end-to-end case is data: the files it starts from, one run of a
// program, and what that run must print, return and leave behind. One runner
// plays every case against this build's own programs, or under Wine against
// a Windows build.
//
// Paths in arguments and expected text are written as placeholders that the
// runner fills for the platform: {rel} is `rel` (a '/'-separated path inside
// the case's folder; {} is the folder itself) as the program under test names
// it, /tmp/x/rel on Linux and Z:\tmp\x\rel under Wine. {.exe} is ".exe" under
// Wine and nothing on Linux; {veskal} and {unveskal} name the programs under
// test (for rows run through Wine's shell), {hold} the helper that holds a
// file open as another run would while it runs a command (tests/e2e/hold.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "testing/scratch.h"

namespace e2e {

using testsupport::Bytes;

// Where a case runs: rows about drives, '/' options, extended paths and other
// Windows ways run only under Wine, rows about what Wine can't follow only
// natively.
enum class Only { both, wine, native };

// The program a case runs: one of those under test, one of this build's own
// Linux programs (to pass archives between the two builds), or Wine's shell.
enum class Program { veskal, unveskal, nm3info, linuxVeskal, linuxUnveskal, shell };

// A step of a case's setup, or one difference the run must make to the
// case's folder. `path` is inside the folder.
struct Entry {
    enum class Kind { file, dir, link, hardLink, sparse, readOnly, gone, sameAs, drive, tmpfs, packed, unpacked };
    Kind kind;
    std::string path;
    Bytes bytes{};                      // a file's bytes (a sparse file's first ones); the target of a link or sameAs
    std::uint64_t size = 0;             // a sparse file's size
    Program by = Program::linuxVeskal;  // who packs the folder `bytes` into `path`, or unpacks `path`
};

inline Entry file(std::string path, Bytes bytes) { return {Entry::Kind::file, std::move(path), std::move(bytes)}; }
inline Entry dir(std::string path) { return {Entry::Kind::dir, std::move(path), {}}; }
// A symbolic link holding `target` as written.
inline Entry link(std::string path, std::string target) {
    return {Entry::Kind::link, std::move(path), std::move(target)};
}
inline Entry hardLink(std::string path, std::string existing) {
    return {Entry::Kind::hardLink, std::move(path), std::move(existing)};
}
inline Entry sparse(std::string path, Bytes start, std::uint64_t size) {
    return {Entry::Kind::sparse, std::move(path), std::move(start), size};
}
// Made read-only; as a change, the file is read-only after the run.
inline Entry readOnly(std::string path) { return {Entry::Kind::readOnly, std::move(path), {}}; }
inline Entry gone(std::string path) { return {Entry::Kind::gone, std::move(path), {}}; }
// After the run `path` holds the same bytes as `other` (for files too large to spell out).
inline Entry sameAs(std::string path, std::string other) {
    return {Entry::Kind::sameAs, std::move(path), std::move(other)};
}
// Wine's drive `letter` (lower case) stands for the folder `path`.
inline Entry drive(std::string letter, std::string path) {
    return {Entry::Kind::drive, std::move(path), std::move(letter)};
}
// A fresh tmpfs file system mounted on the new folder `path`.
inline Entry tmpfs(std::string path) { return {Entry::Kind::tmpfs, std::move(path), {}}; }
// The archive `path` packed by `by` from the atlas folder `atlas` (index
// atlas.nti, route route.nm2), run from the case's folder.
inline Entry packed(std::string path, std::string atlas, Program by) {
    return {Entry::Kind::packed, std::move(path), std::move(atlas), 0, by};
}

// The archive `path` unpacked by `by`, run from the case's folder.
inline Entry unpackedBy(std::string path, Program by) { return {Entry::Kind::unpacked, std::move(path), {}, 0, by}; }

struct Case {
    std::string name{};
    Only only = Only::both;
    std::vector<Entry> setup{};
    std::string cwd{};  // inside the case's folder; empty: the folder itself
    Program program = Program::veskal;
    std::vector<std::string> args{};
    int status = 0;
    std::string err{};             // standard error, exact
    std::string out{};             // standard output, exact, without placeholders (JSON holds braces)
    std::string outFile{};         // inside the case's folder: standard output goes there instead
    std::vector<Entry> changes{};  // file, dir, link, gone, sameAs, readOnly: every other entry stays as it was
};

std::vector<Case> cases();

}  // namespace e2e
