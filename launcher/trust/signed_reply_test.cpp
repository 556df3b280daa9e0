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
  const std::string body = "{\"code\":1,\"version\":7,\"url\":\"https://x/配置淺.json\"}";
  const std::vector<PublicPoint> keys = {other.Public(), signer.Public()};
  const std::string header = signer.Header(body);

  EXPECT_EQ(CheckSignedText(body, header, keys), SignatureCheck::Verified);
  // The same signature as raw r||s.
  const RawSignature raw = signer.Sign(body);
  const std::string rawHeader =
      "k=" + HexText(signer.Id().data(), 8) + "; s=" +
      EncodeBase64(std::string(reinterpret_cast<const char*>(raw.data()), raw.size()));
  EXPECT_EQ(CheckSignedText(body, rawHeader, keys), SignatureCheck::Verified);

  EXPECT_EQ(CheckSignedText(body, "", keys), SignatureCheck::Missing);
  EXPECT_EQ(CheckSignedText(body, header.substr(0, header.size() - 8), keys),
            SignatureCheck::Malformed);
  EXPECT_EQ(CheckSignedText(body, header, {other.Public()}), SignatureCheck::WrongKey);
  EXPECT_EQ(CheckSignedText(body, TestSigner::NewKey().Header(body), keys),
            SignatureCheck::WrongKey);
  // One byte changed anywhere in the body, or a byte added or taken away.
  for (size_t at : {size_t{0}, body.size() / 2, body.size() - 1}) {
    std::string altered = body;
    altered[at] = static_cast<char>(altered[at] ^ 0x01);
    EXPECT_EQ(CheckSignedText(altered, header, keys), SignatureCheck::Altered) << at;
  }
  EXPECT_EQ(CheckSignedText(body + " ", header, keys), SignatureCheck::Altered);
  EXPECT_EQ(CheckSignedText(body.substr(1), header, keys), SignatureCheck::Altered);
  // A signature of another text by the right key, claiming this key's id.
  EXPECT_EQ(CheckSignedText(body, signer.Header(body + "x"), keys), SignatureCheck::Altered);
  // A key id of a built-in key with another key's signature.
  const RawSignature foreign = other.Sign(body);
  EXPECT_EQ(CheckSignedText(body, SignatureHeaderText(signer.Id(), foreign), keys),
            SignatureCheck::Altered);
  // Nothing verifies without keys.
  EXPECT_EQ(CheckSignedText(body, header, {}), SignatureCheck::WrongKey);
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
