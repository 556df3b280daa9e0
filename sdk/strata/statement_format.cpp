#include "statement_format.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace strata {

namespace {

// Appends `text`, doubling `quote` when it is not 0.
void AppendQuoted(std::string& out, const char* text, size_t length, char quote) {
  for (size_t i = 0; i < length; ++i) {
    out += text[i];
    if (quote != 0 && text[i] == quote) out += quote;
  }
}

// snprintf into a growing buffer.
template <class T>
bool FormatOne(const std::string& pattern, T value, std::string& piece) {
  char small[128];
  int n = std::snprintf(small, sizeof small, pattern.c_str(), value);
  if (n < 0) return false;
  if (static_cast<size_t>(n) < sizeof small) {
    piece.assign(small, static_cast<size_t>(n));
    return true;
  }
  piece.resize(static_cast<size_t>(n) + 1);
  n = std::snprintf(&piece[0], piece.size(), pattern.c_str(), value);
  if (n < 0) return false;
  piece.resize(static_cast<size_t>(n));
  return true;
}

enum class Length { kNone, kChar, kShort, kLong, kLongLong, kSize };

}  // namespace

bool FormatStatement(const char* format, va_list args, std::string& out, std::string& error) {
  out.clear();
  error.clear();
  if (format == nullptr) {
    error = "no statement";
    return false;
  }
  va_list ap;
  va_copy(ap, args);
  char quote = 0;  // the quote character of the literal we are in, if any
  bool ok = true;
  for (const char* p = format; *p != 0 && ok; ++p) {
    if (*p != '%') {
      if (quote == 0 && (*p == '\'' || *p == '"')) {
        quote = *p;
      } else if (*p == quote) {
        quote = 0;
      }
      out += *p;
      continue;
    }
    const char* start = p++;
    if (*p == '%') {
      out += '%';
      continue;
    }
    std::string pattern = "%";
    while (*p != 0 && std::strchr("-+ #0", *p) != nullptr) pattern += *p++;
    while (*p >= '0' && *p <= '9') pattern += *p++;
    if (*p == '.') {
      pattern += *p++;
      while (*p >= '0' && *p <= '9') pattern += *p++;
    }
    Length length = Length::kNone;
    if (p[0] == 'h' && p[1] == 'h') {
      length = Length::kChar, p += 2;
    } else if (p[0] == 'h') {
      length = Length::kShort, ++p;
    } else if (p[0] == 'l' && p[1] == 'l') {
      length = Length::kLongLong, p += 2;
    } else if (p[0] == 'l') {
      length = Length::kLong, ++p;
    } else if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
      length = Length::kLongLong, p += 3;
    } else if (p[0] == 'z') {
      length = Length::kSize, ++p;
    }
    const char conversion = *p;
    std::string piece;
    switch (conversion) {
      case 'd':
      case 'i': {
        long long value;
        switch (length) {
          case Length::kLong: value = va_arg(ap, long); break;
          case Length::kLongLong: value = va_arg(ap, long long); break;
          case Length::kSize: value = va_arg(ap, intptr_t); break;
          case Length::kChar: value = static_cast<signed char>(va_arg(ap, int)); break;
          case Length::kShort: value = static_cast<short>(va_arg(ap, int)); break;
          default: value = va_arg(ap, int); break;
        }
        ok = FormatOne(pattern + "lld", value, piece);
        break;
      }
      case 'u':
      case 'o':
      case 'x':
      case 'X': {
        unsigned long long value;
        switch (length) {
          case Length::kLong: value = va_arg(ap, unsigned long); break;
          case Length::kLongLong: value = va_arg(ap, unsigned long long); break;
          case Length::kSize: value = va_arg(ap, size_t); break;
          case Length::kChar: value = static_cast<unsigned char>(va_arg(ap, unsigned)); break;
          case Length::kShort: value = static_cast<unsigned short>(va_arg(ap, unsigned)); break;
          default: value = va_arg(ap, unsigned); break;
        }
        ok = FormatOne(pattern + "ll" + conversion, value, piece);
        break;
      }
      case 'f':
      case 'F':
      case 'e':
      case 'E':
      case 'g':
      case 'G':
        if (length != Length::kNone && length != Length::kLong) {
          ok = false;
          break;
        }
        ok = FormatOne(pattern + conversion, va_arg(ap, double), piece);
        break;
      case 'c':
        if (length != Length::kNone) {
          ok = false;
          break;
        }
        ok = FormatOne(pattern + 'c', va_arg(ap, int), piece);
        break;
      case 's': {
        if (length != Length::kNone) {
          ok = false;
          break;
        }
        const char* text = va_arg(ap, const char*);
        if (text == nullptr) text = "";
        if (pattern == "%") {
          piece = text;
        } else {
          ok = FormatOne(pattern + 's', text, piece);
        }
        break;
      }
      default:
        ok = false;
        break;
    }
    if (!ok) {
      error = "unsupported conversion \"";
      error.append(start, conversion != 0 ? static_cast<size_t>(p - start) + 1
                                          : static_cast<size_t>(p - start));
      error += "\" in the statement format";
      break;
    }
    AppendQuoted(out, piece.data(), piece.size(), quote);
  }
  va_end(ap);
  if (!ok) out.clear();
  return ok;
}

bool FormatStatementF(std::string& out, std::string& error, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const bool ok = FormatStatement(format, args, out, error);
  va_end(args);
  return ok;
}

}  // namespace strata
