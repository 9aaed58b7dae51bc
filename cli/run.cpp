#include "cli/run.h"

#include <algorithm>
#include <new>

#include "cli/frame.h"
#include "cli/terminal.h"
#include "fs/host_file_system.h"

namespace cli {

template <typename Job>
int run(const Program<Job>& program, const std::vector<std::string>& arguments, fs::FileSystem& files,
        cli::Transcript& transcript) {
    const std::vector<std::string> operands(arguments.begin() + std::min<std::size_t>(arguments.size(), 1),
                                            arguments.end());
    const CommandLine<Job> line = program.read(operands, optionStyle());
    transcript.say(unknownOptionsText(line.unknown));
    transcript.say(bannerText());
    const Job* job = std::get_if<Job>(&line.action);
    if (job == nullptr) {
        transcript.say(usageText(arguments.empty() ? "" : arguments.front(), program.usage));
        return 1;
    }
    catchInterrupts(program.interrupted);
    cli::Outcome failed;
    try {
        failed = program.work(*job, files, transcript);
    } catch (const std::bad_alloc&) {
        // The job says its own failure for memory; only a second failure,
        // while it said that, ends up here, with nothing left to say it.
        return 1;
    }
    if (!failed) return 0;
    transcript.say(failed->message);
    return 1;
}

template <typename Job>
int run(const Program<Job>& program, const std::vector<std::string>& arguments) {
    return run(program, arguments, fs::hostFileSystem(), errorStream());
}

template int run(const Program<packer::Job>&, const std::vector<std::string>&);
template int run(const Program<unpacker::Job>&, const std::vector<std::string>&);

}  // namespace cli
