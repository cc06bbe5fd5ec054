#pragma once

// The program's own timing log, for measuring where a run spends its time.
// Only when the environment variable KANTELO_TIMING_LOG names a file: each
// mark then appends one line "<name> <ms> <KiB>" to it, <ms> read from the
// monotonic clock (the clock another process on this machine reads too),
// <KiB> the process's peak memory so far.
// Without the variable a mark costs one test of a flag.
namespace platform::TimingLog {

bool enabled();
void mark(const char *name);

} // namespace platform::TimingLog
