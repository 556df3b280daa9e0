// Property checks inside fuzz targets: a broken property ends the run the
// way a crash does, so libFuzzer keeps the input that broke it.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#define FUZZ_CHECK(condition, what)                                                   \
  do {                                                                                \
    if (!(condition)) {                                                               \
      std::fprintf(stderr, "property broken at %s:%d: %s\n  %s\n", __FILE__, __LINE__, \
                   #condition, std::string(what).c_str());                            \
      std::abort();                                                                   \
    }                                                                                 \
  } while (0)

namespace fuzz {

// The text with bytes outside printable ASCII as \xNN, for messages.
inline std::string Shown(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7f && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  return out;
}

}  // namespace fuzz
