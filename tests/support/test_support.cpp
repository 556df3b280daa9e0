#include "test_support.h"

#include <gtest/gtest.h>
#include <shellapi.h>
#include <tlhelp32.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "code_page.h"
#include "log_file.h"

namespace testing_support {

namespace {

// Each test process logs to a file of its own, so that test programs run in
// parallel from one folder never truncate each other's log.
std::string OwnLogName() {
  char name[64];
  std::snprintf(name, sizeof name, "Log\\test_%lu.log", GetCurrentProcessId());
  return name;
}

// Beside the test program, wherever it was started from: the log is read
// from there (OwnLogPath), and no Log folder appears in the current one.
struct UseOwnLog {
  UseOwnLog() {
    CreateDirectoryA((ProgramDir() + "Log").c_str(), nullptr);
    SetLogFileName(OwnLogPath().c_str());
    WriteLog("test log");  // opens (and creates) the file now
  }
} g_useOwnLog;


}  // namespace

DWORD TimeFactor() {
  static const DWORD factor = [] {
    char text[16] = {};
    const DWORD n = GetEnvironmentVariableA("LUMORA_TEST_TIME_FACTOR", text, sizeof text);
    if (n == 0 || n >= sizeof text) return DWORD{1};
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    return (*end == '\0' && value >= 1 && value <= 100) ? static_cast<DWORD>(value) : DWORD{1};
  }();
  return factor;
}

DWORD Budget(DWORD ms) {
  if (ms == INFINITE) return ms;
  const unsigned long long scaled = static_cast<unsigned long long>(ms) * TimeFactor();
  return scaled >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(scaled);
}

std::vector<std::string> FolderNames(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    const std::string name = data.cFileName;
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileA(find, &data));
  FindClose(find);
  std::sort(names.begin(), names.end());
  return names;
}

void RemoveTree(const std::string& path) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((path + "\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = data.cFileName;
      if (name == "." || name == "..") continue;
      const std::string child = path + "\\" + name;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(child);
      } else {
        SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(child.c_str());
      }
    } while (FindNextFileA(find, &data));
    FindClose(find);
  }
  RemoveDirectoryA(path.c_str());
}

bool CopyTree(const std::string& from, const std::string& to) {
  CreateDirectoryA(to.c_str(), nullptr);
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((from + "\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  do {
    const std::string name = data.cFileName;
    if (name == "." || name == "..") continue;
    const std::string source = from + "\\" + name;
    const std::string target = to + "\\" + name;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      ok = CopyTree(source, target) && ok;
    else
      ok = CopyFileA(source.c_str(), target.c_str(), FALSE) && ok;
  } while (FindNextFileA(find, &data));
  FindClose(find);
  return ok;
}

std::string EnvelopeBytes(const std::string& envelope) {
  std::string out;
  uint32_t acc = 0;
  int bits = 0;
  for (size_t i = 10; i < envelope.size(); ++i) {
    const char c = envelope[i];
    acc = (acc << 5) | static_cast<uint32_t>(c <= '9' ? c - '0' : c - 'A' + 10);
    bits += 5;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((acc >> bits) & 0xFF);
    }
  }
  return out;
}

std::string InflateRaw(const std::string& compressed) {
  z_stream stream{};
  if (inflateInit2(&stream, -15) != Z_OK) return "<init failed>";
  std::string out(1 << 16, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
  stream.avail_in = static_cast<uInt>(compressed.size());
  stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
  stream.avail_out = static_cast<uInt>(out.size());
  const int code = inflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  inflateEnd(&stream);
  return code == Z_STREAM_END ? out : "<inflate failed>";
}

std::string OwnLogPath() { return ProgramDir() + OwnLogName(); }

std::string ProgramDir() {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  const std::string dir(path, n);
  return dir.substr(0, cp936::FindLastOf(dir, "\\") + 1);
}

TempDir::TempDir(TempName kind) {
  char temp[MAX_PATH];
  const DWORD n = GetTempPathA(MAX_PATH, temp);
  std::string base = n > 0 && n < MAX_PATH ? std::string(temp, n) : std::string("C:\\");
  std::string tail;
  if (kind == TempName::kChinese) tail = std::string("_") + kChineseFolderTail;
  if (kind == TempName::kChineseAtRoot) {
    base = base.substr(0, 3);  // the drive's root, "C:\\"
    tail = "_游戏大厅";
  }
  static LONG counter = 0;
  for (int attempt = 0;; ++attempt) {
    char name[MAX_PATH + 64];
    std::snprintf(name, sizeof name, "%slumora_%lu_%ld_%lu%s", base.c_str(),
                  GetCurrentProcessId(), InterlockedIncrement(&counter), GetTickCount(),
                  tail.c_str());
    if (CreateDirectoryA(name, nullptr)) {
      path_ = name;
      return;
    }
    // Without the locale that gives Chinese file names (see scripts/wine-run.sh)
    // every attempt fails: say so rather than loop for ever.
    if (attempt == 100) {
      std::fprintf(stderr, "cannot create a temporary folder like %s (error %lu)\n", name,
                   GetLastError());
      std::abort();
    }
  }
}

TempDir::~TempDir() { RemoveTree(path_); }

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(h);
  return ok && written == bytes.size();
}

