#include "cli/main.h"

#include "cli/terminal.h"

namespace cli {

int main(int argc, char** argv, int (*program)(const std::vector<std::string>& arguments)) {
    if (!startProcess()) return 1;
    const int status = program(arguments(argc, argv));
    // Everything said reaches the stream before the exit, whatever the
    // platform does with what is left at exit.
    errorStream().flush();
    return status;
}

}  // namespace cli
