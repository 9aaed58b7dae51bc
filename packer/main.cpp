#include "console/arguments.h"
#include "console/text.h"
#include "packer/pack.h"

int main(int argc, char** argv) {
    const console::Arguments arguments(argc, argv);
    const int status = packer::runPacker(arguments.count(), arguments.vector());
    // Everything said reaches the stream before the exit, whatever the
    // platform does with what is left at exit.
    console::flushSaid();
    return status;
}
