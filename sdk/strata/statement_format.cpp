#include "statement_format.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "code_page.h"
#include "sql_context.h"

namespace strata {

namespace {

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

// Reads the digits of a width or precision into `pattern`; false when the
// number is above the limit.
bool ReadCount(const char*& p, std::string& pattern, size_t& count) {
  count = 0;
  while (*p >= '0' && *p <= '9') {
    count = count * 10 + static_cast<size_t>(*p - '0');
    if (count > kMaxConversionWidth) return false;
    pattern += *p++;
  }
  return true;
}

// The values of a C variable argument list, read with the types the
// conversions name.
class VaListArgs final : public StatementArgs {
 public:
  explicit VaListArgs(va_list args) { va_copy(args_, args); }
  ~VaListArgs() { va_end(args_); }
  VaListArgs(const VaListArgs&) = delete;
  VaListArgs& operator=(const VaListArgs&) = delete;

  long long Signed(ArgSize size) override {
    switch (size) {
      case ArgSize::kLong: return va_arg(args_, long);
      case ArgSize::kLongLong: return va_arg(args_, long long);
      case ArgSize::kSize: return va_arg(args_, intptr_t);
      default: return va_arg(args_, int);  // char and short arrive as int
    }
  }
  unsigned long long Unsigned(ArgSize size) override {
    switch (size) {
      case ArgSize::kLong: return va_arg(args_, unsigned long);
      case ArgSize::kLongLong: return va_arg(args_, unsigned long long);
      case ArgSize::kSize: return va_arg(args_, size_t);
      default: return va_arg(args_, unsigned);
    }
  }
  double Real() override { return va_arg(args_, double); }
  int Char() override { return va_arg(args_, int); }
  const char* Text() override { return va_arg(args_, const char*); }

