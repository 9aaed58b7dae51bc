#include "cli/run.h"
#include "cli/arguments.h"
#include "cli/frame.h"
#include "console/text.h"
#include "fs/host_file_system.h"
#include "unpacker/messages.h"
#include "unpacker/unpack.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
    // Without its standard streams safe, a run could write its messages into
    // a file it writes; it says nothing then, having nowhere to say it.
    if (!platform::startProcess()) return 1;
    const cli::Arguments arguments(argc, argv);
    const cli::Program program{arguments.count() > 0 ? arguments.vector()[0] : "", unpacker::text::usage,
                               unpacker::text::interrupted};
    console::Transcript& transcript = console::terminal();
    const int status = cli::run<unpacker::Job>(
        program, cli::readUnpackCommandLine(cli::operandsOf(arguments.count(), arguments.vector()), cli::optionStyle()),
        transcript, [&](const unpacker::Job& job) { return unpacker::unpack(job, fs::hostFileSystem(), transcript); });
    // Everything said reaches the stream before the exit, whatever the
    // platform does with what is left at exit.
    transcript.flush();
    return status;
}
