#pragma once

namespace packer {

// The packer's whole run: scans the command line, packs the atlas, prints
// every line to the standard error stream and returns the exit status.
int runPacker(int argc, const char* const* argv);

}  // namespace packer
