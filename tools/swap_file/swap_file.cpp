// swap_file.exe: a program that changes a file as soon as anyone lets it
// (tests of what holds a package against changes; not part of the product):
//   swap_file <file> <milliseconds>
// Tries to open <file> for writing (sharing everything) every millisecond and,
// the first time it can, writes "SWAPPED BY ANOTHER PROGRAM" over its start
// and ends with 0. Ends with 1 when it never could within <milliseconds>,
// 2 for bad arguments. It prints how many tries it took.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: swap_file <file> <milliseconds>\n");
    return 2;
  }
  const DWORD limit = static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10));
  const DWORD start = GetTickCount();
  static const char kSwapped[] = "SWAPPED BY ANOTHER PROGRAM";
  for (unsigned tries = 1;; ++tries) {
    HANDLE file = CreateFileA(argv[1], GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      const BOOL ok = WriteFile(file, kSwapped, sizeof kSwapped - 1, &written, nullptr);
      CloseHandle(file);
      if (ok && written == sizeof kSwapped - 1) {
        std::printf("swap_file: written after %u tries\n", tries);
        return 0;
      }
    }
    if (GetTickCount() - start >= limit) {
      std::printf("swap_file: never writable in %u tries (last error %lu)\n", tries,
                  GetLastError());
      return 1;
    }
    Sleep(1);
  }
}
