// Test helper: exits with the code given as its first argument (default 0).
// With a second argument it first writes its whole command line to that file
// (written aside and then renamed, so that a test waiting for the file never
// reads it half written).
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
  if (argc > 2) {
    const std::string aside = std::string(argv[2]) + ".part";
    HANDLE f = CreateFileA(aside.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f != INVALID_HANDLE_VALUE) {
      const char* line = GetCommandLineA();
      DWORD written = 0;
      WriteFile(f, line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
      CloseHandle(f);
      MoveFileExA(aside.c_str(), argv[2], MOVEFILE_REPLACE_EXISTING);
    }
  }
  return argc > 1 ? std::atoi(argv[1]) : 0;
}
