// A file system held in memory behind platform.h, for runs that must write
// nothing to disk. Paths are POSIX-like: '/' separates, '/' is the root.
// Everything lives in one state that reset() puts back to an empty root.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace memoryfs {

using Bytes = std::vector<unsigned char>;

// Forgets every file, open file, listing and message; the current directory
// becomes `workingDir`, which is created with its parents.
void reset(const std::string& workingDir);

// Creates a directory, with its parents.
void addDir(const std::string& path);

// Creates or replaces a regular file; its parent must exist.
void addFile(const std::string& path, const Bytes& bytes);

// The bytes of a regular file; nullopt for anything else.
std::optional<Bytes> fileBytes(const std::string& path);

// True when `path` is a directory.
bool isDir(const std::string& path);

// The names in directory `dir`, sorted.
std::vector<std::string> namesIn(const std::string& dir);

// Everything written to the standard error stream since reset().
const std::string& transcript();

// Files still open.
std::size_t openFiles();

}  // namespace memoryfs
