// What the command line asks nm3info to do.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace nm3info {

enum class Mode { list, test, extract };

struct Job {
    Mode mode = Mode::list;
    bool json = false;                  // the listing as one JSON document
    std::uint64_t member = 0;           // what -x writes out, numbered as in the listing
    std::vector<std::string> archives;  // as given
};

}  // namespace nm3info
