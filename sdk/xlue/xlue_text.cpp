#include "xlue_text.h"

#include <windows.h>

#include "text_convert.h"

namespace xlue {

namespace {

bool MultiToWide(UINT codePage, DWORD flags, const std::string& text, std::wstring& out) {
  return text_convert::ToWide(codePage, text, out, flags);
}

std::string WideToMulti(UINT codePage, const std::wstring& text) {
  return text_convert::FromWide(codePage, text);
}

}  // namespace

bool IsValidUtf8(const std::string& text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    const unsigned char c = p[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t extra;
    unsigned long code;
    if (c >= 0xc2 && c <= 0xdf) {
      extra = 1;
      code = c & 0x1f;
    } else if (c >= 0xe0 && c <= 0xef) {
      extra = 2;
      code = c & 0x0f;
    } else if (c >= 0xf0 && c <= 0xf4) {
      extra = 3;
      code = c & 0x07;
    } else {
      return false;  // a continuation byte first, an overlong lead, or beyond U+10FFFF
    }
    if (n - i <= extra) return false;
    for (size_t k = 1; k <= extra; ++k) {
      if ((p[i + k] & 0xc0) != 0x80) return false;
      code = (code << 6) | (p[i + k] & 0x3f);
    }
    if ((extra == 2 && code < 0x800) || (extra == 3 && code < 0x10000)) return false;
    if (code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) return false;
    i += extra + 1;
  }
  return true;
}

bool Utf8ToWide(const std::string& text, std::wstring& out) {
  return MultiToWide(CP_UTF8, MB_ERR_INVALID_CHARS, text, out);
}

bool AcpToWide(const std::string& text, std::wstring& out) {
  return MultiToWide(CP_ACP, MB_ERR_INVALID_CHARS, text, out);
}

std::string WideToUtf8(const std::wstring& text) { return WideToMulti(CP_UTF8, text); }

std::string WideToAcp(const std::wstring& text) { return WideToMulti(CP_ACP, text); }

std::wstring ScriptTextToWide(const std::string& text) {
  std::wstring out;
  if (IsValidUtf8(text) && Utf8ToWide(text, out)) return out;
  // Not UTF-8: system code page text, converted leniently (nothing is lost
  // from an error message because of one bad byte).
  MultiToWide(CP_ACP, 0, text, out);
  return out;
}

std::string ScriptTextToAcp(const std::string& text) {
  std::wstring wide;
  if (!IsValidUtf8(text) || !Utf8ToWide(text, wide)) return text;
  return WideToAcp(wide);
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t nl = text.find('\n', start);
    size_t end = nl == std::string::npos ? text.size() : nl;
    const size_t next = nl == std::string::npos ? text.size() : nl + 1;
    if (end > start && text[end - 1] == '\r' && nl != std::string::npos) --end;
    lines.push_back(text.substr(start, end - start) + "\r\n");
    start = next;
  }
  if (lines.empty()) lines.push_back("\r\n");
  return lines;
}

}  // namespace xlue