 private:
  va_list args_;
};

// `value` converted to the type the length modifier names, as printf does.
long long OfSize(long long value, ArgSize size) {
  switch (size) {
    case ArgSize::kChar: return static_cast<signed char>(value);
    case ArgSize::kShort: return static_cast<short>(value);
    case ArgSize::kLong: return static_cast<long>(value);
    case ArgSize::kLongLong: return value;
    case ArgSize::kSize: return static_cast<intptr_t>(value);
    default: return static_cast<int>(value);
  }
}

unsigned long long OfSize(unsigned long long value, ArgSize size) {
  switch (size) {
    case ArgSize::kChar: return static_cast<unsigned char>(value);
    case ArgSize::kShort: return static_cast<unsigned short>(value);
    case ArgSize::kLong: return static_cast<unsigned long>(value);
    case ArgSize::kLongLong: return value;
    case ArgSize::kSize: return static_cast<size_t>(value);
    default: return static_cast<unsigned>(value);
  }
}

// Two contexts inside the same literal, name or comment.
bool SameRegion(SqlContext a, SqlContext b) {
  auto region = [](SqlContext c) {
    return c == SqlContext::kBlockCommentAfterStar ? SqlContext::kBlockComment : c;
  };
  return region(a) == region(b);
}

// Two contexts in which the rest of the statement reads alike.
bool SameStructure(SqlContext a, SqlContext b) {
  return a == b || (IsStatementText(a) && IsStatementText(b));
}

}  // namespace

bool FormatStatement(const char* format, StatementArgs& args, std::string& out,
                     std::string& error) {
  out.clear();
  error.clear();
  if (format == nullptr) {
    error = "no statement";
    return false;
  }
  // The format's own structure, a conversion counting as one character of
  // statement text, and the structure of what has been written so far: they
  // must agree after every step.
  SqlContext intended = SqlContext::kCode;
  SqlContext written = SqlContext::kCode;
  auto fail = [&](const std::string& why) {
    error = why;
    out.clear();
    return false;
  };
  for (const char* p = format; *p != 0; ++p) {
    if (*p != '%' || p[1] == '%') {
      if (*p == '%') ++p;  // "%%" is one percent sign
      out += *p;
      intended = NextSqlContext(intended, *p);
      written = NextSqlContext(written, *p);
      // Both read the same character: they part only when an earlier value
      // left a character that this one turns into a comment mark.
      if (!SameStructure(intended, written))
        return fail("a value joined to the next character of the format starts or ends a comment");
      continue;
    }
    const char* start = p++;
    auto unsupported = [&]() {
      const size_t length = static_cast<size_t>(p - start) + (*p != 0 ? 1 : 0);
      return fail("unsupported conversion \"" + std::string(start, length) +
                  "\" in the statement format");
    };
    std::string pattern = "%";
    while (*p != 0 && std::strchr("-+ #0", *p) != nullptr) pattern += *p++;
    size_t width = 0;
    if (!ReadCount(p, pattern, width))
      return fail("a width above " + std::to_string(kMaxConversionWidth) +
                  " in the statement format");
    bool hasPrecision = false;
    size_t precision = 0;
    std::string widthPattern = pattern;  // the pattern without the precision
    if (*p == '.') {
      hasPrecision = true;
      pattern += *p++;
      if (!ReadCount(p, pattern, precision))
        return fail("a precision above " + std::to_string(kMaxConversionWidth) +
                    " in the statement format");
    }
    ArgSize size = ArgSize::kDefault;
    if (p[0] == 'h' && p[1] == 'h') {
      size = ArgSize::kChar, p += 2;
    } else if (p[0] == 'h') {
      size = ArgSize::kShort, ++p;
    } else if (p[0] == 'l' && p[1] == 'l') {
      size = ArgSize::kLongLong, p += 2;
    } else if (p[0] == 'l') {
      size = ArgSize::kLong, ++p;
    } else if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
      size = ArgSize::kLongLong, p += 3;
    } else if (p[0] == 'z') {
      size = ArgSize::kSize, ++p;
    }
    const char conversion = *p;
    std::string piece;
    bool ok = true;
    switch (conversion) {
      case 'd':
      case 'i':
        ok = FormatOne(pattern + "lld", OfSize(args.Signed(size), size), piece);
        break;
      case 'u':
      case 'o':
      case 'x':
      case 'X':
        ok = FormatOne(pattern + "ll" + conversion, OfSize(args.Unsigned(size), size), piece);
        break;
      case 'f':
      case 'F':
      case 'e':
      case 'E':
      case 'g':
      case 'G':
        if (size != ArgSize::kDefault && size != ArgSize::kLong) return unsupported();
        ok = FormatOne(pattern + conversion, args.Real(), piece);
        break;
      case 'c':
        if (size != ArgSize::kDefault) return unsupported();
        ok = FormatOne(pattern + 'c', args.Char(), piece);
        break;
      case 's': {
        if (size != ArgSize::kDefault) return unsupported();
        const char* given = args.Text();
        std::string text = given != nullptr ? given : "";
        // The precision cuts between characters, never inside one.
        if (hasPrecision) text.resize(cp936::CutLength(text, precision));
        if (widthPattern == "%")
          piece = text;
        else
          ok = FormatOne(widthPattern + 's', text.c_str(), piece);
        break;
      }
      default:
        return unsupported();
    }
    if (!ok) return unsupported();
    auto changesStructure = [&]() {
      return fail("the value for \"" + std::string(start, p + 1) +
                  "\" would change the statement's structure (close or open a quote, a "
                  "bracket or a comment)");
    };
    // SQLite reads the statement as a C string: a zero byte would end it early.
    if (piece.find('\0') != std::string::npos)
      return fail("a value with a zero byte for \"" + std::string(start, p + 1) + "\"");
    // In a quoted literal or name the quote character is doubled; in a
    // comment or a [...] name the value must stay inside all along (it must
    // not close it and open another); in statement text it must end in
    // statement text again.
    const SqlContext before = written;
    const char quote = QuoteToDouble(before);
    for (char c : piece) {
      out += c;
      written = NextSqlContext(written, c);
      if (quote != 0 && c == quote) {
        out += quote;
        written = NextSqlContext(written, quote);
      }
      if (!IsStatementText(before) && !SameRegion(written, before)) return changesStructure();
    }
    intended = NextSqlContext(intended, 'x');
    if (!SameStructure(intended, written)) return changesStructure();
  }
  if (IsQuoted(intended)) return fail("the statement format ends inside a quote or bracket");
  return true;
}

bool FormatStatement(const char* format, va_list args, std::string& out, std::string& error) {
  VaListArgs values(args);
  return FormatStatement(format, values, out, error);
}

bool FormatStatementF(std::string& out, std::string& error, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const bool ok = FormatStatement(format, args, out, error);
  va_end(args);
  return ok;
}

}  // namespace strata
