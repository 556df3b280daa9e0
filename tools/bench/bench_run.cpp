#include "bench_run.h"

#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "bench_figures.h"

namespace bench {
namespace {

constexpr DWORD kSampleMs = 5;

uint64_t LocalCreationTicks(HANDLE process) {
  FILETIME creation{}, exit{}, kernel{}, user{}, local{};
  SYSTEMTIME created{};
  if (!GetProcessTimes(process, &creation, &exit, &kernel, &user) ||
      !FileTimeToLocalFileTime(&creation, &local) || !FileTimeToSystemTime(&local, &created))
    return 0;
  return FileTicks(created);
}

std::string ImageName(HANDLE process) {
  char path[MAX_PATH] = {};
  DWORD size = MAX_PATH;
  if (!QueryFullProcessImageNameA(process, 0, path, &size)) return std::string();
  const char* slash = std::strrchr(path, '\\');
  return slash ? slash + 1 : path;
}

// The processes of the job now, by id.
std::vector<DWORD> JobProcesses(HANDLE job) {
  struct {
    JOBOBJECT_BASIC_PROCESS_ID_LIST list;
    ULONG_PTR more[63];
  } ids{};
  if (!QueryInformationJobObject(job, JobObjectBasicProcessIdList, &ids, sizeof ids, nullptr))
    return {};
  std::vector<DWORD> out;
  for (DWORD i = 0; i < ids.list.NumberOfProcessIdsInList && i < 64; ++i)
    out.push_back(static_cast<DWORD>(ids.list.ProcessIdList[i]));
  return out;
}

// Wine's own processes: its desktop and services, started by the first
// program that needs them and kept until the Wine server ends.
bool IsWineOwn(const std::string& name) {
  for (const char* own : {"explorer.exe", "services.exe", "winedevice.exe", "plugplay.exe",
                          "rpcss.exe", "svchost.exe"})
    if (lstrcmpiA(name.c_str(), own) == 0) return true;
  return false;
}

// Processes of the job still running, Wine's own left aside.
DWORD Running(HANDLE job, std::string* names = nullptr) {
  DWORD count = 0;
  for (DWORD id : JobProcesses(job)) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, id);
    if (process == nullptr) continue;
    const std::string name = ImageName(process);
    if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT && !IsWineOwn(name)) {
      ++count;
      if (names) *names += " " + name;
    }
    CloseHandle(process);
  }
  return count;
}

std::string Tail(const std::string& path, size_t lines) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "(no log at " + path + ")";
  std::stringstream all;
  all << in.rdbuf();
  std::string text = all.str();
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  size_t at = text.size();
  for (size_t n = 0; n <= lines && at != std::string::npos && at > 0; ++n)
    at = text.rfind('\n', at - 1);
  return text.substr(at == std::string::npos ? 0 : at + 1);
}

struct DialogSearch {
  DWORD id;
  std::string text;
};

BOOL CALLBACK CollectText(HWND child, LPARAM param) {
  char text[1024] = {};
  if (GetWindowTextA(child, text, sizeof text) > 0)
    reinterpret_cast<std::string*>(param)->append(std::string(text) + " | ");
  return TRUE;
}

BOOL CALLBACK FindDialog(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<DialogSearch*>(param);
  DWORD owner = 0;
  char name[16] = {};
  GetWindowThreadProcessId(window, &owner);
  if (owner != search->id || !IsWindowVisible(window) ||
      !GetClassNameA(window, name, sizeof name) || std::strcmp(name, "#32770") != 0)
    return TRUE;
  EnumChildWindows(window, CollectText, reinterpret_cast<LPARAM>(&search->text));
  if (search->text.empty()) search->text = "(a dialog without text)";
  return FALSE;
}

// The text of a dialog the process `id` shows (its controls' texts), or
// empty when it shows none: a program of the product shows one only when it
// failed.
std::string DialogOf(DWORD id) {
  DialogSearch search{id, std::string()};
  EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&search));
  return search.text;
}

// Text of the system code page as UTF-8, for the terminal Wine writes to.
std::string Utf8(const std::string& text) {
  const int wide = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0);
  if (wide <= 0) return text;
  std::wstring w(wide, L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &w[0], wide);
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, nullptr, 0, nullptr, nullptr);
  std::string out(bytes > 0 ? bytes : 0, '\0');
  if (bytes > 0) WideCharToMultiByte(CP_UTF8, 0, w.data(), wide, &out[0], bytes, nullptr, nullptr);
  return out;
}

