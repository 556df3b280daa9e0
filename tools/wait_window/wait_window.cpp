// wait_window.exe: waits for a top-level window of a class to appear, or with
// --gone to disappear; with --end it ends the programs that own such windows
// (demo scripts; not part of the product).
//   wait_window <class> [--gone] [seconds]      exit 0 when it happened, 1 on time-out
//   wait_window <class> --end [seconds]         asks each window to close, then ends
//       the programs whose windows are still there after the seconds (default 5):
//       a launcher that shows a message waits for an answer nobody gives
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct Search {
  const char* className;
  std::vector<HWND> windows;
};

BOOL CALLBACK Collect(HWND hwnd, LPARAM param) {
  Search& search = *reinterpret_cast<Search*>(param);
  char cls[256] = {};
  GetClassNameA(hwnd, cls, sizeof cls);
  if (std::strcmp(cls, search.className) == 0) search.windows.push_back(hwnd);
  return TRUE;
}

std::vector<HWND> WindowsOf(const char* className) {
  Search search{className, {}};
  EnumWindows(Collect, reinterpret_cast<LPARAM>(&search));
  return search.windows;
}

// Waits until a window of the class is there (present) or none is; false on
// time-out.
bool WaitFor(const char* className, bool present, DWORD seconds) {
  const DWORD start = GetTickCount();
  while ((FindWindowA(className, nullptr) != nullptr) != present) {
    if (GetTickCount() - start >= seconds * 1000) return false;
    Sleep(50);
  }
  return true;
}

int End(const char* className, DWORD seconds) {
  for (HWND window : WindowsOf(className)) PostMessageA(window, WM_CLOSE, 0, 0);
  if (WaitFor(className, false, seconds)) return 0;
  for (HWND window : WindowsOf(className)) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    if (process == nullptr) continue;
    TerminateProcess(process, 1);
    WaitForSingleObject(process, 5000);
    CloseHandle(process);
  }
  return WaitFor(className, false, 5) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  bool gone = false, end = false, timed = false;
  DWORD seconds = 0;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--gone") == 0)
      gone = true;
    else if (std::strcmp(argv[i], "--end") == 0)
      end = true;
    else {
      seconds = std::strtoul(argv[i], nullptr, 10);
      timed = true;
    }
  }
  if (end) return End(argv[1], timed ? seconds : 5);
  return WaitFor(argv[1], !gone, timed ? seconds : 60) ? 0 : 1;
}
