// Forming a statement text from a format with printf conversions, so that a
// text substituted inside a quoted literal of the format reads back exactly
// as it was given.
#pragma once

#include <cstdarg>
#include <string>

namespace strata {

// Fills the conversions of `format` (flags, width, precision and the length
// modifiers hh h l ll z I64 on d i u o x X c s f F e E g G, and %%) into `out`.
// A %s argument that lands inside a '...' or "..." literal of the format has
// that quote character doubled; elsewhere it is copied unchanged. A null %s
// argument is an empty text. False, with a reason in `error`, for a
// conversion this does not support (such as * widths or %n).
bool FormatStatement(const char* format, va_list args, std::string& out, std::string& error);

// Convenience form for tests and fixed statements.
bool FormatStatementF(std::string& out, std::string& error, const char* format, ...);

}  // namespace strata
