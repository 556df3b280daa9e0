#include "transfer_rules.h"

#include <limits>

namespace download {

bool IsSuccessStatus(DWORD status) { return status >= 200 && status <= 299; }

bool ParseContentLength(const std::wstring& text, int64_t& length) {
  size_t i = 0;
  while (i < text.size() && (text[i] == L' ' || text[i] == L'\t')) ++i;
  size_t end = text.size();
  while (end > i && (text[end - 1] == L' ' || text[end - 1] == L'\t')) --end;
  if (i == end) return false;
  int64_t value = 0;
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  for (; i < end; ++i) {
    const wchar_t c = text[i];
    if (c < L'0' || c > L'9') return false;
    const int digit = c - L'0';
    if (value > (kMax - digit) / 10) return false;
    value = value * 10 + digit;
  }
  length = value;
  return true;
}

bool BodyComplete(int64_t received, int64_t declared) {
  return declared < 0 || received == declared;
}

bool FitsDataLoadCap(int64_t bytes) { return bytes >= 0 && bytes <= kDataLoadCap; }

bool RevocationOnlyUnchecked(DWORD error, DWORD secureFlags) {
  constexpr DWORD kRevocationFailed = 0x00000001;  // WINHTTP_CALLBACK_STATUS_FLAG_CERT_REV_FAILED
  if (error == 12057) return true;  // ERROR_WINHTTP_SECURE_CERT_REV_FAILED
  return (error == 12175 || error == 12157) && secureFlags == kRevocationFailed;
}

}  // namespace download
