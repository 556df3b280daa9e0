// Starting other programs: one command line, an optional wait, one integer
// outcome and a log line.
#pragma once

#include <cstdint>
#include <string>

// Outcome codes besides 0 (started / ended with 0) and an exit code.
constexpr int32_t kRunNotStarted = -1;
constexpr int32_t kRunTimedOut = 258;  // WAIT_TIMEOUT
// Wait without limit.
constexpr uint32_t kWaitForever = 0xFFFFFFFFu;

// Starts `commandLine` (passed whole; a path with blanks must be quoted by the
// caller) in `workDir` (empty: the caller's current folder). With `waitMs` 0
// it does not wait; otherwise it waits up to `waitMs` for the process to end
// (`waitForExit`) or to be ready for input.
//   0      started (and, when waited for, ended with 0 — or, when waiting for
//          input, is ready and still running)
//   -1     not started (empty or over-long command line, or refused by the system)
//   258    the wait ran out
//   other  the Windows error code of a failed wait, or the process's exit code
int32_t RunProcess(const std::string& commandLine, const std::string& workDir, uint32_t waitMs,
                   bool waitForExit);

// The updater's variant: when it waits, it always waits for the end.
int32_t RunProcessToEnd(const std::string& commandLine, const std::string& workDir,
                        uint32_t waitMs);
