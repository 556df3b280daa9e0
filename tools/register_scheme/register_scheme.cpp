// Registers (or removes) a URL scheme whose links the system shell hands to
// Portus, as a browser would: the command is "\"<path>\\Portus.exe\" \"%1\"".
// The product itself never registers a scheme; this is for demos and tests.
//
//   register_scheme [--user | --machine] <scheme> <path of Portus.exe>
//   register_scheme [--user | --machine] --remove <scheme>
//
// --user writes below HKEY_CURRENT_USER\Software\Classes (the default on
// Windows), --machine below HKEY_LOCAL_MACHINE\Software\Classes (the default
// under Wine, whose shell ignores the per-user key for URL schemes).
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

// RFC 3986: a letter, then letters, digits, "+", "-" or ".".
bool IsValidScheme(const std::string& scheme) {
  if (scheme.empty() || scheme.size() > 64) return false;
  auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  if (!letter(scheme[0])) return false;
  for (char c : scheme)
    if (!letter(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.') return false;
  return true;
}

bool RunningUnderWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool SetText(HKEY root, const std::string& subKey, const char* name, const std::string& value) {
  HKEY key = nullptr;
  LONG rc = RegCreateKeyExA(root, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_SET_VALUE, nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) {
    std::fprintf(stderr, "cannot create key %s (error %ld)\n", subKey.c_str(), rc);
    return false;
  }
  rc = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                      static_cast<DWORD>(value.size() + 1));
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) {
    std::fprintf(stderr, "cannot write a value of %s (error %ld)\n", subKey.c_str(), rc);
    return false;
  }
  return true;
}

int Usage() {
  std::fprintf(stderr,
               "usage: register_scheme [--user | --machine] <scheme> <path of Portus.exe>\n"
               "       register_scheme [--user | --machine] --remove <scheme>\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  HKEY root = RunningUnderWine() ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
  bool remove = false;
  int i = 1;
  for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; ++i) {
    if (std::strcmp(argv[i], "--user") == 0) {
      root = HKEY_CURRENT_USER;
    } else if (std::strcmp(argv[i], "--machine") == 0) {
      root = HKEY_LOCAL_MACHINE;
    } else if (std::strcmp(argv[i], "--remove") == 0) {
      remove = true;
    } else {
      return Usage();
    }
  }
  if (argc - i != (remove ? 1 : 2)) return Usage();
  const std::string scheme = argv[i];
  if (!IsValidScheme(scheme)) {
    std::fprintf(stderr, "not a URL scheme name: '%s'\n", scheme.c_str());
    return 2;
  }
  const std::string base = "Software\\Classes\\" + scheme;
  const char* where = root == HKEY_LOCAL_MACHINE ? "HKLM" : "HKCU";

  if (remove) {
    const LONG rc = RegDeleteTreeA(root, base.c_str());
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) {
      std::fprintf(stderr, "cannot remove %s\\%s (error %ld)\n", where, base.c_str(), rc);
      return 1;
    }
    std::printf("removed %s\\%s\n", where, base.c_str());
    return 0;
  }

  char full[MAX_PATH];
  const DWORD n = GetFullPathNameA(argv[i + 1], MAX_PATH, full, nullptr);
  if (n == 0 || n >= MAX_PATH || GetFileAttributesA(full) == INVALID_FILE_ATTRIBUTES) {
    std::fprintf(stderr, "no such program: '%s'\n", argv[i + 1]);
    return 2;
  }
  const std::string command = "\"" + std::string(full, n) + "\" \"%1\"";
  if (!SetText(root, base, nullptr, "URL:" + scheme) || !SetText(root, base, "URL Protocol", "") ||
      !SetText(root, base + "\\shell\\open\\command", nullptr, command))
    return 1;
  std::printf("registered %s\\%s: %s\n", where, base.c_str(), command.c_str());
  return 0;
}
