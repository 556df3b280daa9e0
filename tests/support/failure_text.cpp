#include "failure_text.h"

#include <windows.h>

#include <cstdio>

#include "code_page.h"

namespace testing_support {

namespace {

constexpr UINT kCodePage936 = 936;

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

int HexValue(char c) {
  return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
}

std::string Escaped(unsigned char byte) {
  char text[8];
  std::snprintf(text, sizeof text, "\\x%02X", byte);
  return text;
}

// `bytes` as UTF-8 when they are whole code page 936 text (false otherwise).
bool Utf8From936(std::string_view bytes, std::string& utf8) {
  utf8.clear();
  if (bytes.empty()) return true;
  const int wide = MultiByteToWideChar(kCodePage936, MB_ERR_INVALID_CHARS, bytes.data(),
                                       static_cast<int>(bytes.size()), nullptr, 0);
  if (wide <= 0) return false;
  std::wstring text(static_cast<size_t>(wide), L'\0');
  MultiByteToWideChar(kCodePage936, MB_ERR_INVALID_CHARS, bytes.data(),
                      static_cast<int>(bytes.size()), &text[0], wide);
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), wide, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return false;
  utf8.assign(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), wide, &utf8[0], size, nullptr, nullptr);
  return true;
}

// The end of the run of non-ASCII bytes that starts at `at`.
size_t NonAsciiRunEnd(std::string_view text, size_t at) {
  while (at < text.size() && static_cast<unsigned char>(text[at]) >= 0x80) ++at;
  return at;
}

// True for a run of non-ASCII bytes that is UTF-8 text of three- and
// four-byte characters (Chinese in UTF-8): text some test already wrote in
// UTF-8 stays as it is. Anything else is taken for code page 936, the
// programs' text (a run of two-byte UTF-8 characters often is code page 936
// too: 志 is D6 BE).
bool IsUtf8Chinese(std::string_view run) {
  size_t i = 0;
  while (i < run.size()) {
    const unsigned char lead = static_cast<unsigned char>(run[i]);
    const size_t length = lead >= 0xE0 && lead <= 0xEF ? 3 : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
    if (length == 0 || i + length > run.size()) return false;
    for (size_t k = 1; k < length; ++k) {
      const unsigned char next = static_cast<unsigned char>(run[i + k]);
      if (next < 0x80 || next > 0xBF) return false;
    }
    i += length;
  }
  return !run.empty();
}

// Raw text: code page 936 characters in UTF-8, a byte that is none as \xHH.
void AppendRaw(std::string_view text, size_t from, size_t to, std::string& out) {
  const std::string_view part = text.substr(0, to);
  size_t i = from;
  while (i < to) {
    if (static_cast<unsigned char>(part[i]) < 0x80) {
      out += part[i];
      ++i;
      continue;
    }
    const size_t runEnd = NonAsciiRunEnd(part, i);
    if (IsUtf8Chinese(part.substr(i, runEnd - i))) {
      out.append(part.substr(i, runEnd - i));
      i = runEnd;
      continue;
    }
    // The run's characters (the last one may end in an ASCII byte: 淺 is 9C 5C).
    while (i < runEnd) {
      const size_t next = cp936::NextChar(part, i);
      std::string utf8;
      if (Utf8From936(part.substr(i, next - i), utf8)) {
        out += utf8;
      } else {
        out += Escaped(static_cast<unsigned char>(part[i]));
        out.append(part.substr(i + 1, next - i - 1));
      }
      i = next;
    }
  }
}

// A string value as GoogleTest prints it, from the quote at `at`: "...",
// escapes for every byte that is not printable ASCII, and a `" "` break
// after a hex escape that a hex digit follows. Its bytes, and where it
// ends; false when the text there is no such value.
bool ReadPrintedString(std::string_view text, size_t at, std::string& bytes, size_t& end) {
  bytes.clear();
  bool previousHex = false;
  size_t i = at + 1;
  while (i < text.size()) {
    const char c = text[i];
    if (static_cast<unsigned char>(c) >= 0x80 || c == '\n') return false;
    if (c == '"') {
      // `" "` then a hex digit: the same value goes on.
      if (previousHex && text.substr(i, 3) == "\" \"" && i + 3 < text.size() &&
          IsHexDigit(text[i + 3])) {
        i += 3;
        previousHex = false;
        continue;
      }
      end = i + 1;
      return true;
    }
    previousHex = false;
    if (c != '\\') {
      bytes += c;
      ++i;
      continue;
    }
    if (i + 1 >= text.size()) return false;
    const char e = text[i + 1];
    if (e == 'x') {
      size_t k = i + 2;
      int value = 0;
      while (k < text.size() && IsHexDigit(text[k]) && k < i + 4) value = value * 16 + HexValue(text[k++]);
      if (k == i + 2) return false;
      bytes += static_cast<char>(value);
      previousHex = true;
      i = k;
      continue;
    }
    static constexpr std::string_view kNames = "0abfnrtv\\'\"";
    static constexpr std::string_view kBytes{"\0\a\b\f\n\r\t\v\\'\"", 11};
    const size_t which = kNames.find(e);
    if (which == std::string_view::npos) return false;
    bytes += kBytes[which];
    i += 2;
  }
  return false;
}

// Text that is worth showing: code page 936 characters beyond ASCII, no
// control bytes but line ends and tabs.
bool ReadsAsText(std::string_view bytes, std::string& utf8) {
  bool wide = false;
  for (const char c : bytes) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u >= 0x80) wide = true;
    if (u < 0x20 && c != '\t' && c != '\n' && c != '\r') return false;
  }
  return wide && Utf8From936(bytes, utf8);
}

}  // namespace

std::string FailureTextForReaders(std::string_view message) {
  static constexpr std::string_view kAsText = "\n    As Text: \"";
  std::string out;
  size_t plain = 0;  // where the text not yet copied begins
  for (size_t i = 0; i < message.size(); i = cp936::NextChar(message, i)) {
    if (message[i] != '"') continue;
    std::string bytes, utf8;
    size_t end = 0;
    if (!ReadPrintedString(message, i, bytes, end) || !ReadsAsText(bytes, utf8)) continue;
    AppendRaw(message, plain, end, out);
    if (message.substr(end, kAsText.size()) != kAsText) {
      out.append(kAsText);
      out += utf8;
      out += '"';
    }
    plain = end;
    i = end - 1;  // a quote: one byte, the walk goes on right after it
  }
  AppendRaw(message, plain, message.size(), out);
  return out;
}

}  // namespace testing_support
