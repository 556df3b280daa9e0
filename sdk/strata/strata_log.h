// The library's own log: "Log\strata.log" below the data folder, appended to
// by every process that uses the library (each line names its process), and
// the debugger output.
#pragma once

namespace strata {

void Log(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace strata
