// Conversions between 8-bit text of a code page (the programs' own code page
// 936, or UTF-8) and UTF-16, through the system's converters. Header-only, so
// that the runtime and the DLLs of sdk/ share this one copy (CMake target
// code_page).
#pragma once

#include <windows.h>

#include <string>

namespace text_convert {

// `text` of `codePage` as UTF-16. False, and `wide` empty, when it does not
// convert; with MB_ERR_INVALID_CHARS in `flags` also when it holds bytes that
// are not valid in that code page.
inline bool ToWide(UINT codePage, const std::string& text, std::wstring& wide, DWORD flags = 0) {
  wide.clear();
  if (text.empty()) return true;
  const int size = static_cast<int>(text.size());
  const int n = MultiByteToWideChar(codePage, flags, text.data(), size, nullptr, 0);
  if (n <= 0) return false;
  wide.resize(static_cast<size_t>(n));
  if (MultiByteToWideChar(codePage, flags, text.data(), size, &wide[0], n) != n) {
    wide.clear();
    return false;
  }
  return true;
}

inline std::wstring ToWide(UINT codePage, const std::string& text) {
  std::wstring wide;
  ToWide(codePage, text, wide);
  return wide;
}

// UTF-16 as text of `codePage`; empty when it does not convert.
inline std::string FromWide(UINT codePage, const std::wstring& wide) {
  if (wide.empty()) return std::string();
  const int size = static_cast<int>(wide.size());
  const int n = WideCharToMultiByte(codePage, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string out(static_cast<size_t>(n), '\0');
  if (WideCharToMultiByte(codePage, 0, wide.data(), size, &out[0], n, nullptr, nullptr) != n)
    return std::string();
  return out;
}

}  // namespace text_convert
