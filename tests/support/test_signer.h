// Signing replies in the tests as the operator's publishing tool does: ECDSA
// P-256 over SHA-256 through bcrypt, with a fresh key or with the test build's
// key (build/<arch>/trust/config-signing.key, compiled into the trusted tests).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "document_role.h"
#include "trust_text.h"

namespace testing_support {

class TestSigner {
 public:
  // A key made now, known to nobody else.
  static TestSigner NewKey();
  // A key pair given as X||Y||d (96 bytes).
  static TestSigner FromKeyPair(const uint8_t* xyd);

  TestSigner(TestSigner&&) noexcept;
  TestSigner& operator=(TestSigner&&) noexcept;
  ~TestSigner();

  bool Valid() const { return key_ != nullptr; }
  const trust::PublicPoint& Public() const { return public_; }
  trust::KeyId Id() const;
  trust::RawSignature Sign(const std::string& bytes) const;
  // The X-Lumora-Signature header's value for `bytes` as they are (DER in
  // base64): no kind of document named, as a careless signer would sign.
  std::string Header(const std::string& bytes) const;
  // The header of `body` signed as a document of `role`, as the operator's
  // publishing tool signs.
  std::string Header(const std::string& body, trust::DocumentRole role) const {
    return Header(trust::SignedBytes(role, body));
  }

 private:
  TestSigner() = default;
  void* algorithm_ = nullptr;
  void* key_ = nullptr;
  trust::PublicPoint public_{};
};

}  // namespace testing_support
