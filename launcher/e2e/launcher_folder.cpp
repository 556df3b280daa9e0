#include "launcher_folder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "config_store.h"
#include "json_util.h"
#include "strata.h"
#include "test_support.h"

namespace e2e {

namespace {

// The store of a launcher folder, opened for one access.
class FolderStore {
 public:
  explicit FolderStore(const std::string& folder) {
    DBM::Initialise();
    DBM::SetDataFolder(folder.c_str());
  }
  ~FolderStore() {
    DBM::Uninitialise();
    DBM::SetDataFolder(nullptr);
  }
  FolderStore(const FolderStore&) = delete;
  FolderStore& operator=(const FolderStore&) = delete;
};

// Top-level windows of halls and launchers (class "QZ_Orlune_U…" or
// "QZ_Lumo_U…"): programs a test started indirectly.
BOOL CALLBACK CollectChainWindow(HWND hwnd, LPARAM param) {
  char cls[64] = {};
  GetClassNameA(hwnd, cls, sizeof cls);
  if (std::strncmp(cls, "QZ_Orlune_U", 11) == 0 || std::strncmp(cls, "QZ_Lumo_U", 9) == 0)
    reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
  return TRUE;
}

std::vector<HWND> ChainWindows() {
  std::vector<HWND> windows;
  EnumWindows(CollectChainWindow, reinterpret_cast<LPARAM>(&windows));
  return windows;
}

// Ends what a test left running (a hall the launcher started, a launcher the
// updater restarted), so that the next test starts from nothing.
void EndStrayPrograms() {
  for (HWND window : ChainWindows()) PostMessageA(window, WM_CLOSE, 0, 0);
  const DWORD start = GetTickCount();
  while (!ChainWindows().empty() && GetTickCount() - start < 5000) Sleep(20);
  for (HWND window : ChainWindows()) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid)) {
      TerminateProcess(process, 1);
      WaitForSingleObject(process, 5000);
      CloseHandle(process);
    }
  }
}

}  // namespace

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

namespace {
uint64_t Ticks(const SYSTEMTIME& t) {
  FILETIME f{};
  SystemTimeToFileTime(&t, &f);
  return (static_cast<uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime;
}
}  // namespace

namespace {
// The time stamp of the log line that holds the offset `at`.
bool StampOfLineAt(const std::string& log, size_t at, SYSTEMTIME& when) {
  const size_t stamp = log.rfind("time:", at);
  if (stamp == std::string::npos || log.size() < stamp + 5 + 18) return false;
  const std::string t = log.substr(stamp + 5, 18);  // YYYYMMDD_hhmmssmmm
  when = SYSTEMTIME{};
  when.wYear = static_cast<WORD>(std::stoi(t.substr(0, 4)));
  when.wMonth = static_cast<WORD>(std::stoi(t.substr(4, 2)));
  when.wDay = static_cast<WORD>(std::stoi(t.substr(6, 2)));
  when.wHour = static_cast<WORD>(std::stoi(t.substr(9, 2)));
  when.wMinute = static_cast<WORD>(std::stoi(t.substr(11, 2)));
  when.wSecond = static_cast<WORD>(std::stoi(t.substr(13, 2)));
  when.wMilliseconds = static_cast<WORD>(std::stoi(t.substr(15, 3)));
  return true;
}
}  // namespace

int64_t LogLineAfter(const std::string& log, const std::string& text, const SYSTEMTIME& since) {
  const size_t at = log.find(text);
  SYSTEMTIME when;
  if (at == std::string::npos || !StampOfLineAt(log, at, when)) return -1;
  return (static_cast<int64_t>(Ticks(when)) - static_cast<int64_t>(Ticks(since))) / 10000;
}

int64_t LogLineAfterStart(const std::string& log, const std::string& text) {
  const size_t first = log.find("time:");
  SYSTEMTIME start;
  if (first == std::string::npos || !StampOfLineAt(log, first + 5, start)) return -1;
  return LogLineAfter(log, text, start);
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

endpoint::Reply StatusReply(int status) {
  endpoint::Reply reply;
  reply.status = status;
  return reply;
}

Json::Value ParseJsonText(const std::string& text) {
  Json::Value value;
  if (!rt::ParseJson(text, value)) return Json::Value();
  return value;
}

std::string JsonText(const Json::Value& value) { return rt::StyledText(value); }

// --- Process -------------------------------------------------------------

Process::~Process() { Terminate(); }

Process::Process(Process&& other) noexcept : info_(other.info_), started_(other.started_) {
  other.info_ = PROCESS_INFORMATION{};
}

Process& Process::operator=(Process&& other) noexcept {
  if (this != &other) {
    Terminate();
    info_ = other.info_;
    started_ = other.started_;
    other.info_ = PROCESS_INFORMATION{};
  }
  return *this;
}

bool Process::Start(const std::string& commandLine, const std::string& workDir) {
  Terminate();
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  started_ = GetTickCount();
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      workDir.empty() ? nullptr : workDir.c_str(), &startup, &info_)) {
    ADD_FAILURE() << testing_support::StartFailure(commandLine);
    return false;
  }
  FILETIME creation{}, exit{}, kernel{}, user{}, local{};
  if (GetProcessTimes(info_.hProcess, &creation, &exit, &kernel, &user) &&
      FileTimeToLocalFileTime(&creation, &local))
    FileTimeToSystemTime(&local, &created_);
  return true;
}

