#pragma once

#include "packer/job.h"
#include "console/failure.h"
#include "console/transcript.h"
#include "fs/file_system.h"

namespace packer {

// Packs the atlas that `job` names on `files`, saying every step to
// `transcript`; the failure, if there is one, is left for the caller to say.
console::Outcome pack(const packer::Job& job, fs::FileSystem& files, console::Transcript& transcript);

}  // namespace packer
