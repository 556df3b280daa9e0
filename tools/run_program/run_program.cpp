// run_program.exe: runs one program the way a user or another program would,
// for trying it by hand under Wine's null graphics driver, where nothing is
// drawn and a dialog would wait unseen for ever (scripts/run.sh; not part of
// the product).
//   run_program [--close-after <s>] [--timeout <s>] [--no-follow] <program> [text...]
// The program starts in its own folder with the command line
// "<program>" <text...>: the texts joined by blanks exactly as given (the C
// runtime has already undone Wine's quoting of them), so plain JSON arrives as
// typed. It runs in a job, so the programs it starts are followed too (Portus
// starting the launcher, the launcher the updater): each one's start and end
// with its exit code is printed, and each dialog (window class "#32770") one
// of them shows, with its title and texts, closed (WM_COMMAND IDCANCEL) after
// --close-after seconds (default 2). Waits until every one has ended (only
// the first with --no-follow); ends them all after --timeout seconds
// (default 120). Prints the first program's full exit code last.
// Exit code: 0 when the program ran and ended, 1 on time-out, 2 on bad usage
// or when it could not start. Output is code page 936.
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

struct Shown {
  DWORD process = 0;
  DWORD seenAt = 0;
  bool reported = false;
};

struct Tracked {
  HANDLE handle = nullptr;
  std::string name;
  bool ended = false;
};

std::map<DWORD, Tracked> g_processes;
std::map<HWND, Shown> g_dialogs;

void Say(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Say(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

std::string WindowText(HWND hwnd) {
  char buffer[8192];
  const int n = GetWindowTextA(hwnd, buffer, sizeof buffer);
  return n > 0 ? std::string(buffer, n) : std::string();
}

BOOL CALLBACK CollectDialog(HWND hwnd, LPARAM) {
  char cls[16];
  if (GetClassNameA(hwnd, cls, sizeof cls) == 0 || std::strcmp(cls, "#32770") != 0) return TRUE;
  DWORD process = 0;
  GetWindowThreadProcessId(hwnd, &process);
  // A dialog is filled in once it is visible.
  if (g_processes.count(process) == 0 || !IsWindowVisible(hwnd)) return TRUE;
  if (g_dialogs.count(hwnd) == 0) g_dialogs[hwnd] = Shown{process, GetTickCount(), false};
  return TRUE;
}

void Report(HWND dialog, const Shown& shown) {
  const unsigned long pid = shown.process;
  Say("[dialog of %s %lu] title: %s", g_processes[shown.process].name.c_str(), pid,
      WindowText(dialog).c_str());
  for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    char cls[32];
    if (GetClassNameA(child, cls, sizeof cls) == 0) continue;
    const std::string text = WindowText(child);
    if (text.empty()) continue;
    const bool button = lstrcmpiA(cls, "Button") == 0;
    if (!button && lstrcmpiA(cls, "Static") != 0 && lstrcmpiA(cls, "Edit") != 0) continue;
    Say("[dialog of %s %lu] %s: %s", g_processes[shown.process].name.c_str(), pid,
        button ? "button" : "text", text.c_str());
  }
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

void Track(DWORD pid, HANDLE handle, const std::string& name) {
  g_processes[pid] = Tracked{handle, name, false};
  Say("[started] %s, process %lu", name.c_str(), static_cast<unsigned long>(pid));
}

// Picks up the processes the job holds that are not followed yet.
void FollowJob(HANDLE job) {
  struct {
    JOBOBJECT_BASIC_PROCESS_ID_LIST list;
    ULONG_PTR more[63];
  } ids{};
  ids.list.NumberOfAssignedProcesses = 64;
  if (!QueryInformationJobObject(job, JobObjectBasicProcessIdList, &ids, sizeof ids, nullptr)) return;
  for (DWORD k = 0; k < ids.list.NumberOfProcessIdsInList; ++k) {
    const DWORD pid = static_cast<DWORD>(ids.list.ProcessIdList[k]);
    if (g_processes.count(pid)) continue;
    HANDLE handle = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!handle) continue;
    char path[MAX_PATH * 2];
    DWORD size = sizeof path;
    const std::string name = QueryFullProcessImageNameA(handle, 0, path, &size)
                                 ? BaseName(std::string(path, size))
                                 : std::string("?");
    Track(pid, handle, name);
  }
}

// Reports the ends; true while any followed process still runs.
bool NoteEnds() {
  bool running = false;
  for (auto& entry : g_processes) {
    Tracked& p = entry.second;
    if (p.ended) continue;
    if (WaitForSingleObject(p.handle, 0) != WAIT_OBJECT_0) {
      running = true;
      continue;
    }
    p.ended = true;
    DWORD code = 0;
    GetExitCodeProcess(p.handle, &code);
    Say("[ended] %s, process %lu: exit code %ld (0x%08lX)", p.name.c_str(),
        static_cast<unsigned long>(entry.first), static_cast<long>(static_cast<LONG>(code)),
        static_cast<unsigned long>(code));
  }
  return running;
}

void HandleDialogs(DWORD closeAfter) {
  EnumWindows(CollectDialog, 0);
  for (auto it = g_dialogs.begin(); it != g_dialogs.end();) {
    if (!IsWindow(it->first)) {
      it = g_dialogs.erase(it);
      continue;
    }
    Shown& shown = it->second;
    // Give the dialog a moment to fill in its texts.
    if (!shown.reported && GetTickCount() - shown.seenAt >= 200) {
      Report(it->first, shown);
      shown.reported = true;
    }
    if (shown.reported && GetTickCount() - shown.seenAt >= closeAfter * 1000) {
      Say("[dialog of %s %lu] closed after %lu s", g_processes[shown.process].name.c_str(),
          static_cast<unsigned long>(shown.process), static_cast<unsigned long>(closeAfter));
      PostMessageA(it->first, WM_COMMAND, IDCANCEL, 0);
      shown.seenAt = GetTickCount();  // again after as long, should it stay
    }
    ++it;
  }
}

DWORD Seconds(const char* text) {
  char* end = nullptr;
  const unsigned long value = std::strtoul(text, &end, 10);
  return (end && *end == '\0' && value <= 86400) ? static_cast<DWORD>(value) : MAXDWORD;
}

}  // namespace

