#include "cli/main.h"
#include "cli/run.h"
#include "packer/messages.h"
#include "packer/pack.h"

namespace {

int veskal(const std::vector<std::string>& arguments) {
    return cli::run(cli::Program<packer::Job>{packer::text::usage, packer::text::interrupted,
                                              cli::readPackCommandLine, packer::pack},
                    arguments);
}

}  // namespace

int main(int argc, char** argv) { return cli::main(argc, argv, veskal); }
