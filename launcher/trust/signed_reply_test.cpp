#include "signed_reply.h"

#include <gtest/gtest.h>
#include <windows.h>

#include "bcrypt_trust.h"
#include "scoped_handle.h"
#include "test_signer.h"
#include "test_support.h"

namespace trust {
namespace {

using testing_support::TestSigner;

std::string DigestOf(const std::string& bytes) {
  Digest digest{};
  EXPECT_TRUE(Sha256Of(bytes, digest));
  return DigestText(digest);
}

TEST(Sha256, KnownDigestsInMemoryAndStreamedFromFiles) {
  EXPECT_EQ(DigestOf(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(DigestOf("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");

  // Files around the 64 KiB piece size hash like the same bytes in memory.
  testing_support::TempDir dir(testing_support::TempName::kChinese);
  for (size_t size : {size_t{0}, size_t{3}, size_t{65536}, size_t{65537}, size_t{3 * 65536 + 17}}) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 131 + 7);
    const std::string path = dir.Path() + "\\包淺.bin";
    ASSERT_TRUE(testing_support::WriteFileBytes(path, bytes));
    ScopedHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file) << GetLastError();
    Digest digest{};
    int64_t read = -1;
    unsigned long error = 1;
    ASSERT_TRUE(Sha256OfFile(file.Get(), digest, read, error)) << error;
    EXPECT_EQ(read, static_cast<int64_t>(size));
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(DigestText(digest), DigestOf(bytes)) << size;
  }
}

TEST(Sha256, AFileThatCannotBeReadReportsItsError) {
  testing_support::TempDir dir;
  const std::string path = dir.Path() + "\\w.bin";
  ASSERT_TRUE(testing_support::WriteFileBytes(path, "abc"));
  // Opened for writing only: reading fails.
  ScopedHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(file);
  Digest digest{};
  int64_t read = 0;
  unsigned long error = 0;
  EXPECT_FALSE(Sha256OfFile(file.Get(), digest, read, error));
  EXPECT_NE(error, 0u);
}

TEST(SignedReply, EachWayOfFailingIsToldApart) {
  TestSigner signer = TestSigner::NewKey();
  TestSigner other = TestSigner::NewKey();
  ASSERT_TRUE(signer.Valid() && other.Valid());
  const DocumentRole kReply = DocumentRole::ConfigReply;
  const std::string body = "{\"code\":1,\"version\":7,\"url\":\"https://x/配置淺.json\"}";
  const std::vector<PublicPoint> keys = {other.Public(), signer.Public()};
  const std::string header = signer.Header(body, kReply);

  EXPECT_EQ(CheckSignedText(body, header, keys, kReply), SignatureCheck::Verified);
  // The same signature as raw r||s.
  const RawSignature raw = signer.Sign(SignedBytes(kReply, body));
  const std::string rawHeader =
      "k=" + HexText(signer.Id().data(), 8) + "; s=" +
      EncodeBase64(std::string(reinterpret_cast<const char*>(raw.data()), raw.size()));
  EXPECT_EQ(CheckSignedText(body, rawHeader, keys, kReply), SignatureCheck::Verified);

  EXPECT_EQ(CheckSignedText(body, "", keys, kReply), SignatureCheck::Missing);
  EXPECT_EQ(CheckSignedText(body, header.substr(0, header.size() - 8), keys, kReply),
            SignatureCheck::Malformed);
  EXPECT_EQ(CheckSignedText(body, header, {other.Public()}, kReply), SignatureCheck::WrongKey);
  EXPECT_EQ(CheckSignedText(body, TestSigner::NewKey().Header(body, kReply), keys, kReply),
            SignatureCheck::WrongKey);
  // One byte changed anywhere in the body, or a byte added or taken away.
  for (size_t at : {size_t{0}, body.size() / 2, body.size() - 1}) {
    std::string altered = body;
    altered[at] = static_cast<char>(altered[at] ^ 0x01);
    EXPECT_EQ(CheckSignedText(altered, header, keys, kReply), SignatureCheck::Altered) << at;
  }
  EXPECT_EQ(CheckSignedText(body + " ", header, keys, kReply), SignatureCheck::Altered);
  EXPECT_EQ(CheckSignedText(body.substr(1), header, keys, kReply), SignatureCheck::Altered);
  // A signature of another text by the right key, claiming this key's id.
  EXPECT_EQ(CheckSignedText(body, signer.Header(body + "x", kReply), keys, kReply),
            SignatureCheck::Altered);
  // A key id of a built-in key with another key's signature.
  const RawSignature foreign = other.Sign(SignedBytes(kReply, body));
  EXPECT_EQ(CheckSignedText(body, SignatureHeaderText(signer.Id(), foreign), keys, kReply),
            SignatureCheck::Altered);
  // The bytes alone, signed without naming a kind, count for none.
  EXPECT_EQ(CheckSignedText(body, signer.Header(body), keys, kReply), SignatureCheck::Altered);
  // Nothing verifies without keys.
  EXPECT_EQ(CheckSignedText(body, header, {}, kReply), SignatureCheck::WrongKey);
}

TEST(SignedReply, ADocumentSignedAsOneKindNeverVerifiesAsAnother) {
  TestSigner signer = TestSigner::NewKey();
  ASSERT_TRUE(signer.Valid());
  const std::vector<PublicPoint> keys = {signer.Public()};
  const std::string body = "{\"op\":\"MsgBox\",\"text\":\"淺\"}";
  for (DocumentRole signedAs : kAllRoles) {
    const std::string header = signer.Header(body, signedAs);
    for (DocumentRole checkedAs : kAllRoles) {
      DocumentRole matched = checkedAs;
      const SignatureCheck check = CheckSignedDocument(body, header, keys, {checkedAs}, &matched);
      if (signedAs == checkedAs) {
        EXPECT_EQ(check, SignatureCheck::Verified) << RoleName(signedAs);
      } else {
        // Refused, and told which kind it is.
        EXPECT_EQ(check, SignatureCheck::WrongRole) << RoleName(signedAs) << " as "
                                                    << RoleName(checkedAs);
      }
      EXPECT_EQ(matched, signedAs);
    }
  }
  // The configuration endpoint's two kinds: either one, and which it was.
  for (DocumentRole kind : {DocumentRole::ConfigReply, DocumentRole::LauncherUpdate}) {
    DocumentRole matched = DocumentRole::CallAnswer;
    EXPECT_EQ(CheckSignedDocument(body, signer.Header(body, kind), keys,
                                  {DocumentRole::ConfigReply, DocumentRole::LauncherUpdate},
                                  &matched),
              SignatureCheck::Verified);
    EXPECT_EQ(matched, kind);
  }
  // Altered bytes are altered, not of another kind.
  EXPECT_EQ(CheckSignedDocument(body + " ", signer.Header(body, DocumentRole::ConfigData), keys,
                                {DocumentRole::ConfigReply}),
            SignatureCheck::Altered);
}

TEST(DocumentRole, TheSignedLineNamesTheKindAndTheNamesReadBack) {
  EXPECT_EQ(SignedBytes(DocumentRole::ConfigData, "{}"), "LUMORA/1 config-data\n{}");
  EXPECT_EQ(RolePrefix(DocumentRole::ConfigReply), "LUMORA/1 config-reply\n");
  EXPECT_EQ(RolePrefix(DocumentRole::LauncherUpdate), "LUMORA/1 launcher-update\n");
  EXPECT_EQ(RolePrefix(DocumentRole::CallAnswer), "LUMORA/1 call-answer\n");
  for (DocumentRole role : kAllRoles) {
    DocumentRole read = DocumentRole::CallAnswer;
    ASSERT_TRUE(RoleFromName(RoleName(role), read));
    EXPECT_EQ(read, role);
  }
  DocumentRole read = DocumentRole::ConfigData;
  for (const char* bad : {"", "config", "Config-Reply", "config-reply ", "call-answer\n"})
    EXPECT_FALSE(RoleFromName(bad, read)) << bad;
  EXPECT_EQ(read, DocumentRole::ConfigData);
}

TEST(SignedReply, KeyIdsAreTheFirstEightBytesOfTheDigestOfThePoint) {
  PublicPoint point{};
  for (size_t i = 0; i < point.size(); ++i) point[i] = static_cast<uint8_t>(i);
  const KeyId id = KeyIdOf(point);
  Digest digest{};
  ASSERT_TRUE(Sha256Of(std::string(reinterpret_cast<const char*>(point.data()), 64), digest));
  EXPECT_EQ(HexText(id.data(), id.size()), DigestText(digest).substr(0, 16));
  // SHA-256 of the bytes 0..63 (sha256sum of that file).
  EXPECT_EQ(DigestText(digest), "fdeab9acf3710362bd2658cdc9a29e8f9c757fcf9811603a8c447cd1d9151108");
}

}  // namespace
}  // namespace trust
