// What makes the archive a run writes known to what can end the run from
// outside (an interrupt): from its creation until the run is complete, an
// interrupt cuts it to 0 bytes and deletes it, with the file made through a
// link if there is one, so that status 1 always means no archive.
#pragma once

#include <memory>
#include <string>

#include "fs/file_system.h"

namespace packer {

class OutputGuard {
public:
    virtual ~OutputGuard() = default;
    // Creates the output with `files` (FileSystem::createOutput, which
    // fills `madeAt`) and guards it and `madeAt` in the same step, with no
    // moment for an interrupt in between; null when it can't be made. The
    // two strings must stay as they are while the output is guarded.
    [[nodiscard]] virtual std::unique_ptr<fs::File> create(fs::FileSystem& files, const std::string& path,
                                                           std::string& madeAt) = 0;
    // Closes the output, which an interrupt then reaches by its path; false
    // when what was written didn't all reach it.
    [[nodiscard]] virtual bool close(fs::File& output) = 0;
    // The run has deleted the output itself: an interrupt leaves it alone.
    virtual void forget() = 0;
    // The run is complete and has said everything: an interrupt no longer
    // ends it, and the output stays.
    virtual void keep() = 0;
};

}  // namespace packer
