// The publishing tool's cryptography over OpenSSL's libcrypto: the P-256 key
// pair, SHA-256, and signing and verifying documents of a kind exactly as the
// launcher verifies them (the kinds and the signed line: document_role.h;
// the signature header: trust_text.h). Other commands of the tool (and the
// site checks) call these.
#pragma once

#include <openssl/evp.h>

#include <memory>
#include <string>
#include <vector>

#include "document_role.h"
#include "trust_text.h"

namespace publish {

using PkeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

PkeyPtr ReadPrivateKey(const std::string& path);
PkeyPtr ReadPublicKey(const std::string& path);
// X||Y of a P-256 key (private or public); fails for any other key.
trust::PublicPoint PointOf(EVP_PKEY* key);
trust::KeyId KeyIdOf(const trust::PublicPoint& point);
std::string KeyIdText(EVP_PKEY* key);

trust::Digest Sha256(const std::string& bytes);
// SHA-256 and size of a file, read in 64 KiB pieces.
trust::Digest FileDigest(const std::string& path, long long& size);

// The signature header ("k=<key id>; s=<base64 DER>") of `body` signed as a
// document of `role`.
std::string SignDocument(EVP_PKEY* key, trust::DocumentRole role, const std::string& body);

// Checks `header` for `body` against `key`, as a document of one of `roles`
// (every kind when empty). True with the kind it fits in `role`; false with
// what failed in `why` (naming the kind when it fits another one).
bool VerifyDocument(EVP_PKEY* key, const std::string& body, const std::string& header,
                    const std::vector<trust::DocumentRole>& roles, trust::DocumentRole& role,
                    std::string& why);

// Makes a key pair in `folder` (never overwriting one); prints where.
int KeyGen(const std::string& folder);

}  // namespace publish
