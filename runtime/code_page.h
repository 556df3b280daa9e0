// Walking code page 936 text character by character. All program text is
// code page 936, where a byte from 0x81 to 0xFE starts a double-byte
// character and takes the next byte with it, whatever that byte is: the
// second byte may equal '\\' (0x5C), '|' (0x7C), '[' or ']' (e.g. 淺 is
// 9C 5C). A byte-wise search for a separator therefore finds one in the
// middle of such a character, and a byte-wise cut can split one in two.
// Every piece of the programs that looks for, strips or cuts at single-byte
// characters in text (paths above all) walks it with these functions.
//
// Header-only and free of system headers, so that the runtime, the DLLs of
// sdk/ and the native fuzz build share this one copy of the rule.
#pragma once

#include <cstddef>
#include <string_view>

namespace cp936 {

// True for a byte that starts a double-byte character.
constexpr bool IsLeadByte(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  return u >= 0x81 && u <= 0xFE;
}

// Length in bytes of the character starting at `at` (< text.size()): 2 for
// a lead byte followed by another byte, else 1. A lead byte at the very end
// stands alone.
constexpr size_t CharLength(std::string_view text, size_t at) {
  return IsLeadByte(text[at]) && at + 1 < text.size() ? 2 : 1;
}

// Where the character after the one starting at `at` begins.
constexpr size_t NextChar(std::string_view text, size_t at) {
  return at + CharLength(text, at);
}

// Where the last character of `text` begins; npos for an empty text.
constexpr size_t LastCharStart(std::string_view text) {
  size_t last = std::string_view::npos;
  for (size_t i = 0; i < text.size(); i = NextChar(text, i)) last = i;
  return last;
}

// True when `text` ends in a lead byte that has no second byte.
constexpr bool EndsInsideChar(std::string_view text) {
  const size_t last = LastCharStart(text);
  return last != std::string_view::npos && IsLeadByte(text[last]) && last + 1 == text.size();
}

// True when the last character of `text` is a single-byte one of `chars`.
constexpr bool EndsWithOneOf(std::string_view text, std::string_view chars) {
  const size_t last = LastCharStart(text);
  return last != std::string_view::npos && last + 1 == text.size() &&
         !IsLeadByte(text[last]) && chars.find(text[last]) != std::string_view::npos;
}

// The first character at or after `from` (a character boundary) that is a
// single-byte one of `chars`; npos when there is none.
constexpr size_t FindFirstOf(std::string_view text, std::string_view chars, size_t from = 0) {
  for (size_t i = from; i < text.size(); i = NextChar(text, i)) {
    if (CharLength(text, i) == 1 && chars.find(text[i]) != std::string_view::npos) return i;
  }
  return std::string_view::npos;
}

// The last character that is a single-byte one of `chars`; npos when none.
constexpr size_t FindLastOf(std::string_view text, std::string_view chars) {
  size_t found = std::string_view::npos;
  for (size_t i = 0; i < text.size(); i = NextChar(text, i)) {
    if (CharLength(text, i) == 1 && chars.find(text[i]) != std::string_view::npos) found = i;
  }
  return found;
}

// The first occurrence of `needle` that starts on a character boundary at or
// after `from` (itself a boundary); npos when there is none.
constexpr size_t Find(std::string_view text, std::string_view needle, size_t from = 0) {
  for (size_t i = from; i < text.size(); i = NextChar(text, i)) {
    if (text.substr(i, needle.size()) == needle) return i;
  }
  return needle.empty() && from == text.size() ? from : std::string_view::npos;
}

// The length of the longest start of `text` that holds at most `maxBytes`
// bytes and does not end inside a character: where to cut.
constexpr size_t CutLength(std::string_view text, size_t maxBytes) {
  if (text.size() <= maxBytes) return text.size();
  size_t end = 0;
  for (size_t i = 0; i < text.size(); i = NextChar(text, i)) {
    if (NextChar(text, i) > maxBytes) break;
    end = NextChar(text, i);
  }
  return end;
}

}  // namespace cp936
