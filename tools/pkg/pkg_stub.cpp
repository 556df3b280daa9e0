// The program inside every "<name>.pkg.exe": a silent installer whose payload
// files, package name and exit code are resources linked in when the package
// is built (tools/pkg/LumoraPackage.cmake). Run as
//   "<pkg>" /SILENT, /VERYSILENT /DIR="<folder>" [/LOG="<file>"]
// it writes its payload into the folder, logs what it did, and exits with 0 or
// with the exit code the package was built with (then it installs nothing).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "code_page.h"
#include "installer_args.h"
#include "pkg_ids.h"

namespace {

class InstallLog {
 public:
  explicit InstallLog(const std::string& path) {
    if (!path.empty())
      file_ = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  ~InstallLog() {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  }
  InstallLog(const InstallLog&) = delete;
  InstallLog& operator=(const InstallLog&) = delete;

  void Line(const std::string& text) {
    if (file_ == INVALID_HANDLE_VALUE) return;
    const std::string line = text + "\r\n";
    DWORD written = 0;
    WriteFile(file_, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  }

 private:
  HANDLE file_ = INVALID_HANDLE_VALUE;
};

std::string ResourceString(UINT id) {
  char buffer[1024];
  const int n = LoadStringA(GetModuleHandleA(nullptr), id, buffer, sizeof buffer);
  return n > 0 ? std::string(buffer, n) : std::string();
}

// The bytes of payload resource `id`; false when there is none.
bool PayloadBytes(UINT id, const char*& data, DWORD& size) {
  HMODULE self = GetModuleHandleA(nullptr);
  HRSRC info = FindResourceA(self, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(10));  // RT_RCDATA
  if (!info) return false;
  HGLOBAL loaded = LoadResource(self, info);
  if (!loaded) return false;
  data = static_cast<const char*>(LockResource(loaded));
  size = SizeofResource(self, info);
  return data != nullptr || size == 0;
}

// Creates the folders of `filePath`, walking it character by character: a
// folder such as "下载淺" ends in the byte 0x5C, which is no separator there.
void CreateFolders(const std::string& filePath) {
  for (size_t i = 0; i < filePath.size(); i = cp936::NextChar(filePath, i)) {
    if (cp936::CharLength(filePath, i) != 1 || (filePath[i] != '\\' && filePath[i] != '/'))
      continue;
    const std::string prefix = filePath.substr(0, i);
    if (prefix.empty() || cp936::EndsWithOneOf(prefix, ":")) continue;
    CreateDirectoryA(prefix.c_str(), nullptr);
  }
}

DWORD WriteWhole(const std::string& path, const char* data, DWORD size) {
  HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return GetLastError();
  DWORD written = 0;
  const BOOL ok = WriteFile(f, data, size, &written, nullptr);
  const DWORD error = ok ? (written == size ? 0 : ERROR_WRITE_FAULT) : GetLastError();
  CloseHandle(f);
  return error;
}

int Install(const char* tail) {
  const InstallerArgs args = ParseInstallerArgs(tail ? tail : "");
  InstallLog log(args.log);
  const std::string name = ResourceString(kPkgNameString);
  const int exitCode = std::atoi(ResourceString(kPkgExitCodeString).c_str());
  log.Line("Package: " + name);
  log.Line(std::string("Command line: ") + (tail ? tail : ""));
  if (!args.unknown.empty()) log.Line("Ignored switch: " + args.unknown);
  if (!args.hasDir || args.dir.empty()) {
    log.Line("No installation folder (/DIR) given: nothing installed");
    log.Line("Exit code: 2");
    return 2;
  }
  log.Line("Installation folder: " + args.dir);
  if (exitCode != 0) {
    log.Line("This package was built to fail: nothing installed");
    log.Line("Exit code: " + std::to_string(exitCode));
    return exitCode;
  }
  std::string folder = args.dir;
  if (!cp936::EndsWithOneOf(folder, "\\/")) folder += '\\';
  int files = 0;
  for (UINT id = kPkgFirstPayload;; ++id) {
    const char* data = nullptr;
    DWORD size = 0;
    if (!PayloadBytes(id, data, size)) break;
    const std::string target = folder + ResourceString(id);
    CreateFolders(target);
    const DWORD error = WriteWhole(target, data, size);
    if (error != 0) {
      log.Line("Failed to write " + target + " (error " + std::to_string(error) + ")");
      log.Line("Exit code: " + std::to_string(error));
      return static_cast<int>(error);
    }
    log.Line("Installed " + target + " (" + std::to_string(size) + " bytes)");
    ++files;
  }
  log.Line("Files installed: " + std::to_string(files));
  log.Line("Exit code: 0");
  return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  return Install(CommandLineTail(GetCommandLineA()).c_str());
}
