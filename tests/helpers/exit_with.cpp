// Test helper: exits with the code given as its first argument (default 0).
// With a second argument it first writes its whole command line to that file.
#include <windows.h>

#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  if (argc > 2) {
    HANDLE f = CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f != INVALID_HANDLE_VALUE) {
      const char* line = GetCommandLineA();
      DWORD written = 0;
      WriteFile(f, line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
      CloseHandle(f);
    }
  }
  return argc > 1 ? std::atoi(argv[1]) : 0;
}