int main(int argc, char** argv) {
  DWORD closeAfter = 2, timeout = 120;
  bool follow = true;
  int i = 1;
  while (i < argc) {
    if (std::strcmp(argv[i], "--no-follow") == 0) {
      follow = false;
      ++i;
      continue;
    }
    DWORD* target = std::strcmp(argv[i], "--close-after") == 0 ? &closeAfter
                    : std::strcmp(argv[i], "--timeout") == 0   ? &timeout
                                                                : nullptr;
    if (!target || i + 1 >= argc) break;
    *target = Seconds(argv[i + 1]);
    if (*target == MAXDWORD) {
      std::fprintf(stderr, "run_program: '%s' is not a number of seconds\n", argv[i + 1]);
      return 2;
    }
    i += 2;
  }
  if (i >= argc) {
    std::fprintf(stderr,
                 "usage: run_program [--close-after <s>] [--timeout <s>] [--no-follow] <program> [text...]\n");
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

  // The job follows the programs it starts; without one only the first.
  HANDLE job = CreateJobObjectA(nullptr, nullptr);
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  std::string mutableLine = commandLine;
  if (!CreateProcessA(program.c_str(), &mutableLine[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                      nullptr, folder.c_str(), &si, &pi)) {
    std::fprintf(stderr, "run_program: cannot start %s (error %lu)\n", program.c_str(),
                 static_cast<unsigned long>(GetLastError()));
    return 2;
  }
  if (job && !AssignProcessToJobObject(job, pi.hProcess)) {
    Say("[note] the programs it starts are not followed (job: error %lu)",
        static_cast<unsigned long>(GetLastError()));
    CloseHandle(job);
    job = nullptr;
  }
  Say("[command line] %s", commandLine.c_str());
  Track(pi.dwProcessId, pi.hProcess, BaseName(program));
  ResumeThread(pi.hThread);
  CloseHandle(pi.hThread);

  const DWORD start = GetTickCount();
  bool timedOut = false;
  for (;;) {
    if (job && follow) FollowJob(job);
    HandleDialogs(closeAfter);
    const bool running = NoteEnds();
    if (follow ? !running : g_processes[pi.dwProcessId].ended) break;
    if (GetTickCount() - start >= timeout * 1000) {
      timedOut = true;
      break;
    }
    Sleep(50);
  }
  if (timedOut) {
    Say("[timed out] still running after %lu s: ended", static_cast<unsigned long>(timeout));
    if (job) TerminateJobObject(job, 1);
    TerminateProcess(pi.hProcess, 1);
    WaitForSingleObject(pi.hProcess, 5000);
    return 1;
  }
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  Say("[exit code] %ld (0x%08lX) of %s", static_cast<long>(static_cast<LONG>(code)),
      static_cast<unsigned long>(code), BaseName(program).c_str());
  return 0;
}
