// The terminal a program runs in, one file per platform behind this header
// (terminal_posix.cpp, terminal_windows.cpp): the process's start, its
// arguments, the standard error stream the run speaks to, the standard
// output stream, and interrupts.
#pragma once

#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/transcript.h"
#include "packer/output_guard.h"

namespace cli {

// Readies the process before anything else runs: the standard streams are
// open (on the null device where they were closed), so that no file the run
// opens can take the place of one of them, and a write to a closed pipe or
// past the file-size limit fails as a value instead of ending the process.
// False when the streams can't be made safe; the run must not go on then.
[[nodiscard]] bool startProcess();

// The program's arguments as UTF-8 strings, its own name first.
[[nodiscard]] std::vector<std::string> arguments(int argc, char** argv);

// Which arguments are options here: those starting with '-', and on Windows
// with '/' too.
[[nodiscard]] OptionStyle optionStyle();

// The standard error stream. What is said gathers up to a few KiB and goes
// out in one write, shown so that a console shows names in any script; it
// goes out at flush, when the program ends, and before an interrupt's
// message. What a stream that is closed or gone can't take is dropped.
[[nodiscard]] Transcript& errorStream();

// Whether the standard output stream was open when the process started.
[[nodiscard]] bool outputOpen();
// Writes all of `size` bytes to the standard output stream at once, with no
// buffer: a console shows them as UTF-8 text in any script, anything else
// gets the bytes. False when the stream takes no more (closed, a pipe
// without a reader, a full disk).
[[nodiscard]] bool writeOutput(const void* data, std::size_t size);

// From now on SIGINT, SIGTERM, SIGHUP and SIGQUIT (or the console's break
// keys and its closing) end the run at once: the guarded output is cut to 0
// bytes and deleted, what was said and then `message` are written, and the
// exit status is 1. `message` must outlive the run.
void catchInterrupts(const char* message);

// The guard of the packer's output on this machine, which the interrupts
// reach.
[[nodiscard]] packer::OutputGuard& outputGuard();

}  // namespace cli
