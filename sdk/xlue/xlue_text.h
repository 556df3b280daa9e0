// Text at the engine's edges. Inside Lua every text is UTF-8 (scripts are
// UTF-8 files); the host speaks UTF-16 (paths, error texts) and the system
// code page (package names, debug-log lines). Text that a script got from the
// host may still be in the system code page, so script text that is not valid
// UTF-8 is taken as system code page text.
#pragma once

#include <string>
#include <vector>

namespace xlue {

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF). Plain ASCII is UTF-8.
bool IsValidUtf8(const std::string& text);

// Strict conversions: false (and `out` empty) when the input does not convert.
bool Utf8ToWide(const std::string& text, std::wstring& out);
bool AcpToWide(const std::string& text, std::wstring& out);
std::string WideToUtf8(const std::wstring& text);
std::string WideToAcp(const std::wstring& text);

// Script text (UTF-8, or system code page when it is not valid UTF-8) to
// UTF-16 and to the system code page.
std::wstring ScriptTextToWide(const std::string& text);
std::string ScriptTextToAcp(const std::string& text);

// Splits text into lines, each ending with "\r\n" (a lone "\n" or "\r\n" ends
// a line; a last line without an ending gets one). Empty text gives one
// empty line, so every print is seen.
std::vector<std::string> SplitLines(const std::string& text);

}  // namespace xlue
