// bench_child.exe: a program for the benchmark runner's tests (not part of
// the product).
//   bench_child spawn <program> [argument]   starts the program and ends at once
//   bench_child box <text>                   shows a message box with the text
//   bench_child print <text>                 writes the text to its output
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  if (std::strcmp(argv[1], "spawn") == 0) {
    std::string line = "\"" + std::string(argv[2]) + "\"";
    if (argc > 3) line += " " + std::string(argv[3]);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &info))
      return 3;
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return 0;
  }
  if (std::strcmp(argv[1], "box") == 0) {
    MessageBoxA(nullptr, argv[2], "bench_child", MB_OK);
    return 0;
  }
  if (std::strcmp(argv[1], "print") == 0) {
    std::fputs(argv[2], stdout);
    return 0;
  }
  return 2;
}
