#include "sql_context.h"

namespace strata {

SqlContext NextSqlContext(SqlContext context, char c) {
  switch (context) {
    case SqlContext::kCode:
    case SqlContext::kCodeAfterDash:
    case SqlContext::kCodeAfterSlash:
      if (context == SqlContext::kCodeAfterDash && c == '-') return SqlContext::kLineComment;
      if (context == SqlContext::kCodeAfterSlash && c == '*') return SqlContext::kBlockComment;
      switch (c) {
        case '\'': return SqlContext::kSingleQuoted;
        case '"': return SqlContext::kDoubleQuoted;
        case '`': return SqlContext::kBackquoted;
        case '[': return SqlContext::kBracketed;
        case '-': return SqlContext::kCodeAfterDash;
        case '/': return SqlContext::kCodeAfterSlash;
        default: return SqlContext::kCode;
      }
    // A doubled quote closes the literal and opens it again at once.
    case SqlContext::kSingleQuoted:
      return c == '\'' ? SqlContext::kCode : context;
    case SqlContext::kDoubleQuoted:
      return c == '"' ? SqlContext::kCode : context;
    case SqlContext::kBackquoted:
      return c == '`' ? SqlContext::kCode : context;
    case SqlContext::kBracketed:
      return c == ']' ? SqlContext::kCode : context;
    case SqlContext::kLineComment:
      return c == '\n' ? SqlContext::kCode : context;
    case SqlContext::kBlockComment:
      return c == '*' ? SqlContext::kBlockCommentAfterStar : context;
    case SqlContext::kBlockCommentAfterStar:
      if (c == '/') return SqlContext::kCode;
      return c == '*' ? context : SqlContext::kBlockComment;
  }
  return context;
}

SqlContext SqlContextAfter(std::string_view text, SqlContext from) {
  for (char c : text) from = NextSqlContext(from, c);
  return from;
}

bool IsStatementText(SqlContext context) {
  return context == SqlContext::kCode || context == SqlContext::kCodeAfterDash ||
         context == SqlContext::kCodeAfterSlash;
}

bool IsQuoted(SqlContext context) {
  return context == SqlContext::kSingleQuoted || context == SqlContext::kDoubleQuoted ||
         context == SqlContext::kBackquoted || context == SqlContext::kBracketed;
}

char QuoteToDouble(SqlContext context) {
  switch (context) {
    case SqlContext::kSingleQuoted: return '\'';
    case SqlContext::kDoubleQuoted: return '"';
    case SqlContext::kBackquoted: return '`';
    default: return 0;
  }
}

}  // namespace strata
