// run_program.exe: runs one program the way a user or another program would,
// for trying it by hand under Wine's null graphics driver, where nothing is
// drawn and a dialog would wait unseen for ever (scripts/run.sh; not part of
// the product).
//   run_program [--close-after <s>] [--timeout <s>] <program> [text...]
// The program starts in its own folder with the command line
// "<program>" <text...>: the texts joined by blanks exactly as given (the C
// runtime has already undone Wine's quoting of them), so plain JSON arrives as
// typed. Every dialog (window class "#32770") of any process of this Wine
// session that appears is printed with its title and texts and closed
// (WM_COMMAND IDCANCEL) after --close-after seconds (default 2). Then prints
// the program's full exit code. Ends it after --timeout seconds (default 120).
// Exit code: 0 when the program ran and ended, 1 on time-out, 2 on bad usage
// or when it could not start. Output is code page 936.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

namespace {

struct Shown {
  DWORD process = 0;
  DWORD seenAt = 0;
  bool reported = false;
};

struct Search {
  DWORD self;
  std::map<HWND, Shown>* shown;
};

BOOL CALLBACK CollectDialog(HWND hwnd, LPARAM param) {
  Search* search = reinterpret_cast<Search*>(param);
  char cls[16];
  if (GetClassNameA(hwnd, cls, sizeof cls) == 0 || std::strcmp(cls, "#32770") != 0) return TRUE;
  DWORD process = 0;
  GetWindowThreadProcessId(hwnd, &process);
  // A dialog is filled in once it is visible.
  if (process == search->self || !IsWindowVisible(hwnd)) return TRUE;
  if (search->shown->count(hwnd) == 0) (*search->shown)[hwnd] = Shown{process, GetTickCount(), false};
  return TRUE;
}

std::string WindowText(HWND hwnd) {
  char buffer[8192];
  const int n = GetWindowTextA(hwnd, buffer, sizeof buffer);
  return n > 0 ? std::string(buffer, n) : std::string();
}

void Report(HWND dialog, const Shown& shown) {
  std::printf("[dialog of process %lu] title: %s\n", static_cast<unsigned long>(shown.process),
              WindowText(dialog).c_str());
  for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    char cls[32];
    if (GetClassNameA(child, cls, sizeof cls) == 0) continue;
    const std::string text = WindowText(child);
    if (text.empty()) continue;
    const bool button = lstrcmpiA(cls, "Button") == 0;
    if (!button && lstrcmpiA(cls, "Static") != 0 && lstrcmpiA(cls, "Edit") != 0) continue;
    std::printf("[dialog of process %lu] %s: %s\n", static_cast<unsigned long>(shown.process),
                button ? "button" : "text", text.c_str());
  }
  std::fflush(stdout);
}

DWORD Seconds(const char* text) {
  char* end = nullptr;
  const unsigned long value = std::strtoul(text, &end, 10);
  return (end && *end == '\0' && value <= 86400) ? static_cast<DWORD>(value) : MAXDWORD;
}

}  // namespace

int main(int argc, char** argv) {
  DWORD closeAfter = 2, timeout = 120;
  int i = 1;
  for (; i + 1 < argc; i += 2) {
    DWORD* target = std::strcmp(argv[i], "--close-after") == 0 ? &closeAfter
                    : std::strcmp(argv[i], "--timeout") == 0   ? &timeout
                                                                : nullptr;
    if (!target) break;
    *target = Seconds(argv[i + 1]);
    if (*target == MAXDWORD) {
      std::fprintf(stderr, "run_program: '%s' is not a number of seconds\n", argv[i + 1]);
      return 2;
    }
  }
  if (i >= argc) {
    std::fprintf(stderr, "usage: run_program [--close-after <s>] [--timeout <s>] <program> [text...]\n");
    return 2;
  }
  char full[MAX_PATH * 2];
  char* name = nullptr;
  const DWORD length = GetFullPathNameA(argv[i], sizeof full, full, &name);
  if (length == 0 || length >= sizeof full || !name) {
    std::fprintf(stderr, "run_program: no such program path '%s' (error %lu)\n", argv[i],
                 static_cast<unsigned long>(GetLastError()));
    return 2;
  }
  const std::string program(full);
  const std::string folder(full, static_cast<size_t>(name - full));
  std::string commandLine = "\"" + program + "\"";
  for (int k = i + 1; k < argc; ++k) commandLine += std::string(" ") + argv[k];

  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  std::string mutableLine = commandLine;
  if (!CreateProcessA(program.c_str(), &mutableLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                      folder.c_str(), &si, &pi)) {
    std::fprintf(stderr, "run_program: cannot start %s (error %lu)\n", program.c_str(),
                 static_cast<unsigned long>(GetLastError()));
    return 2;
  }
  CloseHandle(pi.hThread);
  std::printf("[started] process %lu, command line: %s\n", static_cast<unsigned long>(pi.dwProcessId),
              commandLine.c_str());
  std::fflush(stdout);

  std::map<HWND, Shown> shown;
  Search search{GetCurrentProcessId(), &shown};
  const DWORD start = GetTickCount();
  bool ended = false;
  while (!(ended = WaitForSingleObject(pi.hProcess, 50) == WAIT_OBJECT_0)) {
    EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&search));
    for (auto it = shown.begin(); it != shown.end();) {
      if (!IsWindow(it->first)) {
        it = shown.erase(it);
        continue;
      }
      // Give the dialog a moment to fill in its texts.
      if (!it->second.reported && GetTickCount() - it->second.seenAt >= 200) {
        Report(it->first, it->second);
        it->second.reported = true;
      }
      if (it->second.reported && GetTickCount() - it->second.seenAt >= closeAfter * 1000) {
        std::printf("[dialog of process %lu] closed after %lu s\n",
                    static_cast<unsigned long>(it->second.process), static_cast<unsigned long>(closeAfter));
        std::fflush(stdout);
        PostMessageA(it->first, WM_COMMAND, IDCANCEL, 0);
        it->second.seenAt = GetTickCount();  // again after as long, should it stay
      }
      ++it;
    }
    if (GetTickCount() - start >= timeout * 1000) break;
  }
  if (!ended) {
    TerminateProcess(pi.hProcess, 1);
    WaitForSingleObject(pi.hProcess, 5000);
    std::printf("[timed out] still running after %lu s: ended\n", static_cast<unsigned long>(timeout));
    CloseHandle(pi.hProcess);
    return 1;
  }
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hProcess);
  std::printf("[exit code] %ld (0x%08lX)\n", static_cast<long>(static_cast<LONG>(code)),
              static_cast<unsigned long>(code));
  return 0;
}
