#include "transfer_rate.h"

void TransferRate::Add(uint64_t nowMs, int64_t loaded) {
  if (!samples_.empty() && (loaded < samples_.back().loaded || nowMs < samples_.back().at)) {
    samples_.clear();
  }
  samples_.push_back({nowMs, loaded});
  // Keep the newest sample older than the window as the measure's start.
  while (samples_.size() > 2 && nowMs - samples_[1].at >= kWindowMs) samples_.pop_front();
}

int64_t TransferRate::BytesPerSecond() const {
  if (samples_.size() < 2) return 0;
  const Sample& first = samples_.front();
  const Sample& last = samples_.back();
  const uint64_t span = last.at - first.at;
  if (span < kMinimumSpanMs) return 0;
  return static_cast<int64_t>(static_cast<uint64_t>(last.loaded - first.loaded) * 1000 / span);
}

int64_t TransferRate::SecondsLeft(int64_t total, int64_t loaded) const {
  const int64_t speed = BytesPerSecond();
  if (total <= 0 || speed <= 0) return -1;
  if (loaded >= total) return 0;
  return (total - loaded + speed - 1) / speed;
}
