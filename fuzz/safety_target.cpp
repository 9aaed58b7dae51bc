// Fuzz target: the input chooses a case of fuzz/safety.h (an atlas or a
// folder with links, and the packer's or unpacker's command line) and the
// programs' own runs must keep every rule there.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "testing/safety.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string broken = safety::checkCase(std::string(reinterpret_cast<const char*>(data), size));
    if (!broken.empty()) {
        std::fprintf(stderr, "invariant broken: %s\n", broken.c_str());
        std::abort();
    }
    return 0;
}
