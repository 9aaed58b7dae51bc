// The standard output stream, for a program that writes listings or bytes
// there.
#pragma once

#include <memory>

#include "fs/file_system.h"

namespace cli {

// The stream as a file that can only be written, each write going out at
// once; nullptr when the stream was closed when the process started.
[[nodiscard]] std::unique_ptr<fs::File> standardOutput();

}  // namespace cli
