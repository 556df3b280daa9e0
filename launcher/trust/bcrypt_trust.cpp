#include "bcrypt_trust.h"

#include <bcrypt.h>

#include <cstring>

namespace trust {

namespace {

constexpr DWORD kFilePiece = 64 * 1024;

struct AlgorithmOwner {
  BCRYPT_ALG_HANDLE handle = nullptr;
  ~AlgorithmOwner() {
    if (handle != nullptr) BCryptCloseAlgorithmProvider(handle, 0);
  }
};

struct KeyOwner {
  BCRYPT_KEY_HANDLE handle = nullptr;
  ~KeyOwner() {
    if (handle != nullptr) BCryptDestroyKey(handle);
  }
};

}  // namespace

Sha256::Sha256() {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  status_ = BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
  if (!BCRYPT_SUCCESS(status_)) return;
  algorithm_ = algorithm;
  DWORD objectLength = 0;
  ULONG got = 0;
  status_ = BCryptGetProperty(algorithm, BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&objectLength),
                              sizeof objectLength, &got, 0);
  if (!BCRYPT_SUCCESS(status_)) return;
  object_.resize(objectLength);
  BCRYPT_HASH_HANDLE hash = nullptr;
  status_ = BCryptCreateHash(algorithm, &hash, object_.data(), static_cast<ULONG>(object_.size()),
                             nullptr, 0, 0);
  if (!BCRYPT_SUCCESS(status_)) return;
  hash_ = hash;
  ready_ = true;
}

Sha256::~Sha256() {
  if (hash_ != nullptr) BCryptDestroyHash(hash_);
  if (algorithm_ != nullptr) BCryptCloseAlgorithmProvider(algorithm_, 0);
}

bool Sha256::Update(const void* data, size_t size) {
  if (!ready_) return false;
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  while (size > 0) {
    const ULONG piece = static_cast<ULONG>(size > kFilePiece ? kFilePiece : size);
    status_ = BCryptHashData(hash_, const_cast<PUCHAR>(bytes), piece, 0);
    if (!BCRYPT_SUCCESS(status_)) {
      ready_ = false;
      return false;
    }
    bytes += piece;
    size -= piece;
  }
  return true;
}

bool Sha256::Finish(Digest& digest) {
  if (!ready_) return false;
  ready_ = false;
  status_ = BCryptFinishHash(hash_, digest.data(), static_cast<ULONG>(digest.size()), 0);
  return BCRYPT_SUCCESS(status_);
}

bool Sha256Of(const std::string& bytes, Digest& digest) {
  Sha256 hash;
  return hash.Update(bytes.data(), bytes.size()) && hash.Finish(digest);
}

bool Sha256OfFile(HANDLE file, Digest& digest, int64_t& size, unsigned long& error) {
  size = 0;
  error = 0;
  Sha256 hash;
  if (!hash.Ready()) {
    error = static_cast<unsigned long>(hash.Status());
    return false;
  }
  std::vector<uint8_t> buffer(kFilePiece);
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file, buffer.data(), kFilePiece, &got, nullptr)) {
      error = GetLastError();
      return false;
    }
    if (got == 0) break;
    if (!hash.Update(buffer.data(), got)) {
      error = static_cast<unsigned long>(hash.Status());
      return false;
    }
    size += got;
  }
  if (!hash.Finish(digest)) {
    error = static_cast<unsigned long>(hash.Status());
    return false;
  }
  return true;
}

KeyId KeyIdOf(const PublicPoint& key) {
  Digest digest{};
  KeyId id{};
  if (Sha256Of(std::string(reinterpret_cast<const char*>(key.data()), key.size()), digest))
    std::memcpy(id.data(), digest.data(), id.size());
  return id;
}

long VerifyP256(const PublicPoint& key, const Digest& digest, const RawSignature& signature) {
  AlgorithmOwner algorithm;
  NTSTATUS status =
      BCryptOpenAlgorithmProvider(&algorithm.handle, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0);
  if (!BCRYPT_SUCCESS(status)) return status;
  // BCRYPT_ECCKEY_BLOB {magic, cbKey} followed by X and Y.
  uint8_t blob[sizeof(BCRYPT_ECCKEY_BLOB) + 64];
  BCRYPT_ECCKEY_BLOB head{};
  head.dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
  head.cbKey = 32;
  std::memcpy(blob, &head, sizeof head);
  std::memcpy(blob + sizeof head, key.data(), key.size());
  KeyOwner imported;
  status = BCryptImportKeyPair(algorithm.handle, nullptr, BCRYPT_ECCPUBLIC_BLOB, &imported.handle,
                               blob, sizeof blob, 0);
  if (!BCRYPT_SUCCESS(status)) return status;
  status = BCryptVerifySignature(imported.handle, nullptr, const_cast<PUCHAR>(digest.data()),
                                 static_cast<ULONG>(digest.size()),
                                 const_cast<PUCHAR>(signature.data()),
                                 static_cast<ULONG>(signature.size()), 0);
  return status;
}

}  // namespace trust
