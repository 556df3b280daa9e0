// The pure path rules. Paths are code page 936 text: they are walked with the
// double-byte-aware helpers of code_page.h, so that a character whose second
// byte is 0x5C is never taken for a separator. The file-system queries and
// the program's own path live in path_util_win.cpp.
#include "path_util.h"

#include <vector>

#include "code_page.h"

namespace {

constexpr std::string_view kSeparators = "\\/";

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// "X:" at the start. Letters and ':' are single-byte characters, so two
// bytes decide it.
bool HasDrive(std::string_view path) {
  return path.size() >= 2 && path[1] == ':' && IsDriveLetter(path[0]);
}

// The end of the part that starts at `from` (a character boundary): the
// next separator character, or the end of the text.
size_t PartEnd(std::string_view path, size_t from) {
  const size_t end = cp936::FindFirstOf(path, kSeparators, from);
  return end == std::string_view::npos ? path.size() : end;
}

// Length of the root prefix that ".." never removes.
size_t RootLength(std::string_view p) {
  if (p.size() >= 2 && IsSeparator(p[0]) && IsSeparator(p[1])) {
    // \\server\share\ : two more parts belong to the root.
    size_t i = 2;
    for (int parts = 0; parts < 2 && i < p.size(); ++parts) {
      i = PartEnd(p, i);
      if (i < p.size()) ++i;
    }
    return i;
  }
  if (HasDrive(p)) return (p.size() >= 3 && IsSeparator(p[2])) ? 3 : 2;
  if (!p.empty() && IsSeparator(p[0])) return 1;
  return 0;
}

}  // namespace

std::string CanonicalizePath(const std::string& path) {
  const size_t rootLength = RootLength(path);
  std::string root = path.substr(0, rootLength);
  // Only separators are replaced, never a character's second byte.
  for (size_t i = 0; i < root.size(); i = cp936::NextChar(root, i))
    if (root[i] == '/') root[i] = '\\';
  std::vector<std::string> parts;
  size_t i = rootLength;
  while (i <= path.size()) {
    const size_t end = PartEnd(path, i);
    const std::string part = path.substr(i, end - i);
    if (part == "..") {
      if (!parts.empty() && parts.back() != "..") {
        parts.pop_back();
      } else if (rootLength == 0) {
        parts.push_back(part);  // a relative path may start above its base
      }
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    i = end + 1;
  }
  std::string out = root;
  // A relative path whose first part looks like a drive ("./c:x") keeps a
  // leading ".\": without it the result would name a drive and no longer be
  // joined to its base folder.
  if (rootLength == 0 && !parts.empty() && HasDrive(parts.front())) out = ".\\";
  for (size_t k = 0; k < parts.size(); ++k) {
    if (k > 0) out += '\\';
    out += parts[k];
  }
  // Keep a trailing separator when the input named a folder that way.
  if (!parts.empty() && EndsWithSeparator(path)) out += '\\';
  return out;
}

bool IsRelativePath(const std::string& path) {
  if (path.empty()) return true;
  return !(IsSeparator(path[0]) || HasDrive(path));
}

bool EndsWithSeparator(const std::string& path) {
  return cp936::EndsWithOneOf(path, kSeparators);
}

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  std::string out = dir;
  if (!EndsWithSeparator(out)) out += '\\';
  // Separators are single-byte characters: each one skipped ends on a
  // character boundary.
  size_t skip = 0;
  while (skip < name.size() && IsSeparator(name[skip])) ++skip;
  out.append(name, skip, std::string::npos);
  return out;
}

std::string ParentFolder(const std::string& path) {
  const size_t slash = cp936::FindLastOf(path, kSeparators);
  if (slash == std::string::npos) return std::string();
  if (slash == 2 && HasDrive(path)) return path.substr(0, 3);  // "C:\" stays a root
  return path.substr(0, slash);
}

std::string FileNamePart(const std::string& path) {
  const size_t slash = cp936::FindLastOf(path, kSeparators);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}
