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

SignatureCheck CheckSignedText(const std::string& body, const std::string& header,
                               const std::vector<PublicPoint>& keys) {
  std::vector<KeyId> ids;
  ids.reserve(keys.size());
  for (const PublicPoint& key : keys) ids.push_back(KeyIdOf(key));
  size_t index = 0;
  RawSignature signature{};
  const SignatureCheck selected = SelectKey(header, ids, index, signature);
  if (selected != SignatureCheck::Verified) return selected;
  Digest digest{};
  if (!Sha256Of(body, digest)) return SignatureCheck::Altered;  // cannot be shown to fit
  return VerifyP256(keys[index], digest, signature) == 0 ? SignatureCheck::Verified
                                                          : SignatureCheck::Altered;
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
  }
  return "?";
}

}  // namespace trust
