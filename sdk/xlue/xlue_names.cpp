#include "xlue_names.h"

namespace xlue {

namespace {

bool IsValidNamePart(const std::wstring& part) {
  if (part.empty() || part.size() > 200) return false;
  if (part == L"." || part == L"..") return false;
  for (wchar_t c : part) {
    if (c < 0x20) return false;
    switch (c) {
      case L'\\': case L'/': case L':': case L'*': case L'?':
      case L'"': case L'<': case L'>': case L'|':
        return false;
      default:
        break;
    }
  }
  const wchar_t last = part.back();
  return last != L'.' && last != L' ';
}

}  // namespace

bool IsValidPackageName(const std::wstring& name) { return IsValidNamePart(name); }

bool ModuleFilePath(const std::wstring& module, std::wstring& relativePath) {
  relativePath.clear();
  std::wstring path;
  size_t start = 0;
  for (;;) {
    const size_t dot = module.find(L'.', start);
    const std::wstring part =
        module.substr(start, dot == std::wstring::npos ? std::wstring::npos : dot - start);
    if (!IsValidNamePart(part)) return false;
    if (!path.empty()) path += L'\\';
    path += part;
    if (dot == std::wstring::npos) break;
    start = dot + 1;
  }
  relativePath = path + L".lua";
  return true;
}

std::wstring ModuleChunkPath(const std::wstring& relativePath) {
  std::wstring out = relativePath;
  for (wchar_t& c : out) {
    if (c == L'\\') c = L'/';
  }
  return out;
}

std::string PackageChunkName(const std::string& packageUtf8, const std::string& fileUtf8) {
  return "@" + packageUtf8 + "/" + fileUtf8;
}

std::string PackageOfChunkName(const std::string& chunkName) {
  // Chunk names are UTF-8, where '/' is never part of another character.
  if (chunkName.size() < 2 || chunkName[0] != '@') return std::string();
  const size_t slash = chunkName.find('/', 1);
  if (slash == std::string::npos || slash == 1) return std::string();
  return chunkName.substr(1, slash - 1);
}

bool SplitDottedName(const std::string& name, std::vector<std::string>& parts) {
  parts.clear();
  size_t start = 0;
  for (;;) {
    const size_t dot = name.find('.', start);
    std::string part = name.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    if (part.empty()) {
      parts.clear();
      return false;
    }
    parts.push_back(std::move(part));
    if (dot == std::string::npos) return true;
    start = dot + 1;
  }
}

}  // namespace xlue
