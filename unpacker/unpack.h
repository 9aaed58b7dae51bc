#pragma once

#include "unpacker/job.h"
#include "console/failure.h"
#include "console/transcript.h"
#include "fs/file_system.h"

namespace unpacker {

// Splits the archive that `job` names into the folder beside it on `files`,
// saying every step to `transcript`; the failure, if there is one, is left
// for the caller to say.
console::Outcome unpack(const unpacker::Job& job, fs::FileSystem& files, console::Transcript& transcript);

}  // namespace unpacker
