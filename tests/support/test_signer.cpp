#include "test_signer.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstring>
#include <utility>
#include <vector>

#include "bcrypt_trust.h"

namespace testing_support {

namespace {

void* OpenEcdsa() {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM,
                                                  nullptr, 0)))
    return nullptr;
  return algorithm;
}

}  // namespace

TestSigner TestSigner::NewKey() {
  TestSigner signer;
  signer.algorithm_ = OpenEcdsa();
  if (signer.algorithm_ == nullptr) return signer;
  BCRYPT_KEY_HANDLE key = nullptr;
  if (!BCRYPT_SUCCESS(BCryptGenerateKeyPair(signer.algorithm_, &key, 256, 0))) return signer;
  if (!BCRYPT_SUCCESS(BCryptFinalizeKeyPair(key, 0))) {
    BCryptDestroyKey(key);
    return signer;
  }
  uint8_t blob[sizeof(BCRYPT_ECCKEY_BLOB) + 64];
  ULONG size = 0;
  if (!BCRYPT_SUCCESS(BCryptExportKey(key, nullptr, BCRYPT_ECCPUBLIC_BLOB, blob, sizeof blob, &size,
                                      0)) ||
      size != sizeof blob) {
    BCryptDestroyKey(key);
    return signer;
  }
  std::memcpy(signer.public_.data(), blob + sizeof(BCRYPT_ECCKEY_BLOB), 64);
  signer.key_ = key;
  return signer;
}

TestSigner TestSigner::FromKeyPair(const uint8_t* xyd) {
  TestSigner signer;
  signer.algorithm_ = OpenEcdsa();
  if (signer.algorithm_ == nullptr) return signer;
  uint8_t blob[sizeof(BCRYPT_ECCKEY_BLOB) + 96];
  BCRYPT_ECCKEY_BLOB head{};
  head.dwMagic = BCRYPT_ECDSA_PRIVATE_P256_MAGIC;
  head.cbKey = 32;
  std::memcpy(blob, &head, sizeof head);
  std::memcpy(blob + sizeof head, xyd, 96);
  BCRYPT_KEY_HANDLE key = nullptr;
  if (!BCRYPT_SUCCESS(BCryptImportKeyPair(signer.algorithm_, nullptr, BCRYPT_ECCPRIVATE_BLOB, &key,
                                          blob, sizeof blob, 0)))
    return signer;
  std::memcpy(signer.public_.data(), xyd, 64);
  signer.key_ = key;
  return signer;
}

TestSigner::TestSigner(TestSigner&& other) noexcept
    : algorithm_(std::exchange(other.algorithm_, nullptr)),
      key_(std::exchange(other.key_, nullptr)),
      public_(other.public_) {}

TestSigner& TestSigner::operator=(TestSigner&& other) noexcept {
  if (this != &other) {
    this->~TestSigner();
    algorithm_ = std::exchange(other.algorithm_, nullptr);
    key_ = std::exchange(other.key_, nullptr);
    public_ = other.public_;
  }
  return *this;
}

TestSigner::~TestSigner() {
  if (key_ != nullptr) BCryptDestroyKey(key_);
  if (algorithm_ != nullptr) BCryptCloseAlgorithmProvider(algorithm_, 0);
  key_ = algorithm_ = nullptr;
}

trust::KeyId TestSigner::Id() const { return trust::KeyIdOf(public_); }

trust::RawSignature TestSigner::Sign(const std::string& bytes) const {
  trust::RawSignature signature{};
  trust::Digest digest{};
  if (key_ == nullptr || !trust::Sha256Of(bytes, digest)) return signature;
  ULONG size = 0;
  BCryptSignHash(key_, nullptr, digest.data(), static_cast<ULONG>(digest.size()), signature.data(),
                 static_cast<ULONG>(signature.size()), &size, 0);
  return signature;
}

std::string TestSigner::Header(const std::string& bytes) const {
  return trust::SignatureHeaderText(Id(), Sign(bytes));
}

}  // namespace testing_support
