// Test helper: sleeps for the milliseconds given (default 60000), then exits 0.
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
  Sleep(argc > 1 ? static_cast<DWORD>(std::strtoul(argv[1], nullptr, 10)) : 60000);
  return 0;
}
