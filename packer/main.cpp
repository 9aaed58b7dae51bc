#include "cli/main.h"

#include "cli/run.h"
#include "cli/terminal.h"
#include "packer/messages.h"
#include "packer/pack.h"

namespace {

int veskal(const std::vector<std::string>& arguments) {
    const auto work = [](const packer::Job& job, fs::FileSystem& files, cli::Transcript& transcript) {
        return packer::pack(job, files, transcript, cli::outputGuard());
    };
    return cli::run(
        cli::Program<packer::Job>{packer::text::usage, packer::text::interrupted, cli::readPackCommandLine, work},
        arguments);
}

}  // namespace

int main(int argc, char** argv) { return cli::main(argc, argv, veskal); }
