// File names of a download, as UTF-16 for the wide file functions: the final
// path, the temporary name the body is written to first, the folders to make
// on the way, and the form the file functions accept for long paths.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace download {

// `folder` and `name` joined with exactly one backslash ('/' counts as one);
// `name` alone when `folder` is empty.
std::wstring JoinPath(const std::wstring& folder, const std::wstring& name);

// A name that stays inside its folder and is the file it names: not empty,
// not "." or "..", no separator, no drive colon, no wildcard, no character a
// file name cannot hold, no device name of the system (CON, NUL, COM1,
// LPT9, ..., with or without an extension) and no trailing dot or blank.
bool IsPlainFileName(const std::wstring& name);

// The temporary name beside `name` for task `task` of process `pid`:
// "<name>.<pid>-<task>.part", or "~download.<pid>-<task>.part" when that would
// be longer than a file name may be (255 characters).
std::wstring TemporaryName(const std::wstring& name, uint32_t pid, uint32_t task);

// The folders to create, outermost first, for `folder` to exist: every prefix
// of it that ends before a separator, past its root (a drive "C:\", a share
// "\\server\share\" or a leading "\").
std::vector<std::wstring> FolderChain(const std::wstring& folder);

// `path` as the file functions take it: an absolute path of MAX_PATH
// characters or more gets the "\\?\" (or "\\?\UNC\") prefix and backslashes;
// anything else is returned unchanged.
std::wstring ForFileApi(const std::wstring& path);

// `path` as the system's own (NT) name, the form a rename through an open
// handle takes: "\??\C:\..." for a drive path, "\??\UNC\server\..." for
// a share, "\\?\" turned into "\??\"; empty for a relative path.
std::wstring NtPathName(const std::wstring& path);

}  // namespace download
