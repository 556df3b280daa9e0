// The speed and the time left of a download, from its progress records: the
// bytes that arrived over the last few seconds, and how long the rest takes
// at that speed. Pure: the caller gives the clock.
#pragma once

#include <cstdint>
#include <deque>

class TransferRate {
 public:
  // The speed is taken over at most this window, and only once records span
  // at least the shorter time (a first burst says nothing about the line).
  static constexpr uint64_t kWindowMs = 5000;
  static constexpr uint64_t kMinimumSpanMs = 500;

  // A progress record: `loaded` bytes at `nowMs`. A count that went down (the
  // file started again from zero) starts the measure again.
  void Add(uint64_t nowMs, int64_t loaded);
  // Forgets the measure (a broken connection: nothing arrives meanwhile).
  void Reset() { samples_.clear(); }

  // Bytes per second; 0 while it cannot be told.
  int64_t BytesPerSecond() const;
  // Seconds until `total` at the present speed; -1 when the total or the
  // speed is not known.
  int64_t SecondsLeft(int64_t total, int64_t loaded) const;

 private:
  struct Sample {
    uint64_t at;
    int64_t loaded;
  };
  std::deque<Sample> samples_;
};
