#include "publish_crypto.h"

#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "publish_files.h"

namespace publish {

namespace {

using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

// The DER prefix of a P-256 SubjectPublicKeyInfo up to the point's 0x04.
const unsigned char kSpkiPrefix[] = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48,
                                     0xce, 0x3d, 0x02, 0x01, 0x06, 0x08, 0x2a, 0x86, 0x48,
                                     0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00, 0x04};

const unsigned char* Bytes(const std::string& text) {
  return reinterpret_cast<const unsigned char*>(text.data());
}

// True when the DER signature `der` by `key` fits `bytes`.
bool Fits(EVP_PKEY* key, const std::string& der, const std::string& bytes) {
  MdCtxPtr context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  return EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, key) == 1 &&
         EVP_DigestVerify(context.get(), Bytes(der), der.size(), Bytes(bytes), bytes.size()) == 1;
}

std::string AbsolutePath(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return path;
  const std::string absolute(resolved);
  std::free(resolved);
  return absolute;
}

}  // namespace

PkeyPtr ReadPrivateKey(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) Fail("cannot read " + path);
  EVP_PKEY* key = PEM_read_PrivateKey(f, nullptr, nullptr, nullptr);
  std::fclose(f);
  if (key == nullptr) Fail(path + " is not a PEM private key");
  return PkeyPtr(key, EVP_PKEY_free);
}

PkeyPtr ReadPublicKey(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) Fail("cannot read " + path);
  EVP_PKEY* key = PEM_read_PUBKEY(f, nullptr, nullptr, nullptr);
  std::fclose(f);
  if (key == nullptr) Fail(path + " is not a PEM public key");
  return PkeyPtr(key, EVP_PKEY_free);
}

trust::PublicPoint PointOf(EVP_PKEY* key) {
  unsigned char* der = nullptr;
  const int length = i2d_PUBKEY(key, &der);
  std::unique_ptr<unsigned char, void (*)(unsigned char*)> owner(
      der, [](unsigned char* p) { OPENSSL_free(p); });
  if (length != 91 || std::memcmp(der, kSpkiPrefix, sizeof kSpkiPrefix) != 0)
    Fail("the key is not an ECDSA P-256 (prime256v1) key");
  trust::PublicPoint point{};
  std::memcpy(point.data(), der + sizeof kSpkiPrefix, point.size());
  return point;
}

trust::Digest Sha256(const std::string& bytes) {
  trust::Digest digest{};
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1)
    Fail("SHA-256 failed");
  return digest;
}

trust::KeyId KeyIdOf(const trust::PublicPoint& point) {
  const trust::Digest digest =
      Sha256(std::string(reinterpret_cast<const char*>(point.data()), point.size()));
  trust::KeyId id{};
  std::memcpy(id.data(), digest.data(), id.size());
  return id;
}

std::string KeyIdText(EVP_PKEY* key) {
  const trust::KeyId id = KeyIdOf(PointOf(key));
  return trust::HexText(id.data(), id.size());
}

trust::Digest FileDigest(const std::string& path, long long& size) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) Fail("cannot read " + path);
  MdCtxPtr context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr);
  std::vector<char> buffer(64 * 1024);
  size = 0;
  size_t got;
  while ((got = std::fread(buffer.data(), 1, buffer.size(), f)) > 0) {
    EVP_DigestUpdate(context.get(), buffer.data(), got);
    size += static_cast<long long>(got);
  }
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) Fail("cannot read " + path);
  trust::Digest digest{};
  unsigned int length = 0;
  EVP_DigestFinal_ex(context.get(), digest.data(), &length);
  return digest;
}

std::string SignDocument(EVP_PKEY* key, trust::DocumentRole role, const std::string& body) {
  const std::string bytes = trust::SignedBytes(role, body);
  MdCtxPtr context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  size_t length = 0;
  if (EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key) != 1 ||
      EVP_DigestSign(context.get(), nullptr, &length, Bytes(bytes), bytes.size()) != 1)
    Fail("signing failed");
  std::string der(length, '\0');
  if (EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(&der[0]), &length,
                     Bytes(bytes), bytes.size()) != 1)
    Fail("signing failed");
  der.resize(length);
  trust::RawSignature raw{};
  if (!trust::DerToRaw(der, raw)) Fail("OpenSSL wrote a signature that is not strict DER");
  return trust::SignatureHeaderText(KeyIdOf(PointOf(key)), raw);
}

bool VerifyDocument(EVP_PKEY* key, const std::string& body, const std::string& header,
                    const std::vector<trust::DocumentRole>& roles, trust::DocumentRole& role,
                    std::string& why) {
  trust::SignatureHeader parsed;
  switch (trust::ParseSignatureHeader(header, parsed)) {
    case trust::HeaderError::Missing:
      why = "no signature";
      return false;
    case trust::HeaderError::Malformed:
      why = "the signature text is malformed";
      return false;
    case trust::HeaderError::None:
      break;
  }
  if (parsed.keyId != KeyIdOf(PointOf(key))) {
    why = "signed with another key (key id " +
          trust::HexText(parsed.keyId.data(), parsed.keyId.size()) + ")";
    return false;
  }
  const std::string der = trust::RawToDer(parsed.signature);
  const std::vector<trust::DocumentRole> wanted =
      roles.empty() ? std::vector<trust::DocumentRole>(std::begin(trust::kAllRoles),
                                                       std::end(trust::kAllRoles))
                    : roles;
  for (trust::DocumentRole candidate : wanted) {
    if (Fits(key, der, trust::SignedBytes(candidate, body))) {
      role = candidate;
      return true;
    }
  }
  for (trust::DocumentRole other : trust::kAllRoles) {
    if (Fits(key, der, trust::SignedBytes(other, body))) {
      why = std::string("signed as another kind of document (") + trust::RoleName(other) + ")";
      return false;
    }
  }
  why = Fits(key, der, body) ? "signed without naming a kind of document (the bytes alone)"
                             : "the bytes do not fit the signature (altered)";
  return false;
}

int KeyGen(const std::string& folder) {
  mkdir(folder.c_str(), 0700);
  const std::string privatePath = JoinPath(folder, "config-signing.key");
  const std::string publicPath = JoinPath(folder, "config-signing.pub.pem");
  if (Exists(privatePath)) Fail(privatePath + " exists; not overwritten");
  PkeyPtr key(EVP_EC_gen("P-256"), EVP_PKEY_free);
  if (!key) Fail("key generation failed");
  for (const auto& out : {std::make_pair(privatePath, true), std::make_pair(publicPath, false)}) {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
    const int ok = out.second ? PEM_write_bio_PrivateKey(bio.get(), key.get(), nullptr, nullptr, 0,
                                                         nullptr, nullptr)
                              : PEM_write_bio_PUBKEY(bio.get(), key.get());
    if (ok != 1) Fail("cannot write the key");
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    WriteFile(out.first, std::string(data, static_cast<size_t>(length)), out.second ? 0600 : 0644);
  }
  // Absolute paths: the build keeps the public key's path in its cache and
  // reads it again from its own folder.
  const std::string publicAbsolute = AbsolutePath(publicPath);
  std::cout << "private key: " << AbsolutePath(privatePath)
            << " (keep it offline; never on the web server)\n"
            << "public key:  " << publicAbsolute << " (give it to the launcher's build: "
            << "-DLUMORA_CONFIG_PUBLIC_KEY=" << publicAbsolute << ")\n"
            << "key id:      " << KeyIdText(key.get()) << "\n";
  return 0;
}

}  // namespace publish
