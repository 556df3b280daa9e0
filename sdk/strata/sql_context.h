// Where SQLite's tokenizer stands after some statement text, as far as placing
// a value into the text is concerned: in plain statement text, inside a quoted
// literal or identifier, or inside a comment.
//
// SQLite reads the statement byte by byte as UTF-8, where no byte of a
// multi-byte character is below 0x80; so does this. (A code page 936
// character's second byte 0x5B is a '[' to SQLite, whatever the code page
// says: what matters here is how SQLite reads the text.)
#pragma once

#include <string_view>

namespace strata {

enum class SqlContext : unsigned char {
  kCode,                   // statement text
  kCodeAfterDash,          // statement text just after a '-'
  kCodeAfterSlash,         // statement text just after a '/'
  kSingleQuoted,           // '...'  (a quote inside is doubled)
  kDoubleQuoted,           // "..."  (likewise)
  kBackquoted,             // `...`  (likewise)
  kBracketed,              // [...]  (cannot hold a ']' at all)
  kLineComment,            // -- up to the end of the line
  kBlockComment,           // /* ... */
  kBlockCommentAfterStar,  // inside /* ... just after a '*'
};

// The context after `c` in `context`.
SqlContext NextSqlContext(SqlContext context, char c);

// The context after all of `text`, starting in `from`.
SqlContext SqlContextAfter(std::string_view text, SqlContext from = SqlContext::kCode);

// True for the three statement-text contexts.
bool IsStatementText(SqlContext context);

// True inside a quoted literal or identifier, where an end of the text would
// leave a quote unbalanced.
bool IsQuoted(SqlContext context);

// The quote character that a value placed in `context` has doubled; 0 where
// nothing is doubled.
char QuoteToDouble(SqlContext context);

}  // namespace strata
