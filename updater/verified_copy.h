// The launcher's self-update as the updater checks it itself: the package is
// read once, through a handle that denies writing and deletion to everyone
// else, each piece hashed and written to a new file beside the destination;
// only when the SHA-256 (and the size, when given) match the signed digest
// the launcher handed over does the new file replace the destination. So
// what is copied is exactly what was verified, however the package is
// changed after the launcher's own check (the launcher's hold ends when it
// quits, before the copy).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "trust_text.h"

struct VerifiedCopyResult {
  DWORD error = 0;          // 0: checked; ERROR_INVALID_DATA: not the signed package
  bool mismatch = false;    // read whole, but not the signed bytes
  int64_t size = 0;         // what was read
  trust::Digest digest{};   // its SHA-256
  std::string copy;         // the checked copy beside the destination (when error is 0)
};

// Reads `source` once as described and writes the checked copy beside
// `destination` ("<destination>.new"); a copy that is not the signed package
// (`expectedSize` -1: no size given) is removed again.
VerifiedCopyResult CopyVerified(const std::string& source, const std::string& destination,
                                const trust::Digest& expected, int64_t expectedSize);

// The checked copy takes the destination's place; a destination in use is
// waited for as CopyFileRetrying does (the old launcher may not have ended
// yet). 0 or the last error; the copy is removed when it fails.
DWORD PutCopyInPlace(const std::string& copy, const std::string& destination);
