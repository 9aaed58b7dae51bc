#pragma once

#include "cli/outcome.h"
#include "cli/transcript.h"
#include "fs/file_system.h"
#include "packer/job.h"
#include "packer/output_guard.h"

namespace packer {

// Packs the atlas that `job` names on `files`, saying every step to
// `transcript`, the archive guarded by `guard` from its creation until the
// run is complete; the failure, if there is one, is left for the caller to
// say.
[[nodiscard]] cli::Outcome pack(const Job& job, fs::FileSystem& files, cli::Transcript& transcript, OutputGuard& guard);

}  // namespace packer
