#include "transfer_rules.h"

#include <gtest/gtest.h>

#include "notice_records.h"
#include "proxy_choice.h"

#include <winhttp.h>

#include <cstring>

namespace download {
namespace {

TEST(TransferRules, SuccessIsA2xxStatus) {
  const struct {
    DWORD status;
    bool ok;
  } cases[] = {{200, true}, {204, true}, {206, true}, {299, true}, {199, false}, {300, false},
               {302, false}, {304, false}, {404, false}, {500, false}, {0, false}};
  for (const auto& c : cases) EXPECT_EQ(IsSuccessStatus(c.status), c.ok) << c.status;
}

TEST(TransferRules, ReadsContentLength) {
  const struct {
    const wchar_t* text;
    bool ok;
    int64_t value;
  } cases[] = {
      {L"0", true, 0},
      {L"3145728", true, 3145728},
      {L" 12\t", true, 12},
      {L"268435456", true, 268435456},
      {L"4294967296", true, 4294967296LL},  // beyond 32 bits
      {L"9223372036854775807", true, INT64_MAX},
      {L"9223372036854775808", false, 0},  // overflow
      {L"", false, 0},
      {L"  ", false, 0},
      {L"-1", false, 0},
      {L"+5", false, 0},
      {L"5, 5", false, 0},
      {L"12a", false, 0},
      {L"1 2", false, 0},
  };
  for (const auto& c : cases) {
    int64_t value = -7;
    EXPECT_EQ(ParseContentLength(c.text, value), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(value, c.value) << c.text;
    }
  }
}

TEST(TransferRules, ABodyIsWholeWhenAllAnnouncedBytesArrived) {
  EXPECT_TRUE(BodyComplete(10, 10));
  EXPECT_TRUE(BodyComplete(0, 0));
  EXPECT_FALSE(BodyComplete(9, 10));     // closed early
  EXPECT_FALSE(BodyComplete(0, 10));
  EXPECT_FALSE(BodyComplete(11, 10));
  EXPECT_TRUE(BodyComplete(0, kUnknownLength));  // no length: the close is the end
  EXPECT_TRUE(BodyComplete(12345, kUnknownLength));
}

TEST(TransferRules, DataLoadsAreCapped) {
  EXPECT_TRUE(FitsDataLoadCap(0));
  EXPECT_TRUE(FitsDataLoadCap(kDataLoadCap));
  EXPECT_FALSE(FitsDataLoadCap(kDataLoadCap + 1));
  EXPECT_FALSE(FitsDataLoadCap(-1));
}

TEST(TransferRules, OnlyAnUncheckedRevocationIsAskedAgainWithoutTheCheck) {
  constexpr DWORD kRevFailed = 0x1, kRevoked = 0x4, kInvalidCa = 0x8;
  EXPECT_TRUE(RevocationOnlyUnchecked(12057, 0)) << "the revocation server was not reached";
  EXPECT_TRUE(RevocationOnlyUnchecked(12175, kRevFailed));
  EXPECT_FALSE(RevocationOnlyUnchecked(12175, kRevoked)) << "revoked stays refused";
  EXPECT_FALSE(RevocationOnlyUnchecked(12175, kRevoked | kRevFailed));
  EXPECT_FALSE(RevocationOnlyUnchecked(12175, kRevFailed | kInvalidCa)) << "another fault too";
  EXPECT_FALSE(RevocationOnlyUnchecked(12157, 0)) << "the system said nothing (Wine 8)";
  EXPECT_FALSE(RevocationOnlyUnchecked(12029, kRevFailed)) << "not a secure failure";
}

TEST(NoticeRecords, DownloadNoticeHoldsCountsInItsSigned32BitFields) {
  const struct {
    int64_t loaded, total;
    int32_t wantLoaded, wantTotal;
  } cases[] = {
      {0, -1, 0, -1},
      {5, 10, 5, 10},
      {3000000000LL, 5000000000LL, INT32_MAX, INT32_MAX},
      {-5, -20, 0, -1},
  };
  for (const auto& c : cases) {
    const DownloadNotice n = MakeDownloadNotice(7, c.loaded, c.total, kDownloadProgress);
    EXPECT_EQ(n.task, 7u);
    EXPECT_EQ(n.loaded, c.wantLoaded);
    EXPECT_EQ(n.total, c.wantTotal);
    EXPECT_EQ(n.status, kDownloadProgress);
  }
}

TEST(NoticeRecords, RequestDetailsCarryErrorStatusAndTheSignatureCutAtItsLimit) {
  const std::string record = MakeRequestDetailsRecord(9, 12157, 0, "k=00; s=AA==");
  ASSERT_EQ(record.size(), 16u + 12);
  RequestDetailsHeader header{};
  std::memcpy(&header, record.data(), sizeof header);
  EXPECT_EQ(header.task, 9u);
  EXPECT_EQ(header.error, 12157u);
  EXPECT_EQ(header.httpStatus, 0u);
  EXPECT_EQ(header.signatureLength, 12u);
  EXPECT_EQ(record.substr(16), "k=00; s=AA==");
  const std::string longer = MakeRequestDetailsRecord(1, 0, 200, std::string(5000, 's'));
  std::memcpy(&header, longer.data(), sizeof header);
  EXPECT_EQ(header.signatureLength, kMaxSignatureHeaderBytes);
  EXPECT_EQ(longer.size(), 16u + kMaxSignatureHeaderBytes);
  EXPECT_EQ(MakeRequestDetailsRecord(2, 0, 404, "").size(), 16u);
}

TEST(NoticeRecords, FileDetailsCarryTheHandleDigestAndSizeInFixedPlaces) {
  uint8_t digest[32];
  for (int i = 0; i < 32; ++i) digest[i] = static_cast<uint8_t>(i * 7 + 1);
  const HANDLE handle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x1234));
  const std::string record = MakeFileDetailsRecord(9, 4321, handle, 5000000000LL, digest);
  ASSERT_EQ(record.size(), 56u);
  FileDetailsRecord read;
  std::memcpy(&read, record.data(), sizeof read);
  EXPECT_EQ(read.task, 9u);
  EXPECT_EQ(read.processId, 4321u);
  EXPECT_EQ(read.handle, 0x1234u);
  EXPECT_EQ(read.size, 5000000000LL) << "sizes past 4 GiB";
  EXPECT_EQ(std::memcmp(read.sha256, digest, 32), 0);
  EXPECT_EQ(static_cast<uint8_t>(record[24]), digest[0]) << "the digest at offset 24";
}

