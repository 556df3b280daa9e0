// What the start benchmarks read from runs: the median of their figures and
// the time stamps of the launcher's log lines.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace bench {

// The median of the figures of successful runs. A benchmark stops at its
// first failed run (bench_run.h), so there is always one; none gives NaN,
// never a figure that looks measured.
inline double Median(std::vector<double> values) {
  if (values.empty()) return std::nan("");
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

inline double Least(const std::vector<double>& values) {
  return values.empty() ? std::nan("") : *std::min_element(values.begin(), values.end());
}

inline double Most(const std::vector<double>& values) {
  return values.empty() ? std::nan("") : *std::max_element(values.begin(), values.end());
}

inline uint64_t FileTicks(const SYSTEMTIME& t) {
  FILETIME f{};
  SystemTimeToFileTime(&t, &f);
  return (static_cast<uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime;
}

// Local time stamp of the log line holding `text` ("...time:YYYYMMDD_hhmmssmmm..."),
// in FILETIME units.
inline bool LogLineTime(const std::string& log, const std::string& text, uint64_t& ticks) {
  const size_t at = log.find(text);
  if (at == std::string::npos) return false;
  const size_t stamp = log.rfind("time:", at);
  if (stamp == std::string::npos || log.size() < stamp + 23) return false;
  const std::string t = log.substr(stamp + 5, 18);
  SYSTEMTIME when{};
  when.wYear = static_cast<WORD>(std::atoi(t.substr(0, 4).c_str()));
  when.wMonth = static_cast<WORD>(std::atoi(t.substr(4, 2).c_str()));
  when.wDay = static_cast<WORD>(std::atoi(t.substr(6, 2).c_str()));
  when.wHour = static_cast<WORD>(std::atoi(t.substr(9, 2).c_str()));
  when.wMinute = static_cast<WORD>(std::atoi(t.substr(11, 2).c_str()));
  when.wSecond = static_cast<WORD>(std::atoi(t.substr(13, 2).c_str()));
  when.wMilliseconds = static_cast<WORD>(std::atoi(t.substr(15, 3).c_str()));
  ticks = FileTicks(when);
  return true;
}

}  // namespace bench
