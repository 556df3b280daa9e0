#include "device_identity.h"

#include <gtest/gtest.h>

#include "param_envelope.h"
#include "test_support.h"

namespace {

using testing_support::EnvelopeBytes;
using testing_support::InflateRaw;

AdapterRecord Adapter(uint32_t type, const std::string& description, const std::string& name,
                      std::vector<uint8_t> address) {
  AdapterRecord a;
  a.type = type;
  a.description = description;
  a.name = name;
  a.address = std::move(address);
  return a;
}

}  // namespace

TEST(DeviceIdentity, AdapterListTextFromTheEthernetAdaptersInOrder) {
  const AdapterRecord a = Adapter(6, "网卡A", "{A-GUID}", {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E});
  const AdapterRecord b = Adapter(6, "Card B", "{B}", {});
  const AdapterRecord wireless = Adapter(71, "Wireless", "{W}", {1, 2, 3, 4, 5, 6});
  const AdapterRecord loopback = Adapter(24, "Loopback", "{L}", {});
  struct Case {
    std::vector<AdapterRecord> adapters;
    std::string text;
  } cases[] = {
      {{a, b}, "网卡A\x04{A-GUID}\x04" "001A2B3C4D5E\x08" "Card B\x04{B}\x08"},
      {{b, a}, "Card B\x04{B}\x08网卡A\x04{A-GUID}\x04" "001A2B3C4D5E\x08"},
      {{wireless, a, loopback}, "网卡A\x04{A-GUID}\x04" "001A2B3C4D5E\x08"},
      {{wireless, loopback}, ""},
      {{}, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(JoinAdapterList(AdapterListJson(c.adapters)), c.text);
  EXPECT_EQ(AdapterEntry(Adapter(6, "d", "n", {0xAB, 0x0F})), "d\x04n\x04" "AB0F");
}

TEST(DeviceIdentity, JoiningTakesOnlyANonEmptyArray) {
  EXPECT_EQ(JoinAdapterList("[]"), "");
  EXPECT_EQ(JoinAdapterList("{\"a\":1}"), "");
  EXPECT_EQ(JoinAdapterList("not json"), "");
  EXPECT_EQ(JoinAdapterList("[\"x\",\"y\"]"), "x\x08y\x08");
}

TEST(DeviceIdentity, Md5ThroughTheSystemProvider) {
  EXPECT_EQ(Md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");  // a computer without Ethernet
  EXPECT_EQ(Md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
  // A zero byte is hashed like any other: the text is not cut at it.
  EXPECT_EQ(Md5Hex(std::string("a\0b", 3)), "70350f6027bce3713f6b76473084309b");
  const std::string id = Md5Hex("网卡A\x04{A}\x08");
  ASSERT_EQ(id.size(), 32u);
  EXPECT_EQ(id.find_first_not_of("0123456789abcdef"), std::string::npos);
}

TEST(DeviceIdentity, RegistrationTextCompressesAndEnvelopesLosslessly) {
  const std::string list = "网卡A\x04{A}\x04" "001A2B3C4D5E\x08";
  const std::string newId = Md5Hex(list);
  struct Case {
    std::string stored;
  } cases[] = {{""}, {"d41d8cd98f00b204e9800998ecf8427e"}};
  for (const Case& c : cases) {
    const std::string text = RegistrationText(c.stored, newId, list);
    EXPECT_EQ(text, c.stored + "\x12" + newId + "\x12" + list);
    const std::string value = RegistrationValue(text);
    EXPECT_EQ(value.find_first_not_of("MD0123456789ABCDEFGHIJKLMNOPQRSTUV"), std::string::npos);
    ParamEnvelope envelope;
    ASSERT_TRUE(envelope.Decode(value));
    EXPECT_EQ(InflateRaw(EnvelopeBytes(value)), text);
  }
}

TEST(DeviceIdentity, DeflateSizesItsBufferForIncompressibleText) {
  std::string noise;
  uint32_t x = 12345;
  for (int i = 0; i < 5000; ++i) {
    x = x * 1103515245u + 12345u;
    noise += static_cast<char>(x >> 24);
  }
  const std::string packed = DeflateRaw(noise);
  ASSERT_FALSE(packed.empty());
  EXPECT_EQ(InflateRaw(packed), noise);
  EXPECT_EQ(InflateRaw(DeflateRaw("")), "");
  // Text that repeats is really compressed, not stored.
  const std::string repeated(5000, 'a');
  EXPECT_LT(DeflateRaw(repeated).size(), 100u);
  EXPECT_EQ(InflateRaw(DeflateRaw(repeated)), repeated);
}