bool Process::Running() const {
  return info_.hProcess != nullptr && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT;
}

LauncherRun Process::Finish(DWORD timeoutMs, WPARAM closeCommand, DWORD answerAfterMs) {
  LauncherRun run;
  if (info_.hProcess == nullptr) return run;
  HWND answered = nullptr;
  bool ended = false;
  while (!(ended = WaitForSingleObject(info_.hProcess, 20) == WAIT_OBJECT_0)) {
    HWND dialog = testing_support::DialogOf(info_.dwProcessId, true);
    if (dialog != nullptr && dialog != answered) {
      std::string text;
      for (int i = 0; i < 100 && (text = testing_support::DialogText(dialog)).empty(); ++i)
        Sleep(20);
      run.dialogs.push_back(text);
      char caption[256] = {};
      GetWindowTextA(dialog, caption, sizeof caption);
      run.captions.push_back(caption);
      answered = dialog;
      if (answerAfterMs != 0) Sleep(answerAfterMs);
      PostMessageA(dialog, WM_COMMAND, closeCommand, 0);
    }
    if (GetTickCount() - started_ > testing_support::Budget(timeoutMs)) break;
  }
  run.elapsedMs = GetTickCount() - started_;
  if (ended) {
    DWORD code = 0;
    GetExitCodeProcess(info_.hProcess, &code);
    run.exitCode = static_cast<int>(code);
  } else {
    run.exitCode = -1001;
  }
  Terminate();
  return run;
}

void Process::Terminate() {
  if (info_.hProcess == nullptr) return;
  if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
    TerminateProcess(info_.hProcess, 1);
    WaitForSingleObject(info_.hProcess, 5000);
  }
  CloseHandle(info_.hThread);
  CloseHandle(info_.hProcess);
  info_ = PROCESS_INFORMATION{};
}

// --- LauncherFolder --------------------------------------------------------

LauncherFolder::LauncherFolder(const std::string& sub) {
  char base[MAX_PATH];
  GetTempPathA(MAX_PATH, base);
  static LONG counter = 0;
  for (;;) {
    char name[MAX_PATH + 64];
    std::snprintf(name, sizeof name, "%s游戏淺%lu_%ld", base, GetCurrentProcessId(),
                  InterlockedIncrement(&counter));
    if (CreateDirectoryA(name, nullptr)) {
      root_ = name;
      break;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) {
      ADD_FAILURE() << "cannot make a Chinese-named folder (error " << GetLastError()
                    << "): is the test prefix's locale zh_CN.UTF-8?";
      root_ = name;
      break;
    }
  }
  path_ = sub.empty() ? root_ : root_ + "\\" + sub;
  CreateDirectoryA(path_.c_str(), nullptr);
  // The program folder as shipped: a copy of the build's dist folder.
  EXPECT_TRUE(testing_support::CopyTree(testing_support::ProgramDir() + "..\\dist", path_));
  EXPECT_TRUE(Exists("Lumora.exe") && Exists("xar\\Lumora1.0.0\\onload.lua"));
}

LauncherFolder::~LauncherFolder() {
  EndStrayPrograms();
  testing_support::RemoveTree(root_);
}

