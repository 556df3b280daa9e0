// A plain, non-recursive lock that may be tried from the thread that holds
// it: the try then simply fails. This is what lets the engine's run lock act
// as the guard against re-entrant pumping from nested message loops.
#pragma once

#include <windows.h>

class TryMutex {
 public:
  TryMutex() { InitializeSRWLock(&lock_); }
  TryMutex(const TryMutex&) = delete;
  TryMutex& operator=(const TryMutex&) = delete;

  void lock() { AcquireSRWLockExclusive(&lock_); }
  bool try_lock() { return TryAcquireSRWLockExclusive(&lock_) != FALSE; }
  void unlock() { ReleaseSRWLockExclusive(&lock_); }

 private:
  SRWLOCK lock_;
};
