// \u escapes in JSON texts from outside. Many servers' JSON writers escape
// every non-ASCII character (\u901a\u77e5 for 通知); the JSON reader turns
// such an escape into UTF-8 bytes, while all text of the programs is code
// page 936. Before a text is read, the escapes of characters from U+0080 on
// are rewritten as the character's code page 936 bytes, so an escaped text
// reads exactly as the same text sent raw.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace rt {

// The code page 936 bytes of one Unicode code point (U+0080 and above);
// empty when code page 936 has no such character. The programs use the
// system's converter (json_unicode_win.cpp).
using CodePointConverter = std::string (*)(uint32_t codePoint);
std::string Cp936FromCodePoint(uint32_t codePoint);

// `text` with every well-formed \uXXXX escape (or surrogate pair) of U+0080
// and above inside a JSON string replaced by `convert`'s bytes, "?" when it
// gives none (also for an unpaired low surrogate or a high surrogate whose
// partner is not a low one). A byte 0x5C of the result (the second byte of
// e.g. 淺) is written as the escape \\, so the reader takes it as the byte
// it is. Strings are found as the reader finds them: byte by byte, '\\'
// escaping the next byte, with // and /* */ comments outside strings
// skipped; everything else, escapes below U+0080 and malformed escapes
// included, is left as it is for the reader to judge.
std::string ResolveUnicodeEscapes(std::string_view text, CodePointConverter convert);

// True when `text` holds the two bytes "\u" anywhere, so that
// ResolveUnicodeEscapes may change it.
bool MayHoldUnicodeEscapes(std::string_view text);

// A JSON text in code page 936 from a writer that knew only characters:
// every double-byte character whose second byte is 0x5C (淺 is 9C 5C) gets
// that byte escaped (9C 5C 5C), as a byte-wise writer like ours writes it.
// Such texts arise where a Unicode JSON text was converted to code page 936,
// and where a JSON text inside a string arrived in \u escapes. Applied only
// to a text that does not read as it stands: in one that does, these bytes
// already are escapes.
std::string EscapeSecondByteBackslashes(std::string_view text);
bool HasSecondByteBackslash(std::string_view text);

}  // namespace rt
