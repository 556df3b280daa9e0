// Running a program of the product to its very end for a benchmark: the
// program itself, and every process it started (the updater, installers, the
// hall), so that the next run never starts beside a hall still running and
// gives way to it. A run that did not end as it should stops the benchmark
// with a loud message: no figure is ever made of failed runs.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

// One process the program started, as seen while it ran.
struct Child {
  std::string name;      // file name of its image, e.g. "Orlune.exe"
  uint64_t created = 0;  // local time of its creation, FILETIME units
};

struct Run {
  bool ok = false;          // it ended with exit code 0, and everything it started ended too
  std::string failure;      // why not
  DWORD exitCode = 0;
  uint64_t created = 0;     // local time of the program's creation, FILETIME units
  SIZE_T peakPrivate = 0;   // bytes
  SIZE_T peakWorkingSet = 0;
  double wallMs = 0;        // from starting it to its end (its own, not its children's)
  std::vector<Child> children;

  // Milliseconds from the program's creation to that of its first child
  // named `name` (case-insensitive); -1 when none was seen.
  double MsToChild(const char* name) const;
};

// Runs `commandLine` (working folder `dir`) in a job of its own, sampling its
// memory every few milliseconds, waits for it, then for every process in the
// job. Whatever still runs `limitMs` after the start is ended and the run
// fails. A run counts as ok only with exit code `expectedExit`. With
// `output`, the program's standard output is collected there.
Run RunToTheEnd(const std::string& commandLine, const std::string& dir, DWORD limitMs = 120000,
                DWORD expectedExit = 0, std::string* output = nullptr);

// Prints "<bench>: FAILED: <what>" (and the last lines of the log at `log`
// when given) to the error stream and ends the benchmark with exit code 1.
[[noreturn]] void Fail(const std::string& bench, const std::string& what,
                       const std::string& log = std::string());

// Fails the benchmark unless `run` is ok.
void Require(const std::string& bench, const std::string& what, const Run& run,
             const std::string& log = std::string());

// Milliseconds Wine takes here to start an empty program (exit_with.exe from
// `binDir`) and see it end: the median of `count` runs.
double EmptyProgramMs(const std::string& bench, const std::string& binDir, int count = 5);

constexpr double kMiB = 1048576.0;

// A short description of the machine and its load for the figures' page:
// date, processor count and name, load averages, Wine's version.
std::string MachineLine();

}  // namespace bench
