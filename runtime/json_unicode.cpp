#include "json_unicode.h"

#include "code_page.h"

namespace rt {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The four hex digits of a \u escape starting at `at` (the backslash);
// -1 when `text` holds no complete escape there.
long EscapeAt(std::string_view text, size_t at) {
  if (at + 6 > text.size() || text[at] != '\\' || text[at + 1] != 'u') return -1;
  long value = 0;
  for (size_t i = at + 2; i < at + 6; ++i) {
    const int digit = HexValue(text[i]);
    if (digit < 0) return -1;
    value = value * 16 + digit;
  }
  return value;
}

bool IsHighSurrogate(long unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(long unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Appends converted bytes as JSON string content the reader gives back
// unchanged.
void AppendAsStringContent(const std::string& bytes, std::string& out) {
  static const char kHex[] = "0123456789abcdef";
  for (const char c : bytes) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '\\' || c == '"') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      out += "\\u00";
      out += kHex[u >> 4];
      out += kHex[u & 0xF];
    } else {
      out += c;
    }
  }
}

}  // namespace

bool MayHoldUnicodeEscapes(std::string_view text) {
  return text.find("\\u") != std::string_view::npos;
}

bool HasSecondByteBackslash(std::string_view text) {
  for (size_t i = 0; i < text.size(); i = cp936::NextChar(text, i)) {
    if (cp936::CharLength(text, i) == 2 && text[i + 1] == '\\') return true;
  }
  return false;
}

std::string EscapeSecondByteBackslashes(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 16);
  for (size_t i = 0; i < text.size(); i = cp936::NextChar(text, i)) {
    const size_t length = cp936::CharLength(text, i);
    out.append(text.substr(i, length));
    if (length == 2 && text[i + 1] == '\\') out += '\\';
  }
  return out;
}

// The walk is byte by byte on purpose, not by code page 936 characters: it
// must find strings, escapes and comments exactly where the JSON reader
// finds them, and the reader takes every '\\' byte as an escape, also the
// second byte of a double-byte character.
std::string ResolveUnicodeEscapes(std::string_view text, CodePointConverter convert) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '/' && i + 1 < text.size() && (text[i + 1] == '*' || text[i + 1] == '/')) {
      // A comment, up to and including its end; quotes in it start nothing.
      size_t end;
      if (text[i + 1] == '*') {
        end = text.find("*/", i + 2);
        end = end == std::string_view::npos ? text.size() : end + 2;
      } else {
        end = text.find_first_of("\r\n", i + 2);
        end = end == std::string_view::npos ? text.size() : end + 1;
      }
      out.append(text.substr(i, end - i));
      i = end;
      continue;
    }
    out += c;
    ++i;
    if (c != '"') continue;
    // Inside a string up to its closing quote.
    while (i < text.size()) {
      const char s = text[i];
      if (s == '"') {
        out += s;
        ++i;
        break;
      }
      if (s != '\\') {
        out += s;
        ++i;
        continue;
      }
      const long unit = EscapeAt(text, i);
      if (unit < 0x80) {
        // Not a \u escape, or one the reader decodes to the byte itself.
        out.append(text.substr(i, i + 1 < text.size() ? 2 : 1));
        i += 2;
        continue;
      }
      size_t length = 6;
      long codePoint = unit;
      if (IsHighSurrogate(unit)) {
        const long partner = EscapeAt(text, i + 6);
        if (partner < 0) {
          // The reader refuses a high surrogate without a second escape.
          out.append(text.substr(i, 6));
          i += 6;
          continue;
        }
        length = 12;
        codePoint = IsLowSurrogate(partner)
                        ? 0x10000 + ((unit - 0xD800) << 10) + (partner - 0xDC00)
                        : -1;
      } else if (IsLowSurrogate(unit)) {
        codePoint = -1;
      }
      std::string bytes;
      if (codePoint >= 0) bytes = convert(static_cast<uint32_t>(codePoint));
      AppendAsStringContent(bytes.empty() ? std::string("?") : bytes, out);
      i += length;
    }
  }
  return out;
}

}  // namespace rt
