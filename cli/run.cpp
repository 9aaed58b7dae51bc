#include "cli/run.h"

#include <algorithm>
#include <new>

#include "cli/frame.h"
#include "platform/platform.h"

namespace cli {

namespace {

// Whether the run goes on to a job after saying what it must say first.
template <typename Job>
const Job* jobToRun(const Program& program, const CommandLine<Job>& line, console::Transcript& transcript) {
    transcript.say(cli::unknownOptionsText(line.unknown));
    transcript.say(cli::bannerText());
    const Job* job = std::get_if<Job>(&line.action);
    if (job == nullptr) transcript.say(cli::usageText(program.path, program.usage));
    return job;
}

}  // namespace

template <typename Job>
int run(const Program& program, const CommandLine<Job>& line, console::Transcript& transcript,
        const std::function<console::Outcome(const Job&)>& work) {
    const Job* job = jobToRun(program, line, transcript);
    if (job == nullptr) return 1;
    platform::catchInterrupts(program.interrupted);
    console::Outcome failed;
    try {
        failed = work(*job);
    } catch (const std::bad_alloc&) {
        // The job says its own failure for memory; only a second failure,
        // while it said that, ends up here, with nothing left to say it.
        return 1;
    }
    if (!failed) return 0;
    transcript.say(failed->message);
    return 1;
}

template int run(const Program&, const CommandLine<packer::Job>&, console::Transcript&,
                 const std::function<console::Outcome(const packer::Job&)>&);
template int run(const Program&, const CommandLine<unpacker::Job>&, console::Transcript&,
                 const std::function<console::Outcome(const unpacker::Job&)>&);

std::vector<std::string> operandsOf(int argc, const char* const* argv) {
    return std::vector<std::string>(argv + std::min(argc, 1), argv + argc);
}

}  // namespace cli