bool ReadFileBytes(const std::string& path, std::string& bytes) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bytes.clear();
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
  CloseHandle(h);
  return true;
}

namespace {

// The program a command line starts: its first part, quoted or up to the
// first blank.
std::string ProgramOf(const std::string& commandLine) {
  if (!commandLine.empty() && commandLine[0] == '"') {
    const size_t end = cp936::FindFirstOf(commandLine, "\"", 1);
    return commandLine.substr(1, end == std::string::npos ? std::string::npos : end - 1);
  }
  return commandLine.substr(0, cp936::FindFirstOf(commandLine, " "));
}

// The processes the Wine server (or the system) runs now: their number and
// names, a name that runs more than once with its count.
std::string RunningProcesses() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE)
    return "no process list (error " + std::to_string(GetLastError()) + ")";
  std::vector<std::pair<std::string, int>> names;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    auto same = names.begin();
    while (same != names.end() && lstrcmpiA(same->first.c_str(), entry.szExeFile) != 0) ++same;
    if (same == names.end()) names.emplace_back(entry.szExeFile, 1);
    else ++same->second;
  }
  CloseHandle(snapshot);
  int total = 0;
  std::string list;
  for (const auto& [name, count] : names) {
    total += count;
    list += (list.empty() ? "" : ", ") + name + (count > 1 ? " x" + std::to_string(count) : "");
  }
  return std::to_string(total) + " processes running: " + list;
}

}  // namespace

std::string StartFailure(const std::string& commandLine) {
  const DWORD error = GetLastError();
  char text[512] = "";
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           error, 0, text, sizeof text, nullptr);
  while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ')) text[--n] = '\0';
  SYSTEMTIME now{};
  GetLocalTime(&now);
  char when[32];
  std::snprintf(when, sizeof when, "%02u:%02u:%02u.%03u", now.wHour, now.wMinute, now.wSecond,
                now.wMilliseconds);
  std::string why = "CreateProcess failed at " + std::string(when) + " with error " +
                    std::to_string(error) + " (" + (n > 0 ? text : "no text") + ") for " +
                    commandLine + "; ";
  // The program file as Wine opens it to map the image: read access, others
  // may read or delete it.
  const std::string program = ProgramOf(commandLine);
  const DWORD attributes = GetFileAttributesA(program.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    why += "program file missing (error " + std::to_string(GetLastError()) + ")";
  } else {
    HANDLE file = CreateFileA(program.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      why += "program file there but not readable (error " + std::to_string(GetLastError()) + ")";
    } else {
      LARGE_INTEGER size{};
      GetFileSizeEx(file, &size);
      CloseHandle(file);
      why += "program file there, " + std::to_string(size.QuadPart) + " bytes";
    }
  }
  return why + "; " + RunningProcesses();
}

namespace {

// Starts a command line; false when it cannot start.
bool StartForTest(const std::string& commandLine, const std::string& workDir,
                  PROCESS_INFORMATION& pi) {
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  STARTUPINFOA si{};
  si.cb = sizeof si;
  pi = PROCESS_INFORMATION{};
  return CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        workDir.empty() ? nullptr : workDir.c_str(), &si, &pi) != FALSE;
}

// Reads the exit code and closes both handles.
int FinishForTest(PROCESS_INFORMATION& pi, bool ended) {
  int code = -1001;
  if (!ended) {
    TerminateProcess(pi.hProcess, 1);
    WaitForSingleObject(pi.hProcess, 5000);
  } else {
    DWORD exitCode = 0;
    GetExitCodeProcess(pi.hProcess, &exitCode);
    code = static_cast<int>(exitCode);
  }
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return code;
}

struct DialogSearch {
  DWORD pid;
  bool visibleOnly;
  HWND found;
};

