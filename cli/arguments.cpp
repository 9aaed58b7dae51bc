#include "cli/arguments.h"

#include "platform/platform.h"

namespace cli {

Arguments::Arguments(int argc, char** argv) : values_(platform::arguments(argc, argv)) {
    for (const std::string& value : values_) pointers_.push_back(value.c_str());
    pointers_.push_back(nullptr);
}

}  // namespace cli
