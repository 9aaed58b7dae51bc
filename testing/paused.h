// Runs a built program and holds it still at a known point of its
// transcript, so that a test can act between two of its steps.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "testing/run.h"

namespace testsupport {

// The program's standard error goes into a pipe of one page that is filled
// beforehand up to `transcriptBefore` bytes short of full: the program
// blocks in the first write that no longer fits, having written exactly
// `transcriptBefore` bytes. Once those are all in, `whilePaused` runs with
// the program's process id; then the rest is collected. The returned `err`
// holds only what the program wrote; when the pause is never reached the
// program is killed after `options.timeoutSeconds` and `timedOut` is set.
// `options.fileSizeLimit` is not applied.
RunResult runPausedAfter(const std::string& program, const std::vector<std::string>& args, const RunOptions& options,
                         std::size_t transcriptBefore, const std::function<void(int pid)>& whilePaused);

// Waits until the process `pid` sits in a write system call, as a program
// held by runPausedAfter does once it has reached the pause: before that, the
// transcript's bytes may all be in while the program still runs on. False
// when that isn't seen within `timeoutSeconds`.
bool waitUntilWriting(int pid, int timeoutSeconds = 10);

// Sends `signal` to the process `pid` and waits until it has taken it (its
// handler has begun), so that nothing the test does afterwards can come
// before. False when that isn't seen within `timeoutSeconds`.
bool signalAndWait(int pid, int signal, int timeoutSeconds = 10);

}  // namespace testsupport
