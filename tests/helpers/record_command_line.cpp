// Test helper: a stand-in for a program that others start. It writes its whole
// command line, unchanged, to "command_line.txt" beside itself and exits 0.
// The file appears complete or not at all (written aside, then renamed).
#include <windows.h>

#include <cstring>
#include <string>

#include "code_page.h"

int main() {
  char self[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return 2;
  std::string folder(self, n);
  folder.resize(cp936::FindLastOf(folder, "\\") + 1);
  const std::string aside = folder + "command_line.tmp";
  const std::string record = folder + "command_line.txt";

  HANDLE f = CreateFileA(aside.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return 3;
  const char* line = GetCommandLineA();
  DWORD written = 0;
  const BOOL ok = WriteFile(f, line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
  CloseHandle(f);
  if (!ok) return 4;
  return MoveFileExA(aside.c_str(), record.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 5;
}
