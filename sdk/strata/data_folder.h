// Where the library keeps its files: database files in "Config" and its log
// in "Log", both below the data folder (the program's folder by default).
#pragma once

#include <string>

namespace strata {

// The data folder without a trailing backslash.
std::string DataFolder();
// Null or empty restores the program's folder.
void SetDataFolder(const char* folder);

// "<folder>\Config\<name>.db". False when `name` is empty, "." or "..", or
// holds a character that cannot be part of a file name.
bool MakeInstancePath(const std::string& folder, const char* name, std::string& path);

// Creates `folder` and any missing parents; true when it exists afterwards.
bool EnsureFolder(const std::string& folder);
// The folder part of a file path ("" when it has none).
std::string ParentFolder(const std::string& path);

}  // namespace strata
