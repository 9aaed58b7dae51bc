#include "cli/main.h"

#include "cli/run.h"
#include "unpacker/messages.h"
#include "unpacker/unpack.h"

namespace {

int unveskal(const std::vector<std::string>& arguments) {
    return cli::run(cli::Program<unpacker::Job>{unpacker::text::usage, unpacker::text::interrupted,
                                                cli::readUnpackCommandLine, unpacker::unpack},
                    arguments);
}

}  // namespace

int main(int argc, char** argv) { return cli::main(argc, argv, unveskal); }
