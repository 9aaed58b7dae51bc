#include "console/arguments.h"
#include "packer/pack.h"

int main(int argc, char** argv) {
    const console::Arguments arguments(argc, argv);
    return packer::runPacker(arguments.count(), arguments.vector());
}
