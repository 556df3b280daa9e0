// Conversions between the system code page (the programs' own text), UTF-16
// (the engine's texts) and UTF-8 (the scripts' texts), always through UTF-16
// with the system's converters.
#pragma once

#include <string>

std::wstring AnsiToWide(const std::string& text);
std::string WideToAnsi(const std::wstring& text);
std::string WideToUtf8(const std::wstring& text);
std::wstring Utf8ToWide(const std::string& text);

std::string AnsiToUtf8(const std::string& text);
std::string Utf8ToAnsi(const std::string& text);

// A JSON text converted into the system code page, made readable for the
// byte-wise JSON reader: a double-byte character whose second byte is the
// backslash byte gets that byte doubled, so the reader takes it as an escaped
// backslash and gives the character back (this is how the JSON writer writes
// such characters too). Valid JSON holds such characters only in strings.
std::string JsonSafeAnsi(const std::string& ansiJson);
