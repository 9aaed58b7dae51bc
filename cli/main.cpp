#include "cli/main.h"

#include "console/transcript.h"
#include "platform/platform.h"

namespace cli {

int main(int argc, char** argv, int (*program)(const std::vector<std::string>& arguments)) {
    if (!platform::startProcess()) return 1;
    const int status = program(platform::arguments(argc, argv));
    // Everything said reaches the stream before the exit, whatever the
    // platform does with what is left at exit.
    console::terminal().flush();
    return status;
}

}  // namespace cli
