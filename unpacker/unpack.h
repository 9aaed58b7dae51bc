#pragma once

#include "cli/outcome.h"
#include "cli/transcript.h"
#include "fs/file_system.h"
#include "unpacker/job.h"

namespace unpacker {

// Splits the archive that `job` names into the folder beside it on `files`,
// saying every step to `transcript`; the failure, if there is one, is left
// for the caller to say.
[[nodiscard]] cli::Outcome unpack(const Job& job, fs::FileSystem& files, cli::Transcript& transcript);

}  // namespace unpacker
