#include "signed_reply.h"

#include "bcrypt_trust.h"

namespace trust {

SignatureCheck SelectKey(const std::string& header, const std::vector<KeyId>& ids, size_t& index,
                         RawSignature& signature) {
  SignatureHeader parsed;
  switch (ParseSignatureHeader(header, parsed)) {
    case HeaderError::Missing:
      return SignatureCheck::Missing;
    case HeaderError::Malformed:
      return SignatureCheck::Malformed;
    case HeaderError::None:
      break;
  }
  for (size_t i = 0; i < ids.size(); ++i) {
    if (ids[i] == parsed.keyId) {
      index = i;
      signature = parsed.signature;
      return SignatureCheck::Verified;
    }
  }
  return SignatureCheck::WrongKey;
}

namespace {

// True when `signature` by `key` fits `body` signed as `role`.
bool Fits(const PublicPoint& key, const RawSignature& signature, DocumentRole role,
          const std::string& body) {
  const std::string prefix = RolePrefix(role);
  Sha256 hash;
  Digest digest{};
  if (!hash.Ready() || !hash.Update(prefix.data(), prefix.size()) ||
      !hash.Update(body.data(), body.size()) || !hash.Finish(digest))
    return false;  // cannot be shown to fit
  return VerifyP256(key, digest, signature) == 0;
}

}  // namespace

SignatureCheck CheckSignedDocument(const std::string& body, const std::string& header,
                                   const std::vector<PublicPoint>& keys,
                                   std::initializer_list<DocumentRole> accepted,
                                   DocumentRole* matched) {
  std::vector<KeyId> ids;
  ids.reserve(keys.size());
  for (const PublicPoint& key : keys) ids.push_back(KeyIdOf(key));
  size_t index = 0;
  RawSignature signature{};
  const SignatureCheck selected = SelectKey(header, ids, index, signature);
  if (selected != SignatureCheck::Verified) return selected;
  for (DocumentRole role : accepted) {
    if (Fits(keys[index], signature, role, body)) {
      if (matched != nullptr) *matched = role;
      return SignatureCheck::Verified;
    }
  }
  // Not one of the kinds asked for: say so when it is another kind's.
  for (DocumentRole role : kAllRoles) {
    bool tried = false;
    for (DocumentRole a : accepted) tried = tried || a == role;
    if (!tried && Fits(keys[index], signature, role, body)) {
      if (matched != nullptr) *matched = role;
      return SignatureCheck::WrongRole;
    }
  }
  return SignatureCheck::Altered;
}

SignatureCheck CheckSignedText(const std::string& body, const std::string& header,
                               const std::vector<PublicPoint>& keys, DocumentRole role) {
  return CheckSignedDocument(body, header, keys, {role});
}

const char* SignatureCheckText(SignatureCheck check) {
  switch (check) {
    case SignatureCheck::Verified:
      return "签名有效";
    case SignatureCheck::Missing:
      return "缺少签名";
    case SignatureCheck::Malformed:
      return "签名格式错误";
    case SignatureCheck::WrongKey:
      return "签名密钥不符";
    case SignatureCheck::Altered:
      return "内容与签名不符";
    case SignatureCheck::WrongRole:
      return "文档类型不符";
  }
  return "?";
}

}  // namespace trust
