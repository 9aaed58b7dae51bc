#include "cli/main.h"

#include "cli/standard_output.h"
#include "cli/terminal.h"
#include "fs/host_file_system.h"
#include "nm3info/run.h"

namespace {

int program(const std::vector<std::string>& arguments) {
    const std::unique_ptr<fs::File> out = cli::standardOutput();
    return nm3info::run(arguments, fs::hostFileSystem(), {out.get(), cli::errorStream()}, cli::optionStyle());
}

}  // namespace

int main(int argc, char** argv) { return cli::main(argc, argv, program); }
