// SHA-256 and ECDSA P-256 verification through the system's bcrypt, written
// for Windows 7 and later: the hash object lives in a buffer of the size the
// provider reports (BCRYPT_OBJECT_LENGTH), no pseudo-handles, no one-call
// hash. Each call reports the system's status on failure.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "trust_text.h"

namespace trust {

// A SHA-256 computation fed in pieces.
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  // False (and Status() set) when the provider could not be opened.
  bool Ready() const { return ready_; }
  bool Update(const void* data, size_t size);
  // Ends the computation; the object cannot be fed again.
  bool Finish(Digest& digest);
  long Status() const { return status_; }  // NTSTATUS of the last failure

 private:
  void* algorithm_ = nullptr;
  void* hash_ = nullptr;
  std::vector<uint8_t> object_;
  bool ready_ = false;
  long status_ = 0;
};

// SHA-256 of bytes in memory; false when bcrypt failed.
bool Sha256Of(const std::string& bytes, Digest& digest);

// Reads an open file from its current position to its end in 64 KiB pieces
// and hashes it; `size` is the number of bytes read. On failure `error`
// holds the Win32 error of the read or the NTSTATUS of the hash.
bool Sha256OfFile(HANDLE file, Digest& digest, int64_t& size, unsigned long& error);

// The key id of a public key: the first 8 bytes of SHA-256 over X||Y.
KeyId KeyIdOf(const PublicPoint& key);

// Verifies an ECDSA P-256 signature (r||s) over a SHA-256 digest with the
// public key X||Y. 0 when valid, otherwise the NTSTATUS bcrypt gave
// (0xC000A000, STATUS_INVALID_SIGNATURE, for a signature that does not fit).
long VerifyP256(const PublicPoint& key, const Digest& digest, const RawSignature& signature);

}  // namespace trust
