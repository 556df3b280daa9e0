#include "debug_log.h"

#include <utility>

namespace xlue {

void DebugLogStore::AddOutput(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    pending_.push_back(line);
    if (pending_.size() > kMaxPendingLines) pending_.pop_front();
  }
}

uint32_t DebugLogStore::Seal(const std::vector<std::string>& more) {
  std::deque<std::string> lines;
  lines.swap(pending_);
  lines.insert(lines.end(), more.begin(), more.end());
  uint32_t handle = next_++;
  if (handle == 0) handle = next_++;  // after wrapping around
  logs_[handle] = std::move(lines);
  return handle;
}

const char* DebugLogStore::Pop(uint32_t handle) {
  auto it = logs_.find(handle);
  if (it == logs_.end() || it->second.empty()) return nullptr;
  current_ = std::move(it->second.front());
  it->second.pop_front();
  return current_.c_str();
}

void DebugLogStore::Discard(uint32_t handle) { logs_.erase(handle); }

void DebugLogStore::Clear() {
  pending_.clear();
  logs_.clear();
  current_.clear();
}

}  // namespace xlue
