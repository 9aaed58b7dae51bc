#include "packer/pack.h"

int main(int argc, char** argv) { return packer::runPacker(argc, argv); }
