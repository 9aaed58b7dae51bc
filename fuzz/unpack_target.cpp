// Fuzz target: the input is an archive, unpacked by the unpacker's own run
// on the file system held in memory and checked against the outcome its
// bytes call for, with nm3info -t held to the same verdict (see
// unpack_oracle.h). Beside the sanitizers' findings, a broken rule aborts.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "testing/unpack_oracle.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string broken = oracle::checkUnpack(std::string(reinterpret_cast<const char*>(data), size));
    if (!broken.empty()) {
        std::fprintf(stderr, "invariant broken: %s\n", broken.c_str());
        std::abort();
    }
    return 0;
}
