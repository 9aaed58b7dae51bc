// Archives built byte by byte, and folders captured whole, for comparing
// what the programs wrote and left.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "testing/scratch.h"

namespace testsupport {

// The 12-byte archive header.
Bytes headerOf(std::uint32_t offsetFooter, std::uint32_t reserved = 0);

// The archive the packer writes for `members`: the index first, then the
// route file, then the further .nm2 files.
Bytes archiveOf(const std::vector<Bytes>& members);

// The packer's order of further members, worked out here independently of
// the packer: ASCII letters folded to upper case, ties broken by the exact
// bytes.
bool packedBefore(const std::string& left, const std::string& right);

// Entries below a folder by relative path: a file by its bytes, a directory
// as "<dir>", a FIFO as "<fifo>", a link as "-> " and its target (links are
// not followed), a file larger than `largeFile` bytes by its size alone. A
// missing folder gives none.
using Files = std::map<std::string, Bytes>;
Files snapshot(const std::string& dir, std::uintmax_t largeFile = UINTMAX_MAX);

// What tells two sets of entries apart, by name and size; empty when they
// are equal.
std::string differences(const Files& actual, const Files& expected);

// `before` with `changes` made: each path set to its bytes, or removed where
// they are `gone`.
extern const Bytes gone;
Files applied(Files before, const Files& changes);

}  // namespace testsupport
