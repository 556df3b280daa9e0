// Checking the signature that travels with a reply of the operator (the
// configuration reply, the configuration data, any reply run as an operation
// call) against the public keys built into the launcher. The signature covers
// the reply's exact bytes as received.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "trust_text.h"

namespace trust {

enum class SignatureCheck {
  Verified,
  Missing,    // the reply came without a signature
  Malformed,  // the signature text cannot be read
  WrongKey,   // signed with a key that is not built in
  Altered,    // the key is built in, but the signature does not fit the bytes
};

// The key a signature header names, out of keys known by their ids; the
// part of the check that needs no cryptography. On Verified, `index` is the
// position of the key and `signature` the signature to verify.
SignatureCheck SelectKey(const std::string& header, const std::vector<KeyId>& ids, size_t& index,
                         RawSignature& signature);

// The whole check of `body` with its header against `keys`.
SignatureCheck CheckSignedText(const std::string& body, const std::string& header,
                               const std::vector<PublicPoint>& keys);

// What a failed check means, for the log (code page 936).
const char* SignatureCheckText(SignatureCheck check);

}  // namespace trust
