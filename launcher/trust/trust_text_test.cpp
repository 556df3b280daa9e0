#include "trust_text.h"

#include <gtest/gtest.h>

namespace trust {
namespace {

std::string Bytes(std::initializer_list<int> list) {
  std::string out;
  for (int b : list) out.push_back(static_cast<char>(b));
  return out;
}

RawSignature Counting(uint8_t first) {
  RawSignature raw{};
  for (size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<uint8_t>(first + i);
  return raw;
}

TEST(TrustText, Base64IsStrictAndRoundTrips) {
  std::string bytes;
  for (const char* text : {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "+/+/"}) {
    ASSERT_TRUE(DecodeBase64(text, bytes)) << text;
    EXPECT_EQ(EncodeBase64(bytes), text);
  }
  EXPECT_TRUE(DecodeBase64("Zm9vYmFy", bytes));
  EXPECT_EQ(bytes, "foobar");
  // Wrong length, foreign characters, URL-safe alphabet, blanks, padding
  // inside or three long, bits left over after the last byte.
  for (const char* text : {"Zg", "Zg=", "Zm9vY", "Zm9v\n", "Zm 9", "Zm-_", "Zg==Zg==", "Z===",
                           "Zh==", "Zm9=", "=Zm9", "Zm=v"}) {
    EXPECT_FALSE(DecodeBase64(text, bytes)) << text;
  }
}

TEST(TrustText, DerSignaturesConvertStrictly) {
  // Both integers of full length, r with its top bit set (a leading zero).
  RawSignature raw = Counting(0x80);
  std::string der = RawToDer(raw);
  EXPECT_EQ(der.size(), 2u + 2 + 33 + 2 + 33);
  RawSignature back{};
  ASSERT_TRUE(DerToRaw(der, back));
  EXPECT_EQ(back, raw);
  // Short integers are left-padded to 32 bytes.
  RawSignature small{};
  small[31] = 5;
  small[63] = 7;
  EXPECT_EQ(RawToDer(small), Bytes({0x30, 0x06, 0x02, 0x01, 0x05, 0x02, 0x01, 0x07}));
  ASSERT_TRUE(DerToRaw(Bytes({0x30, 0x06, 0x02, 0x01, 0x05, 0x02, 0x01, 0x07}), back));
  EXPECT_EQ(back, small);

  const std::string good = Bytes({0x30, 0x06, 0x02, 0x01, 0x05, 0x02, 0x01, 0x07});
  struct Bad {
    const char* why;
    std::string der;
  } bad[] = {
      {"not a sequence", Bytes({0x31, 0x06, 0x02, 0x01, 0x05, 0x02, 0x01, 0x07})},
      {"sequence length too long", Bytes({0x30, 0x07, 0x02, 0x01, 0x05, 0x02, 0x01, 0x07})},
      {"trailing byte", good + Bytes({0x00})},
      {"long-form length", Bytes({0x30, 0x81, 0x06, 0x02, 0x01, 0x05, 0x02, 0x01, 0x07})},
      {"negative r", Bytes({0x30, 0x06, 0x02, 0x01, 0x85, 0x02, 0x01, 0x07})},
      {"non-minimal s", Bytes({0x30, 0x07, 0x02, 0x01, 0x05, 0x02, 0x02, 0x00, 0x07})},
      {"empty integer", Bytes({0x30, 0x06, 0x02, 0x00, 0x02, 0x02, 0x01, 0x07})},
      {"one integer only", Bytes({0x30, 0x03, 0x02, 0x01, 0x05})},
      {"integer tag wrong", Bytes({0x30, 0x06, 0x03, 0x01, 0x05, 0x02, 0x01, 0x07})},
      {"integer runs past the end", Bytes({0x30, 0x06, 0x02, 0x01, 0x05, 0x02, 0x05, 0x07})},
  };
  for (const Bad& b : bad) EXPECT_FALSE(DerToRaw(b.der, back)) << b.why;
  // An integer of 33 bytes without the needed leading zero, and one of 34.
  std::string wide = RawToDer(raw);
  wide[4] = 1;  // r's leading zero becomes a value byte: 33 bytes of value
  EXPECT_FALSE(DerToRaw(wide, back));
  std::string longer = Bytes({0x30, 0x27, 0x02, 0x22, 0x00, 0x00});
  longer += std::string(32, '\x01') + Bytes({0x02, 0x01, 0x07});
  EXPECT_FALSE(DerToRaw(longer, back));
}

TEST(TrustText, SignatureBytesTakeDerOrRawOfTheRightLength) {
  RawSignature raw = Counting(0x10), out{};
  const std::string rawBytes(reinterpret_cast<const char*>(raw.data()), raw.size());
  ASSERT_TRUE(SignatureBytes(rawBytes, out));
  EXPECT_EQ(out, raw);
  ASSERT_TRUE(SignatureBytes(RawToDer(raw), out));
  EXPECT_EQ(out, raw);
  EXPECT_FALSE(SignatureBytes(rawBytes.substr(0, 63), out));
  EXPECT_FALSE(SignatureBytes(rawBytes + "x", out));
  EXPECT_FALSE(SignatureBytes(RawToDer(raw).substr(0, 40), out));
  EXPECT_FALSE(SignatureBytes("", out));
}

TEST(TrustText, DigestsAreSixtyFourHexDigitsOfEitherCase) {
  const std::string lower = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
  std::string upper = lower, mixed = lower;
  for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  for (size_t i = 0; i < mixed.size(); i += 2)
    mixed[i] = static_cast<char>(toupper(static_cast<unsigned char>(mixed[i])));
  Digest a{}, b{}, c{};
  ASSERT_TRUE(ParseDigest(lower, a));
  ASSERT_TRUE(ParseDigest(upper, b));
  ASSERT_TRUE(ParseDigest(mixed, c));
  EXPECT_EQ(a, b);
  EXPECT_EQ(a, c);
  EXPECT_EQ(a[0], 0xba);
  EXPECT_EQ(a[31], 0xad);
  EXPECT_EQ(DigestText(b), lower);
  for (const std::string& bad :
       {lower.substr(0, 63), lower + "0", lower.substr(0, 62) + "g0", " " + lower.substr(1),
        "0x" + lower.substr(2), lower.substr(0, 63) + "\n", std::string()}) {
    EXPECT_FALSE(ParseDigest(bad, a)) << bad;
  }
}

TEST(TrustText, SignatureHeaderParts) {
  const RawSignature raw = Counting(0x41);
  KeyId id{};
  for (size_t i = 0; i < id.size(); ++i) id[i] = static_cast<uint8_t>(0xA0 + i);
  const std::string der64 = EncodeBase64(RawToDer(raw));
  const std::string raw64 = EncodeBase64(std::string(reinterpret_cast<const char*>(raw.data()), 64));
  const std::string text = SignatureHeaderText(id, raw);
  EXPECT_EQ(text, "k=a0a1a2a3a4a5a6a7; s=" + der64);

  for (const std::string& good :
       {text, "s=" + der64 + ";k=a0a1a2a3a4a5a6a7", "  k=A0A1A2A3A4A5A6A7 ; s=" + raw64 + "  ",
        "k=a0a1a2a3a4a5a6a7;s=" + raw64}) {
    SignatureHeader header;
    ASSERT_EQ(ParseSignatureHeader(good, header), HeaderError::None) << good;
    EXPECT_EQ(header.keyId, id);
    EXPECT_EQ(header.signature, raw);
  }
  SignatureHeader header;
  EXPECT_EQ(ParseSignatureHeader("", header), HeaderError::Missing);
  EXPECT_EQ(ParseSignatureHeader("   ", header), HeaderError::Missing);
  // Tabs are not blanks here (the download service hands them on as '?').
  EXPECT_EQ(ParseSignatureHeader(" \t ", header), HeaderError::Malformed);
  const std::string truncated = der64.substr(0, der64.size() - 4);
  for (const std::string& bad :
       {std::string("k=a0a1a2a3a4a5a6a7"), "s=" + der64, "k=a0a1a2a3a4a5a6; s=" + der64,
        "k=a0a1a2a3a4a5a6a7; s=" + truncated, "k=a0a1a2a3a4a5a6a7; s=" + der64 + ";",
        "k=a0a1a2a3a4a5a6a7; k=a0a1a2a3a4a5a6a7; s=" + der64,
        "k=a0a1a2a3a4a5a6a7; s=" + der64 + "; x=1", "K=a0a1a2a3a4a5a6a7; s=" + der64,
        "k = a0a1a2a3a4a5a6a7; s=" + der64, "k=a0a1a2a3a4a5a6a7, s=" + der64,
        "k=a0a1a2a3a4a5a6a7; s=" + EncodeBase64("not a signature"),
        "k=a0a1a2a3a4a5a6a7; s=" + der64 + std::string(kMaxSignatureText, ' '),
        "k=a0a1a2a3a4a5a6a7;\ts=" + der64, "\tk=a0a1a2a3a4a5a6a7; s=" + der64}) {
    EXPECT_EQ(ParseSignatureHeader(bad, header), HeaderError::Malformed) << bad;
  }
}

}  // namespace
}  // namespace trust