std::string FirstLineOf(const char* unixPath, const char* prefix) {
  std::ifstream in(unixPath);
  std::string line;
  while (std::getline(in, line))
    if (prefix == nullptr || line.compare(0, std::strlen(prefix), prefix) == 0) return line;
  return std::string();
}

// Collects what a program writes to its standard output through a pipe.
class OutputPipe {
 public:
  explicit OutputPipe(std::string* sink) : sink_(sink) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    if (sink_ && CreatePipe(&read_, &write_, &inherit, 0))
      SetHandleInformation(read_, HANDLE_FLAG_INHERIT, 0);
  }
  ~OutputPipe() {
    CloseWriteEnd();
    if (read_) CloseHandle(read_);
  }
  bool Active() const { return write_ != nullptr; }
  void Attach(STARTUPINFOA& startup) const {
    startup.dwFlags |= STARTF_USESTDHANDLES;
    startup.hStdOutput = write_;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  }
  void CloseWriteEnd() {
    if (write_) CloseHandle(write_);
    write_ = nullptr;
  }
  // Takes what is waiting, without blocking.
  void Drain() {
    DWORD waiting = 0;
    char buffer[4096];
    while (read_ && PeekNamedPipe(read_, nullptr, 0, nullptr, &waiting, nullptr) && waiting > 0) {
      DWORD got = 0;
      if (!ReadFile(read_, buffer, sizeof buffer, &got, nullptr) || got == 0) break;
      sink_->append(buffer, got);
    }
  }

 private:
  std::string* sink_;
  HANDLE read_ = nullptr;
  HANDLE write_ = nullptr;
};

}  // namespace

double Run::MsToChild(const char* name) const {
  for (const Child& child : children)
    if (lstrcmpiA(child.name.c_str(), name) == 0 && child.created != 0 && created != 0)
      return (static_cast<double>(child.created) - static_cast<double>(created)) / 1e4;
  return -1;
}

Run RunToTheEnd(const std::string& commandLine, const std::string& dir, DWORD limitMs,
                DWORD expectedExit, std::string* output) {
  Run run;
  // Wine's desktop process starts with the first window a program makes; it
  // is started here, by this program, so that it never joins a job below
  // and outlives it.
  static const HWND desktop = GetDesktopWindow();
  (void)desktop;
  OutputPipe pipe(output);
  HANDLE job = CreateJobObjectA(nullptr, nullptr);
  if (job == nullptr) {
    run.failure = "CreateJobObject failed, error " + std::to_string(GetLastError());
    return run;
  }

  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  if (pipe.Active()) pipe.Attach(startup);
  PROCESS_INFORMATION info{};
  LARGE_INTEGER frequency, begin, now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&begin);
  const DWORD startTick = GetTickCount();
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, pipe.Active(), CREATE_SUSPENDED,
                      nullptr, dir.empty() ? nullptr : dir.c_str(), &startup, &info)) {
    run.failure = "CreateProcess failed, error " + std::to_string(GetLastError()) + ": " +
                  commandLine;
    CloseHandle(job);
    return run;
  }
  if (!AssignProcessToJobObject(job, info.hProcess)) {
    run.failure = "AssignProcessToJobObject failed, error " + std::to_string(GetLastError());
    TerminateProcess(info.hProcess, 1);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    CloseHandle(job);
    return run;
  }
  ResumeThread(info.hThread);
  pipe.CloseWriteEnd();  // the child holds its own
  run.created = LocalCreationTicks(info.hProcess);

  std::map<DWORD, HANDLE> seen;  // the children met so far
  auto look = [&] {
    for (DWORD id : JobProcesses(job)) {
      if (id == info.dwProcessId || seen.count(id)) continue;
      HANDLE child = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, id);
      seen[id] = child;
      if (child) run.children.push_back(Child{ImageName(child), LocalCreationTicks(child)});
    }
  };
  bool ended = false;
  std::string dialog;
  for (int sample = 0; GetTickCount() - startTick < limitMs; ++sample) {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(info.hProcess, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                             sizeof counters)) {
      run.peakPrivate = std::max(run.peakPrivate, counters.PeakPagefileUsage);
      run.peakWorkingSet = std::max(run.peakWorkingSet, counters.PeakWorkingSetSize);
    }
    look();
    if (output) pipe.Drain();
    // A failed start waits in its message dialog: no need to wait for the limit.
    if (sample % 20 == 19 && !(dialog = DialogOf(info.dwProcessId)).empty()) break;
    if (WaitForSingleObject(info.hProcess, kSampleMs) == WAIT_OBJECT_0) {
      ended = true;
      break;
    }
  }
  QueryPerformanceCounter(&now);
  run.wallMs = (now.QuadPart - begin.QuadPart) * 1000.0 / frequency.QuadPart;
  look();
  if (ended) {
    GetExitCodeProcess(info.hProcess, &run.exitCode);
    // Then everything it started: the hall above all.
    while (Running(job) > 0 && GetTickCount() - startTick < limitMs) {
      look();
      Sleep(10);
    }
  }
  if (output) pipe.Drain();
  std::string leftNames;
  const DWORD left = Running(job, &leftNames);
  if (!dialog.empty()) {
    run.failure = "it shows a dialog: " + dialog;
  } else if (!ended) {
    run.failure = "still running after " + std::to_string(limitMs) + " ms: " + commandLine;
  } else if (left > 0) {
    run.failure = std::to_string(left) + " process(es) it started still running after " +
                  std::to_string(limitMs) + " ms:" + leftNames;
  } else if (run.exitCode != expectedExit) {
    run.failure = "exit code " + std::to_string(static_cast<long>(run.exitCode)) + ", expected " +
                  std::to_string(static_cast<long>(expectedExit));
  } else {
    run.ok = true;
  }
  // What a failed run leaves behind ends here.
  if (!ended || left > 0 || !dialog.empty()) TerminateJobObject(job, 1);
  for (auto& entry : seen)
    if (entry.second) CloseHandle(entry.second);
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  CloseHandle(job);
  return run;
}

