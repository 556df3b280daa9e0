#include "file_names.h"

namespace download {

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool HasDrive(const std::wstring& p) {
  return p.size() >= 2 && p[1] == L':' &&
         ((p[0] >= L'A' && p[0] <= L'Z') || (p[0] >= L'a' && p[0] <= L'z'));
}

bool IsUnc(const std::wstring& p) { return p.size() >= 2 && IsSeparator(p[0]) && IsSeparator(p[1]); }

// The length of the part of `p` that is its root and never created.
size_t RootLength(const std::wstring& p) {
  if (IsUnc(p)) {
    size_t i = 2;
    for (int parts = 0; parts < 2 && i < p.size(); ++parts) {
      while (i < p.size() && !IsSeparator(p[i])) ++i;
      if (i < p.size()) ++i;
    }
    return i;
  }
  if (HasDrive(p)) return (p.size() >= 3 && IsSeparator(p[2])) ? 3 : 2;
  if (!p.empty() && IsSeparator(p[0])) return 1;
  return 0;
}

wchar_t Upper(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - 32) : c; }

// CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0-9 and LPT0-9 (with the digits
// ¹ ² ³ too): the system opens the device, whatever extension follows and
// whatever blanks precede it.
bool IsDeviceName(const std::wstring& name) {
  std::wstring base = name.substr(0, name.find(L'.'));
  while (!base.empty() && base.back() == L' ') base.pop_back();
  for (wchar_t& c : base) c = Upper(c);
  for (const wchar_t* device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"}) {
    if (base == device) return true;
  }
  if (base.size() != 4 || (base.compare(0, 3, L"COM") != 0 && base.compare(0, 3, L"LPT") != 0)) {
    return false;
  }
  const wchar_t digit = base[3];
  return (digit >= L'0' && digit <= L'9') || digit == 0x00B9 || digit == 0x00B2 || digit == 0x00B3;
}

std::wstring Backslashes(std::wstring p) {
  for (wchar_t& c : p)
    if (c == L'/') c = L'\\';
  return p;
}

}  // namespace

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name) {
  if (folder.empty()) return name;
  std::wstring out = folder;
  if (!IsSeparator(out.back())) out += L'\\';
  return out + name;
}

bool IsPlainFileName(const std::wstring& name) {
  if (name.empty() || name == L"." || name == L"..") return false;
  // The system drops a trailing dot or blank: the file would get another name.
  if (name.back() == L'.' || name.back() == L' ') return false;
  if (IsDeviceName(name)) return false;
  for (wchar_t c : name) {
    if (c < 0x20) return false;
    switch (c) {
      case L'\\': case L'/': case L':': case L'*': case L'?': case L'"': case L'<': case L'>':
      case L'|':
        return false;
      default:
        break;
    }
  }
  return true;
}

std::wstring TemporaryName(const std::wstring& name, uint32_t pid, uint32_t task) {
  const std::wstring suffix = L"." + std::to_wstring(pid) + L"-" + std::to_wstring(task) + L".part";
  if (name.size() + suffix.size() <= 255) return name + suffix;
  return L"~download" + suffix;
}

std::vector<std::wstring> FolderChain(const std::wstring& folder) {
  std::vector<std::wstring> chain;
  const size_t root = RootLength(folder);
  for (size_t i = root; i <= folder.size(); ++i) {
    if (i == folder.size() || IsSeparator(folder[i])) {
      if (i > root && !IsSeparator(folder[i - 1])) chain.push_back(folder.substr(0, i));
    }
  }
  return chain;
}

std::wstring ForFileApi(const std::wstring& path) {
  if (path.size() < MAX_PATH) return path;
  if (path.compare(0, 4, L"\\\\?\\") == 0) return path;
  if (HasDrive(path) && path.size() >= 3 && IsSeparator(path[2])) {
    return L"\\\\?\\" + Backslashes(path);
  }
  if (IsUnc(path)) return L"\\\\?\\UNC\\" + Backslashes(path.substr(2));
  return path;
}

std::wstring NtPathName(const std::wstring& path) {
  if (path.compare(0, 4, L"\\\\?\\") == 0) return L"\\??\\" + path.substr(4);
  if (HasDrive(path) && path.size() >= 3 && IsSeparator(path[2])) {
    return L"\\??\\" + Backslashes(path);
  }
  if (IsUnc(path)) return L"\\??\\UNC\\" + Backslashes(path.substr(2));
  return std::wstring();
}

}  // namespace download
