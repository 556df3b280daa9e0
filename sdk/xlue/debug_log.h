// The debug logs of Lua errors. Script output (print) collects as pending
// lines; when an error is reported, the pending lines and the error's
// traceback are sealed into one log under a handle that the error handler
// reads line by line. Lines are in the system code page and end with "\r\n".
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace xlue {

class DebugLogStore {
 public:
  // At most this many pending output lines are kept (the oldest go first);
  // they stay until an error seals them.
  static constexpr size_t kMaxPendingLines = 200;

  // Adds lines of script output.
  void AddOutput(const std::vector<std::string>& lines);
  size_t PendingCount() const { return pending_.size(); }

  // Seals the pending output followed by `more` into a new log; returns its
  // handle (never 0). The pending output is then empty.
  uint32_t Seal(const std::vector<std::string>& more);

  // The next line of log `handle`, valid until the next call, or null when
  // the log has no further line (or no such log exists).
  const char* Pop(uint32_t handle);

  // Forgets a log (its handle then gives no lines).
  void Discard(uint32_t handle);
  // Forgets everything, pending output included.
  void Clear();

 private:
  std::deque<std::string> pending_;
  std::map<uint32_t, std::deque<std::string>> logs_;
  std::string current_;
  uint32_t next_ = 1;
};

}  // namespace xlue
