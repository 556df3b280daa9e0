// Names the engine is handed: package names, module names of `require`,
// dotted global-object names and the chunk names it gives package scripts.
// Pure functions: package and module names are checked as UTF-16 (after the
// conversion from the caller's code page), so no byte of a double-byte
// character is ever mistaken for a separator.
#pragma once

#include <string>
#include <vector>

namespace xlue {

// A package name is one folder name: not empty, at most 200 characters, no
// path separator, drive colon, wildcard or control character, not "." or
// "..", and no trailing dot or blank (Windows would drop them).
bool IsValidPackageName(const std::wstring& name);

// "a.b.c" → "a\\b\\c.lua" (below the package folder); each part must be a
// valid folder or file name. False for an empty part or a bad character.
bool ModuleFilePath(const std::wstring& module, std::wstring& relativePath);
// The same path with '/' separators, for the chunk name: "a/b/c.lua".
std::wstring ModuleChunkPath(const std::wstring& relativePath);

// The chunk name of a package file: "@" + package + "/" + file ('/'
// separators), all UTF-8.
std::string PackageChunkName(const std::string& packageUtf8, const std::string& fileUtf8);
// The package a chunk name belongs to ("@pkg/file" → "pkg"), or empty.
std::string PackageOfChunkName(const std::string& chunkName);

// "Lumo.App" → {"Lumo", "App"}. False for an empty name or an empty part.
bool SplitDottedName(const std::string& name, std::vector<std::string>& parts);

}  // namespace xlue
