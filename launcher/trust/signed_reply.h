// Checking the signature that travels with a reply of the operator (the
// configuration reply, the configuration data, the launcher-update reply, any
// reply run as an operation call) against the public keys built into the
// launcher. The signature covers the line naming the document's kind and the
// reply's exact bytes as received (document_role.h).
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <vector>

#include "document_role.h"
#include "trust_text.h"

namespace trust {

enum class SignatureCheck {
  Verified,
  Missing,    // the reply came without a signature
  Malformed,  // the signature text cannot be read
  WrongKey,   // signed with a key that is not built in
  Altered,    // the key is built in, but the signature does not fit the bytes
  WrongRole,  // a valid signature, but of another kind of document
};

// The key a signature header names, out of keys known by their ids; the
// part of the check that needs no cryptography. On Verified, `index` is the
// position of the key and `signature` the signature to verify.
SignatureCheck SelectKey(const std::string& header, const std::vector<KeyId>& ids, size_t& index,
                         RawSignature& signature);

// The whole check of `body` with its header against `keys`, as a document of
// one of the `accepted` kinds (tried in order). On Verified `matched` (when
// given) is the kind that fits; on WrongRole the kind it was signed as. The
// other kinds are tried only after the accepted ones failed, so a good
// document costs one verification.
SignatureCheck CheckSignedDocument(const std::string& body, const std::string& header,
                                   const std::vector<PublicPoint>& keys,
                                   std::initializer_list<DocumentRole> accepted,
                                   DocumentRole* matched = nullptr);

// The check as a document of one kind.
SignatureCheck CheckSignedText(const std::string& body, const std::string& header,
                               const std::vector<PublicPoint>& keys, DocumentRole role);

// What a failed check means, for the log (code page 936).
const char* SignatureCheckText(SignatureCheck check);

}  // namespace trust