bool LauncherFolder::Exists(const std::string& name) const {
  return GetFileAttributesA(File(name).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string LauncherFolder::Read(const std::string& name) const {
  std::string bytes;
  testing_support::ReadFileBytes(File(name), bytes);
  return bytes;
}

bool LauncherFolder::Write(const std::string& name, const std::string& bytes) const {
  return testing_support::WriteFileBytes(File(name), bytes);
}

void LauncherFolder::Remove(const std::string& name) const { DeleteFileA(File(name).c_str()); }

bool LauncherFolder::Add(const std::string& binName, const std::string& as) const {
  const std::string from = testing_support::ProgramDir() + binName;
  return CopyFileA(from.c_str(), File(as.empty() ? binName : as).c_str(), FALSE) != FALSE;
}

std::string LauncherFolder::CommandLine(const std::string& args) const {
  std::string line = "\"" + File("Lumora.exe") + "\"";
  if (!args.empty()) line += " " + args;
  return line;
}

LauncherRun LauncherFolder::RunLauncher(const std::string& args, DWORD timeoutMs) const {
  Process launcher;
  // Started from another folder: the launcher must find its own.
  if (!launcher.Start(CommandLine(args), root_)) return LauncherRun();
  return launcher.Finish(timeoutMs);
}

Process LauncherFolder::StartLauncher(const std::string& args) const {
  Process launcher;
  EXPECT_TRUE(launcher.Start(CommandLine(args), root_));
  return launcher;
}

bool LauncherFolder::WaitForLog(const std::string& text, DWORD timeoutMs) const {
  return testing_support::WaitUntil([&] { return Has(Log(), text); }, timeoutMs);
}

Json::Value LauncherFolder::Record(const char* key) const {
  FolderStore store(path_);
  return LoadConfigJson(key);
}

void LauncherFolder::SetRecord(const char* key, const Json::Value& value) const {
  FolderStore store(path_);
  ASSERT_NE(GetConfigDB(), nullptr);
  WriteConfigJson(key, value);
}

void LauncherFolder::SetRecord(const char* key, const char* jsonText) const {
  SetRecord(key, ParseJsonText(jsonText));
}

std::string LauncherFolder::RecordText(const char* key) const {
  FolderStore store(path_);
  CDBConfig* db = GetConfigDB();
  return db != nullptr ? db->ReadValue(key) : std::string();
}

void LauncherFolder::SetRecordText(const char* key, const std::string& text) const {
  FolderStore store(path_);
  ASSERT_NE(GetConfigDB(), nullptr);
  WriteConfigText(key, text);
}

Json::Value LauncherFolder::HallRecord() const {
  const std::string text = Read("Orlune.received.json");
  return text.empty() ? Json::Value() : ParseJsonText(text);
}

bool LauncherFolder::WaitForHallRecord(DWORD timeoutMs) const {
  return testing_support::WaitUntil([&] { return !HallRecord().isNull(); }, timeoutMs);
}

// --- Operator --------------------------------------------------------------

Operator::Operator() = default;
Operator::~Operator() {
  config_.Stop();
  statistics_.Stop();
}

testing::AssertionResult Operator::Start() {
  statistics_.Route("/plugins/stat/run", endpoint::Reply{});
  statistics_.Route("/plugins/did/reg", endpoint::Reply{});
  // No launcher may start while another program answers at these ports.
  if (!config_.Start(kConfigPort)) return testing::AssertionFailure() << endpoint::PortInUse(kConfigPort);
  if (!statistics_.Start(kStatisticsPort)) {
    return testing::AssertionFailure() << endpoint::PortInUse(kStatisticsPort);
  }
  return testing::AssertionSuccess();
}

void Operator::ReplyWith(const std::string& replyText) {
  endpoint::Reply reply;
  reply.body = replyText;
  reply.contentType = "application/json";
  config_.Route("/starterUpdate.do", reply);
}

void Operator::ReplyWith(const endpoint::Reply& reply) {
  config_.Route("/starterUpdate.do", reply);
}

void Operator::ReplyWith(std::function<endpoint::Reply(const endpoint::Request&)> decide) {
  config_.Route("/starterUpdate.do", std::move(decide));
}

std::string Operator::ServeConfigData(const std::string& dataText) {
  endpoint::Reply reply;
  reply.body = dataText;
  reply.contentType = "application/json";
  config_.Route("/config.json", reply);
  return config_.Url("/config.json");
}

std::string Operator::ServePackage(const std::string& binName) {
  endpoint::Reply reply;
  reply.file = testing_support::ProgramDir() + binName;
  config_.Route("/" + binName, reply);
  return config_.Url("/" + binName);
}

std::string Operator::ConfigReply(int version) const {
  Json::Value reply(Json::objectValue);
  reply["code"] = 1;
  reply["version"] = version;
  reply["url"] = config_.Url("/config.json");
  return rt::StyledText(reply);
}

Json::Value ConfigData(Operator& op, int platformVersion, int hallVersion,
                       const Json::Value& hallParams) {
  Json::Value data(Json::objectValue);
  if (platformVersion != 0) {
    data["platform"]["version"] = platformVersion;
    data["platform"]["url"] = op.ServePackage("Tessel.pkg.exe");
  }
  if (hallVersion != 0) {
    data["info"]["version"] = hallVersion;
    data["info"]["url"] = op.ServePackage("Orlune.pkg.exe");
    data["info"]["file"] = "Orlune.exe";
    if (!hallParams.isNull()) data["info"]["params"] = hallParams;
  }
  return data;
}

}  // namespace e2e
