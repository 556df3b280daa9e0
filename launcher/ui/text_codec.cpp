#include "text_codec.h"

#include <windows.h>

#include "code_page.h"
#include "text_convert.h"


std::wstring AnsiToWide(const std::string& text) { return text_convert::ToWide(CP_ACP, text); }
std::string WideToAnsi(const std::wstring& text) { return text_convert::FromWide(CP_ACP, text); }
std::string WideToUtf8(const std::wstring& text) { return text_convert::FromWide(CP_UTF8, text); }
std::wstring Utf8ToWide(const std::string& text) { return text_convert::ToWide(CP_UTF8, text); }
std::string AnsiToUtf8(const std::string& text) { return WideToUtf8(AnsiToWide(text)); }
std::string Utf8ToAnsi(const std::string& text) { return WideToAnsi(Utf8ToWide(text)); }

std::string JsonSafeAnsi(const std::string& ansiJson) {
  std::string out;
  out.reserve(ansiJson.size() + 8);
  for (size_t at = 0; at < ansiJson.size(); at = cp936::NextChar(ansiJson, at)) {
    const size_t length = cp936::CharLength(ansiJson, at);
    out.append(ansiJson, at, length);
    if (length == 2 && ansiJson[at + 1] == '\\') out += '\\';
  }
  return out;
}
