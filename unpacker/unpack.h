#pragma once

namespace unpacker {

// The unpacker's whole run: scans the command line, splits the archive into
// the folder beside it, prints every line to the standard error stream and
// returns the exit status.
int runUnpacker(int argc, const char* const* argv);

}  // namespace unpacker
