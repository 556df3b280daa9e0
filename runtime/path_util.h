// Path rules shared by the programs, kept free of system calls where they can
// be: the programs hold paths in 1040-byte buffers and command lines in
// 2080-byte buffers, and refuse what does not fit rather than cutting it.
// Paths are code page 936 text and are walked character by character
// (code_page.h): the second byte of a double-byte character may be 0x5C and
// is never a separator. The pure rules are in path_util.cpp, the functions
// that ask the system in path_util_win.cpp.
#pragma once

#include <string>

// Buffer sizes, terminator included: at most 1039 and 2079 characters.
constexpr size_t kPathBufferSize = 1040;
constexpr size_t kCommandLineBufferSize = 2080;

// Resolves "." and ".." parts without touching the file system; "/" counts as
// "\\". A root ("C:\\", "\\\\server\\share\\", "\\") is kept and never climbed
// above. A relative path stays relative: one whose first part would read as
// a drive ("./c:x") keeps a leading ".\\". Canonicalising twice gives the
// same text as once.
std::string CanonicalizePath(const std::string& path);

// True unless the path starts with a backslash or a drive letter and colon.
bool IsRelativePath(const std::string& path);

// True when the last character is "\\" or "/" (not a character's second byte).
bool EndsWithSeparator(const std::string& path);

// `dir` and `name` joined with exactly one backslash; `name` alone when `dir`
// is empty.
std::string JoinPath(const std::string& dir, const std::string& name);

// The folder part of a path (no trailing backslash), or empty.
std::string ParentFolder(const std::string& path);
// The part after the last backslash.
std::string FileNamePart(const std::string& path);

// File-system queries (thin wrappers over GetFileAttributesA).
bool PathExists(const std::string& path);       // a file or a folder
bool FileExists(const std::string& path);       // a file, not a folder
bool FolderExists(const std::string& path);

// The running program's full path (canonical) and its folder. Empty on
// failure.
std::string ProgramPath();
std::string ProgramFolder();
// Makes the program's folder the current directory; false on failure.
bool EnterProgramFolder();
