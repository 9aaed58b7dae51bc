// The file system of the machine the program runs on, implemented once per
// platform (posix_file_system.cpp, windows_file_system.cpp).
#pragma once

#include <cstdint>

#include "fs/file_system.h"

namespace fs {

// The one for the whole run.
[[nodiscard]] FileSystem& hostFileSystem();

// The system's own handle of a file the host file system opened (a
// descriptor on POSIX, a HANDLE on Windows), for what must reach the file
// from outside the run's flow (an interrupt); -1 for any other file.
[[nodiscard]] std::intptr_t hostHandle(File& file);

}  // namespace fs
