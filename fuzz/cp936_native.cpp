// The fuzz build's converter for \u escapes: glibc's iconv in place of the
// system's converter the programs use (the mapping tables differ in a few
// places; the rules under test do not depend on them).
#include <iconv.h>

#include <string>

#include "json_unicode.h"

namespace rt {

std::string Cp936FromCodePoint(uint32_t codePoint) {
  static iconv_t converter = iconv_open("CP936", "UTF-32LE");
  if (converter == reinterpret_cast<iconv_t>(-1)) return std::string();
  char in[4] = {static_cast<char>(codePoint & 0xFF), static_cast<char>((codePoint >> 8) & 0xFF),
                static_cast<char>((codePoint >> 16) & 0xFF), static_cast<char>(codePoint >> 24)};
  char out[8];
  char* inAt = in;
  char* outAt = out;
  size_t inLeft = sizeof in;
  size_t outLeft = sizeof out;
  iconv(converter, nullptr, nullptr, nullptr, nullptr);
  if (iconv(converter, &inAt, &inLeft, &outAt, &outLeft) == static_cast<size_t>(-1)) {
    return std::string();
  }
  return std::string(out, static_cast<size_t>(outAt - out));
}

}  // namespace rt
