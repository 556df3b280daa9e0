// wait_window.exe: waits for a top-level window of a class to appear, or with
// --gone to disappear (demo scripts; not part of the product).
//   wait_window <class> [--gone] [seconds]      exit 0 when it happened, 1 on time-out
#include <windows.h>

#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  bool gone = false;
  DWORD seconds = 60;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--gone") == 0)
      gone = true;
    else
      seconds = std::strtoul(argv[i], nullptr, 10);
  }
  const DWORD start = GetTickCount();
  for (;;) {
    const bool present = FindWindowA(argv[1], nullptr) != nullptr;
    if (present != gone) return 0;
    if (GetTickCount() - start >= seconds * 1000) return 1;
    Sleep(50);
  }
}