TEST(NoticeRecords, ThrottleLetsOneRecordThroughPerInterval) {
  ProgressThrottle throttle(100);
  const struct {
    DWORD now;
    bool due;
  } steps[] = {{1000, true}, {1000, false}, {1050, false}, {1099, false}, {1100, true},
               {1150, false}, {1300, true}, {1399, false}, {5000, true}};
  for (const auto& s : steps) EXPECT_EQ(throttle.Due(s.now), s.due) << s.now;
}

TEST(NoticeRecords, ThrottleSurvivesTheTickCounterWrapping) {
  ProgressThrottle throttle(100);
  EXPECT_TRUE(throttle.Due(0xffffffc0u));
  EXPECT_FALSE(throttle.Due(0x00000010u));  // 0x50 later
  EXPECT_TRUE(throttle.Due(0x00000030u));   // 112 ms later
}

TEST(ProxyChoice, FollowsTheUsersInternetSettings) {
  InternetProxySettings none;
  ProxyChoice c = ChooseProxy(none);
  EXPECT_FALSE(c.useAutoProxy);
  EXPECT_TRUE(c.proxy.empty());

  InternetProxySettings named;
  named.proxy = L"proxy:8080";
  named.bypass = L"<local>";
  c = ChooseProxy(named);
  EXPECT_FALSE(c.useAutoProxy);
  EXPECT_EQ(c.proxy, L"proxy:8080");
  EXPECT_EQ(c.bypass, L"<local>");

  InternetProxySettings bypassOnly;
  bypassOnly.bypass = L"<local>";
  EXPECT_TRUE(ChooseProxy(bypassOnly).bypass.empty());

  InternetProxySettings detect;
  detect.autoDetect = true;
  detect.proxy = L"fallback:3128";
  c = ChooseProxy(detect);
  EXPECT_TRUE(c.useAutoProxy);
  EXPECT_EQ(c.autoFlags, static_cast<DWORD>(WINHTTP_AUTOPROXY_AUTO_DETECT));
  EXPECT_NE(c.autoDetectFlags, 0u);
  EXPECT_EQ(c.proxy, L"fallback:3128");  // used when the automatic answer fails

  InternetProxySettings pac;
  pac.autoConfigUrl = L"http://wpad/proxy.pac";
  pac.autoDetect = true;
  c = ChooseProxy(pac);
  EXPECT_TRUE(c.useAutoProxy);
  EXPECT_EQ(c.autoFlags,
            static_cast<DWORD>(WINHTTP_AUTOPROXY_CONFIG_URL | WINHTTP_AUTOPROXY_AUTO_DETECT));
  EXPECT_EQ(c.autoConfigUrl, L"http://wpad/proxy.pac");
}

}  // namespace
}  // namespace download
