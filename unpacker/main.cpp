#include "console/arguments.h"
#include "unpacker/unpack.h"

int main(int argc, char** argv) {
    const console::Arguments arguments(argc, argv);
    return unpacker::runUnpacker(arguments.count(), arguments.vector());
}
