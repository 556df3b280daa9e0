#include "resume_rules.h"

#include <limits>

namespace download {

namespace {

constexpr DWORD kResumePauses[kResumeAttempts] = {500, 1000, 2000, 4000, 8000};
constexpr DWORD kLoadRetryPauses[kLoadRetries] = {1000, 2000};

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// Decimal digits from `at` on, at most 2^63-1; `at` moves past them.
bool ReadNumber(const std::wstring& text, size_t& at, int64_t& value) {
  const size_t start = at;
  value = 0;
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  while (at < text.size() && text[at] >= L'0' && text[at] <= L'9') {
    const int digit = text[at] - L'0';
    if (value > (kMax - digit) / 10) return false;
    value = value * 10 + digit;
    ++at;
  }
  return at > start;
}

uint64_t Fnv1a64(const std::string& bytes) {
  uint64_t hash = 0xcbf29ce484222325ULL;
  for (unsigned char c : bytes) {
    hash ^= c;
    hash *= 0x100000001b3ULL;
  }
  return hash;
}

std::wstring Hex16(uint64_t value) {
  static const wchar_t kDigits[] = L"0123456789abcdef";
  std::wstring out(16, L'0');
  for (int i = 15; i >= 0; --i) {
    out[static_cast<size_t>(i)] = kDigits[value & 0xF];
    value >>= 4;
  }
  return out;
}

// A value fit for one line of the description.
std::string OneLine(const std::string& value) {
  std::string out;
  for (char c : value)
    if (c != '\r' && c != '\n') out += c;
  return out;
}

}  // namespace

DWORD ResumePauseMs(int attempt) {
  if (attempt < 1) attempt = 1;
  if (attempt > kResumeAttempts) attempt = kResumeAttempts;
  return kResumePauses[attempt - 1];
}

DWORD LoadRetryPauseMs(int retry) {
  if (retry < 1) retry = 1;
  if (retry > kLoadRetries) retry = kLoadRetries;
  return kLoadRetryPauses[retry - 1];
}

bool MayRetryLoad(bool sendOnce, bool brokenInTransport, bool answered, bool timedOut) {
  return !sendOnce && brokenInTransport && !answered && !timedOut;
}

bool ParseContentRange(const std::wstring& text, ContentRange& range) {
  size_t at = 0;
  while (at < text.size() && IsBlank(text[at])) ++at;
  static const wchar_t kUnit[] = L"bytes";
  for (const wchar_t* u = kUnit; *u; ++u, ++at) {
    if (at >= text.size() || (text[at] | 0x20) != *u) return false;
  }
  if (at >= text.size() || !IsBlank(text[at])) return false;
  while (at < text.size() && IsBlank(text[at])) ++at;
  ContentRange parsed;
  if (at < text.size() && text[at] == L'*') {
    parsed.unsatisfied = true;
    ++at;
  } else {
    if (!ReadNumber(text, at, parsed.first)) return false;
    if (at >= text.size() || text[at] != L'-') return false;
    ++at;
    if (!ReadNumber(text, at, parsed.last) || parsed.last < parsed.first) return false;
  }
  if (at >= text.size() || text[at] != L'/') return false;
  ++at;
  if (at < text.size() && text[at] == L'*') {
    if (parsed.unsatisfied) return false;  // "*/*" says nothing
    ++at;
  } else if (!ReadNumber(text, at, parsed.total)) {
    return false;
  }
  while (at < text.size() && IsBlank(text[at])) ++at;
  if (at != text.size()) return false;
  if (parsed.total >= 0 && !parsed.unsatisfied && parsed.last >= parsed.total) return false;
  range = parsed;
  return true;
}

RangeAnswer JudgeRangeAnswer(DWORD status, const std::wstring& contentRange, int64_t from,
                             int64_t expectedTotal) {
  if (status == 200) return RangeAnswer::Restart;
  if (status != 206) return RangeAnswer::Refetch;
  ContentRange range;
  if (!ParseContentRange(contentRange, range) || range.unsatisfied) return RangeAnswer::Refetch;
  // The rest of the file, to its end, of a size that is known and the same.
  if (range.first != from || range.total < 0 || range.last != range.total - 1) {
    return RangeAnswer::Refetch;
  }
  if (expectedTotal >= 0 && range.total != expectedTotal) return RangeAnswer::Refetch;
  return RangeAnswer::Append;
}

std::wstring PartName(const std::wstring& name, const std::string& url) {
  const std::wstring suffix = L"." + Hex16(Fnv1a64(url)) + L".part";
  if (name.size() + suffix.size() <= 255) return name + suffix;
  return L"~download" + suffix;
}

std::wstring PartInfoName(const std::wstring& partName) { return partName + L".info"; }

std::string PartInfoText(const PartInfo& info) {
  return "url=" + OneLine(info.url) + "\ntotal=" + std::to_string(info.total) +
         "\netag=" + OneLine(info.etag) + "\nmodified=" + OneLine(info.lastModified) +
         "\nsha256=" + OneLine(info.sha256) + "\n";
}

bool ParsePartInfo(const std::string& text, PartInfo& info) {
  PartInfo parsed;
  bool haveUrl = false, haveTotal = false;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    const size_t equals = line.find('=');
    if (equals == std::string::npos) return false;
    const std::string key = line.substr(0, equals);
    const std::string value = line.substr(equals + 1);
    if (key == "url") {
      parsed.url = value;
      haveUrl = !value.empty();
    } else if (key == "total") {
      const std::wstring wide(value.begin(), value.end());
      size_t pos = 0;
      int64_t total = 0;
      if (value == "-1") {
        parsed.total = -1;
      } else if (ReadNumber(wide, pos, total) && pos == wide.size()) {
        parsed.total = total;
      } else {
        return false;
      }
      haveTotal = true;
    } else if (key == "etag") {
      parsed.etag = value;
    } else if (key == "modified") {
      parsed.lastModified = value;
    } else if (key == "sha256") {
      parsed.sha256 = value;
    }
  }
  if (!haveUrl || !haveTotal) return false;
  info = parsed;
  return true;
}

std::string IfRangeValue(const PartInfo& info) {
  if (!info.etag.empty() && info.etag.compare(0, 2, "W/") != 0) return info.etag;
  return info.lastModified;
}

bool CanResume(const PartInfo& info, const std::string& url, int64_t partSize) {
  if (info.url != url || partSize <= 0) return false;
  if (info.total >= 0 && partSize >= info.total) return false;
  return !IfRangeValue(info).empty() || info.total > 0;
}

bool CanCarryOver(const PartInfo& info, const std::string& url, int64_t partSize,
                  const std::string& signedDigest, int64_t signedSize) {
  if (!CanResume(info, url, partSize)) return false;
  if (signedSize >= 0 && info.total >= 0 && info.total != signedSize) return false;
  if (!IfRangeValue(info).empty()) return true;
  return !signedDigest.empty() && info.sha256 == signedDigest;
}

}  // namespace download
