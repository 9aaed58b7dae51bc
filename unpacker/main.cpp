#include "console/arguments.h"
#include "console/text.h"
#include "unpacker/unpack.h"

int main(int argc, char** argv) {
    const console::Arguments arguments(argc, argv);
    const int status = unpacker::runUnpacker(arguments.count(), arguments.vector());
    // Everything said reaches the stream before the exit, whatever the
    // platform does with what is left at exit.
    console::flushSaid();
    return status;
}
