// Forming a statement text from a format with printf conversions, so that a
// value placed inside a quoted literal of the format reads back exactly as it
// was given, and no value changes the statement's structure.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

namespace strata {

// The widest width or precision a conversion may ask for.
constexpr size_t kMaxConversionWidth = 4096;

// The size a conversion's length modifier names.
enum class ArgSize { kDefault, kChar, kShort, kLong, kLongLong, kSize };

// Where the conversions' values come from, in order: the C variable arguments
// in the library, any other source in tests.
class StatementArgs {
 public:
  virtual long long Signed(ArgSize size) = 0;            // d i
  virtual unsigned long long Unsigned(ArgSize size) = 0;  // u o x X
  virtual double Real() = 0;                              // f F e E g G
  virtual int Char() = 0;                                 // c
  virtual const char* Text() = 0;                         // s; null reads as ""

 protected:
  ~StatementArgs() = default;
};

// Fills the conversions of `format` (flags, width, precision and the length
// modifiers hh h l ll z I64 on d i u o x X c s f F e E g G, and %%) into `out`.
// The format is read with SQLite's lexical rules ('...', "...", `...`, [...],
// -- and /* */ comments). A value placed inside a '...', "..." or `...` has
// that quote character doubled; elsewhere it is copied unchanged. A precision
// on %s counts bytes but never cuts a code page 936 character in two.
// False, with a reason in `error`, for:
// - a conversion this does not support (such as * widths or %n), or a width
//   or precision above kMaxConversionWidth;
// - a format that ends inside a quoted literal or identifier;
// - a value that would change the statement's structure: close a [...] or a
//   comment, open a quote or a comment, or hold a zero byte.
bool FormatStatement(const char* format, StatementArgs& args, std::string& out,
                     std::string& error);

// The same with the values from a variable argument list.
bool FormatStatement(const char* format, va_list args, std::string& out, std::string& error);

// Convenience form for tests and fixed statements.
bool FormatStatementF(std::string& out, std::string& error, const char* format, ...);

}  // namespace strata