BOOL CALLBACK FindDialogOf(HWND hwnd, LPARAM param) {
  auto* search = reinterpret_cast<DialogSearch*>(param);
  char cls[16];
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid == search->pid && (!search->visibleOnly || IsWindowVisible(hwnd)) &&
      GetClassNameA(hwnd, cls, sizeof cls) && lstrcmpA(cls, "#32770") == 0) {
    search->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

HWND DialogOf(DWORD processId, bool visibleOnly) {
  DialogSearch search{processId, visibleOnly, nullptr};
  EnumWindows(FindDialogOf, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

int RunAndWait(const std::string& commandLine, const std::string& workDir, DWORD timeoutMs) {
  PROCESS_INFORMATION pi;
  if (!StartForTest(commandLine, workDir, pi)) {
    ADD_FAILURE() << StartFailure(commandLine);
    return -1000;
  }
  return FinishForTest(pi, WaitForSingleObject(pi.hProcess, Budget(timeoutMs)) == WAIT_OBJECT_0);
}

ProgramOutcome RunClosingDialogs(const std::string& commandLine, const std::string& workDir,
                                 DWORD timeoutMs, WPARAM closeCommand) {
  ProgramOutcome outcome;
  PROCESS_INFORMATION pi;
  if (!StartForTest(commandLine, workDir, pi)) {
    ADD_FAILURE() << StartFailure(commandLine);
    return outcome;
  }
  const DWORD start = GetTickCount();
  timeoutMs = Budget(timeoutMs);
  bool ended = false;
  // The dialog last answered, and when: on a busy machine a box can take
  // longer to close than the next look takes, and must not count twice.
  HWND answered = nullptr;
  DWORD answeredAt = 0;
  while (!(ended = WaitForSingleObject(pi.hProcess, 20) == WAIT_OBJECT_0)) {
    if (HWND dialog = DialogOf(pi.dwProcessId)) {
      if (dialog != answered) {
        // The box may still be filling in its text.
        std::string text;
        for (int i = 0; i < 100 && (text = DialogText(dialog)).empty(); ++i) Sleep(20);
        outcome.dialogs.push_back(text);
        PostMessageA(dialog, WM_COMMAND, closeCommand, 0);
        answered = dialog;
        answeredAt = GetTickCount();
      } else if (GetTickCount() - answeredAt > Budget(2000)) {
        // Still there after its answer: answer it again (it stays one dialog).
        PostMessageA(dialog, WM_COMMAND, closeCommand, 0);
        answeredAt = GetTickCount();
      }
    }
    if (GetTickCount() - start > timeoutMs) break;
  }
  outcome.exitCode = FinishForTest(pi, ended);
  return outcome;
}

HWND WaitForWindow(const char* className, const char* title, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  timeoutMs = Budget(timeoutMs);
  do {
    HWND hwnd = nullptr;
    while ((hwnd = FindWindowExA(nullptr, hwnd, className, title)) != nullptr) {
      DWORD pid = 0;
      GetWindowThreadProcessId(hwnd, &pid);
      if (pid == GetCurrentProcessId() && IsWindowVisible(hwnd)) return hwnd;
    }
    Sleep(10);
  } while (GetTickCount() - start < timeoutMs);
  return nullptr;
}

std::string DialogText(HWND dialog) {
  std::string text;
  for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    char cls[32];
    GetClassNameA(child, cls, sizeof cls);
    if (lstrcmpiA(cls, "Static") != 0) continue;
    char buffer[8192];
    const int n = GetWindowTextA(child, buffer, sizeof buffer);
    if (n <= 0) continue;
    if (!text.empty()) text += '|';
    text.append(buffer, n);
  }
  return text;
}

namespace {
DWORD WINAPI BackgroundEntry(void* param) {
  (*static_cast<std::function<void()>*>(param))();
  return 0;
}
}  // namespace

Background::Background(std::function<void()> action) : action_(std::move(action)) {
  thread_ = CreateThread(nullptr, 0, BackgroundEntry, &action_, 0, nullptr);
}

Background::~Background() {
  if (thread_) {
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
  }
}

bool PumpMessagesUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  timeoutMs = Budget(timeoutMs);
  while (!done()) {
    if (GetTickCount() - start >= timeoutMs) return false;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
  }
  return true;
}

bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  timeoutMs = Budget(timeoutMs);
  while (!done()) {
    if (GetTickCount() - start > timeoutMs) return false;
    Sleep(20);
  }
  return true;
}

}  // namespace testing_support
