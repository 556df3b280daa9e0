// The system's converter for \u escapes: one code point to code page 936.
#include <windows.h>

#include "json_unicode.h"

namespace rt {

std::string Cp936FromCodePoint(uint32_t codePoint) {
  wchar_t units[2];
  int count = 1;
  if (codePoint >= 0x10000 && codePoint <= 0x10FFFF) {
    units[0] = static_cast<wchar_t>(0xD800 + ((codePoint - 0x10000) >> 10));
    units[1] = static_cast<wchar_t>(0xDC00 + ((codePoint - 0x10000) & 0x3FF));
    count = 2;
  } else if (codePoint < 0x10000) {
    units[0] = static_cast<wchar_t>(codePoint);
  } else {
    return std::string();
  }
  // No best fit: a character that code page 936 lacks must not turn into a
  // look-alike (or a different character); it reads as "?".
  char bytes[8];
  BOOL usedDefault = FALSE;
  const int n = WideCharToMultiByte(936, WC_NO_BEST_FIT_CHARS, units, count, bytes,
                                    sizeof bytes, nullptr, &usedDefault);
  if (n <= 0 || usedDefault) return std::string();
  return std::string(bytes, static_cast<size_t>(n));
}

}  // namespace rt