void Fail(const std::string& bench, const std::string& what, const std::string& log) {
  std::fprintf(stderr, "%s: FAILED: %s\n", bench.c_str(), Utf8(what).c_str());
  if (!log.empty())
    std::fprintf(stderr, "the log's last lines (%s):\n%s\n", Utf8(log).c_str(),
                 Utf8(Tail(log, 12)).c_str());
  std::fprintf(stderr, "%s: no figures: a benchmark with a failed run prints none\n",
               bench.c_str());
  std::fflush(stderr);
  std::exit(1);
}

void Require(const std::string& bench, const std::string& what, const Run& run,
             const std::string& log) {
  if (!run.ok) Fail(bench, what + ": " + run.failure, log);
}

double EmptyProgramMs(const std::string& bench, const std::string& binDir, int count) {
  std::vector<double> times;
  const std::string program = "\"" + binDir + "\\exit_with.exe\" 0";
  for (int i = 0; i < count; ++i) {
    const Run run = RunToTheEnd(program, binDir, 30000);
    Require(bench, "the empty program", run);
    times.push_back(run.wallMs);
  }
  return Median(times);
}

std::string MachineLine() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  char date[32];
  std::snprintf(date, sizeof date, "%04d-%02d-%02d %02d:%02d", now.wYear, now.wMonth, now.wDay,
                now.wHour, now.wMinute);
  SYSTEM_INFO system{};
  GetNativeSystemInfo(&system);
  std::string cpu = FirstLineOf("Z:\\proc\\cpuinfo", "model name");
  const size_t colon = cpu.find(':');
  cpu = colon == std::string::npos ? "?" : cpu.substr(colon + 2);
  std::string load = FirstLineOf("Z:\\proc\\loadavg", nullptr);
  // "0.52 0.61 0.70 1/234 5678": the three load averages.
  for (int spaces = 0, i = 0; i < static_cast<int>(load.size()); ++i)
    if (load[i] == ' ' && ++spaces == 3) load.resize(i);
  const char* wine = "?";
  if (HMODULE ntdll = GetModuleHandleA("ntdll.dll")) {
    using Version = const char*(__cdecl*)();
    if (auto get = reinterpret_cast<Version>(
            reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version"))))
      wine = get();
  }
  char text[512];
  std::snprintf(text, sizeof text, "%s, %lu cores (%s), load average %s, Wine %s", date,
                static_cast<unsigned long>(system.dwNumberOfProcessors), cpu.c_str(),
                load.empty() ? "?" : load.c_str(), wine);
  return text;
}

}  // namespace bench
