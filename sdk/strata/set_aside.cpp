#include "set_aside.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "data_folder.h"
#include "scoped_handle.h"
#include "strata_log.h"

namespace strata {

namespace {

constexpr char kMark[] = ".damaged-";

// The copy number of a set-aside name: 1 without a "-<n>" after the stamp.
int CopyNumber(const std::string& name) {
  const size_t mark = name.rfind(kMark);
  if (mark == std::string::npos) return 1;
  const size_t suffix = mark + sizeof kMark - 1 + 15;  // past "yyyymmdd-hhmmss"
  if (suffix >= name.size() || name[suffix] != '-') return 1;
  return std::atoi(name.c_str() + suffix + 1);
}

std::string Stamp(const std::string& name) {
  const size_t mark = name.rfind(kMark);
  return mark == std::string::npos ? std::string() : name.substr(mark + sizeof kMark - 1, 15);
}

}  // namespace

std::string SetAsideName(const std::string& path, const std::string& stamp, int n) {
  std::string name = path + kMark + stamp;
  if (n > 1) name += "-" + std::to_string(n);
  return name;
}

int NextCopyNumber(const std::vector<std::string>& names, const std::string& stamp) {
  int next = 1;
  for (const std::string& name : names) {
    if (Stamp(name) == stamp && CopyNumber(name) >= next) next = CopyNumber(name) + 1;
  }
  return next;
}

std::vector<std::string> SetAsideCopiesToDelete(std::vector<std::string> names, size_t keep) {
  // Newest first: by stamp, then by copy number.
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    const std::string sa = Stamp(a), sb = Stamp(b);
    if (sa != sb) return sa > sb;
    return CopyNumber(a) > CopyNumber(b);
  });
  if (names.size() <= keep) return {};
  return std::vector<std::string>(names.begin() + static_cast<std::ptrdiff_t>(keep), names.end());
}

namespace {

// The set-aside copies of `path` there are, with their folder; journals left
// out.
std::vector<std::string> ExistingCopies(const std::string& path) {
  const std::string folder = ParentFolder(path);
  std::vector<std::string> copies;
  WIN32_FIND_DATAA found;
  ScopedFindHandle find(FindFirstFileA((path + kMark + "*").c_str(), &found));
  if (find) {
    do {
      const std::string name = found.cFileName;
      if (name.size() < 8 || name.compare(name.size() - 8, 8, "-journal") != 0)
        copies.push_back(folder + "\\" + name);
    } while (FindNextFileA(find.Get(), &found));
  }
  return copies;
}

}  // namespace

std::string SetAsideDamagedFile(const std::string& path) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%04u%02u%02u-%02u%02u%02u", now.wYear, now.wMonth, now.wDay,
                now.wHour, now.wMinute, now.wSecond);
  std::string aside;
  for (int n = NextCopyNumber(ExistingCopies(path), stamp);; ++n) {
    aside = SetAsideName(path, stamp, n);
    if (MoveFileExA(path.c_str(), aside.c_str(), 0)) break;
    const DWORD error = GetLastError();
    if ((error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) || n >= 1000) {
      Log("setting aside %s failed (error %lu)", path.c_str(), error);
      return std::string();
    }
  }
  // A journal left beside it belongs to the damaged file, not to the next one.
  const std::string journal = path + "-journal";
  if (GetFileAttributesA(journal.c_str()) != INVALID_FILE_ATTRIBUTES &&
      !MoveFileExA(journal.c_str(), (aside + "-journal").c_str(), 0)) {
    Log("moving the journal %s failed (error %lu)", journal.c_str(), GetLastError());
    DeleteFileA(journal.c_str());
  }
  for (const std::string& old : SetAsideCopiesToDelete(ExistingCopies(path), kSetAsideCopiesKept)) {
    DeleteFileA(old.c_str());
    DeleteFileA((old + "-journal").c_str());
  }
  return aside;
}

}  // namespace strata
