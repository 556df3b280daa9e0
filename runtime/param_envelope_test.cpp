#include "param_envelope.h"

#include <gtest/gtest.h>

#include <random>

TEST(ParamEnvelope, WorkedExampleRoundTrips) {
  EXPECT_EQ(ParamEnvelope::Wrap("abc"), "MD61509934C5H660");
  ParamEnvelope envelope;
  ASSERT_TRUE(envelope.Decode("MD61509934C5H660"));
  EXPECT_EQ(envelope.Payload(), "abc");
  EXPECT_EQ(ParamEnvelope::CheckNumber("C5H660"), 61509934u);
}

TEST(ParamEnvelope, BodyLengthCoversEveryPayloadBit) {
  for (size_t n = 0; n < 40; ++n) {
    const std::string payload(n, 'x');
    const std::string text = ParamEnvelope::Wrap(payload);
    if (n == 0) {
      EXPECT_TRUE(text.empty()) << "an empty payload produces no envelope";
      continue;
    }
    EXPECT_EQ(text.size(), 10 + 8 * (n + 1) / 5) << n;
    ParamEnvelope decoded;
    ASSERT_TRUE(decoded.Decode(text)) << n;
    EXPECT_EQ(decoded.Payload(), payload) << n;
  }
}

TEST(ParamEnvelope, ArbitraryBytesAndGbkTextRoundTrip) {
  std::mt19937 rng(7);
  for (int i = 0; i < 200; ++i) {
    std::string payload(1 + rng() % 300, '\0');
    for (char& c : payload) c = static_cast<char>(1 + rng() % 255);  // no zero bytes
    ParamEnvelope decoded;
    ASSERT_TRUE(decoded.Decode(ParamEnvelope::Wrap(payload)));
    EXPECT_EQ(decoded.Payload(), payload);
  }
  const std::string gbk = "{\"SP\":\"日志 \\\"q\\\"\"}";
  EXPECT_EQ(ParamEnvelope::Unwrap(ParamEnvelope::Wrap(gbk)), gbk);
}

TEST(ParamEnvelope, FourBytePayloadEndsAtTheTerminator) {
  // (4 + 1) bytes are 40 bits: the body covers the terminator completely.
  const std::string text = ParamEnvelope::Wrap("abcd");
  EXPECT_EQ(text.size(), 18u);
  ParamEnvelope decoded;
  ASSERT_TRUE(decoded.Decode(text));
  EXPECT_EQ(decoded.Payload(), "abcd");
}

TEST(ParamEnvelope, DamagedEnvelopesAreRefusedAndLeaveTheObjectUnchanged) {
  ParamEnvelope envelope;
  ASSERT_TRUE(envelope.Decode("MD61509934C5H660"));
  const char* refused[] = {
      "",
      "MD61509934",          // exactly ten characters: no body
      "MD00000000C5H660",    // zero check number
      "MD61509935C5H660",    // wrong check number
      "MD61509934C5H661",    // damaged body
      "MD61509934c5h660",    // case changed in transit: the check is over the bytes as received
      "md61509934C5H660",
      "XD61509934C5H660",
      "MDabcdefghC5H660",
      "MD-1509934C5H660",
  };
  for (const char* text : refused) {
    EXPECT_FALSE(envelope.Decode(text)) << text;
    EXPECT_EQ(envelope.Payload(), "abc") << text;
  }
}

TEST(ParamEnvelope, LowerCaseBodyDecodesWhenItsCheckNumberMatches) {
  const std::string body = "c5h660";
  char text[64];
  std::snprintf(text, sizeof text, "MD%08u%s", ParamEnvelope::CheckNumber(body), body.c_str());
  ParamEnvelope envelope;
  ASSERT_TRUE(envelope.Decode(text));
  EXPECT_EQ(envelope.Payload(), "abc");
}

TEST(ParamEnvelope, CheckDigitsAreReadLikeAtoi) {
  // Leading blanks are allowed and conversion stops at the first non-digit.
  const std::string body = "C5H660";
  const unsigned check = ParamEnvelope::CheckNumber(body);
  char text[64];
  std::snprintf(text, sizeof text, "MD%8u%s", check, body.c_str());  // blank padded
  ParamEnvelope envelope;
  EXPECT_TRUE(envelope.Decode(text));
}

TEST(ParamEnvelope, AnyByteStringIsDecodedSafely) {
  std::mt19937 rng(11);
  for (int i = 0; i < 20000; ++i) {
    std::string text(rng() % 64, '\0');
    for (char& c : text) c = static_cast<char>(rng());
    if (i % 2 == 0 && text.size() > 2) text[0] = 'M', text[1] = 'D';
    ParamEnvelope envelope;
    envelope.Decode(text);
  }
  // A body of arbitrary bytes with a matching check number is accepted: the
  // check number is the only protection, and decoding must stay in bounds.
  std::string body;
  for (int c = 1; c < 256; ++c) body.push_back(static_cast<char>(c));
  char header[16];
  std::snprintf(header, sizeof header, "MD%08u", ParamEnvelope::CheckNumber(body));
  ParamEnvelope envelope;
  EXPECT_TRUE(envelope.Decode(header + body));
  EXPECT_LE(envelope.Payload().size(), body.size() * 5 / 8);
}
