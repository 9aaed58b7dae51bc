// The file system of the machine the program runs on.
#pragma once

#include <memory>

#include "fs/file_system.h"
#include "platform/platform.h"

namespace fs {

// The one for the whole run.
FileSystem& hostFileSystem();

// A file the platform layer opened, as one of the host file system's.
std::unique_ptr<File> hostFile(platform::File file);

}  // namespace fs
