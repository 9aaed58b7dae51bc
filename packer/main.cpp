#include "console/arguments.h"
#include "console/text.h"
#include "platform/platform.h"
#include "packer/pack.h"

int main(int argc, char** argv) {
    // Without its standard streams safe, a run could write its messages into
    // a file it writes; it says nothing then, having nowhere to say it.
    if (!platform::startProcess()) return 1;
    const console::Arguments arguments(argc, argv);
    const int status = packer::runPacker(arguments.count(), arguments.vector());
    // Everything said reaches the stream before the exit, whatever the
    // platform does with what is left at exit.
    console::flushSaid();
    return status;
}
