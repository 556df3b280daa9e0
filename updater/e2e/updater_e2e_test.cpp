// Updater.exe as the launcher runs it: copied with its DLL into a fresh program
// folder, started with one argument text, judged by its exit code (read here,
// on the Windows side: Wine hands only the low 8 bits to Linux), its log, and
// what it left in the folder. Program folders have Chinese names, as real
// users' do: "…\…_游戏淺" (淺 is 9C 5C, its second byte the backslash byte)
// or, for some tests, "C:\…_游戏大厅".
#include <gtest/gtest.h>

#include <windows.h>

#include <ctime>
#include <string>
#include <vector>

#include "json_util.h"
#include "param_envelope.h"
#include "test_support.h"

namespace {

using testing_support::TempDir;
using testing_support::TempName;

const char kInitFailed[] = "InitApp Failed";

using Outcome = testing_support::ProgramOutcome;

// A folder holding Updater.exe and CrashRpt.dll, and whatever a test adds.
class ProgramFolder {
 public:
  explicit ProgramFolder(TempName name = TempName::kChinese) : dir_(name) {
    Add("Updater.exe");
    Add("CrashRpt.dll");
  }

  const std::string& Path() const { return dir_.Path(); }
  std::string File(const std::string& name) const { return dir_.File(name); }

  // Copies a file of the build's bin folder into the program folder.
  void Add(const std::string& binName, const std::string& as = std::string()) {
    const std::string from = testing_support::ProgramDir() + binName;
    const std::string to = dir_.File(as.empty() ? binName : as);
    ASSERT_TRUE(CopyFileA(from.c_str(), to.c_str(), FALSE)) << from;
  }

  // Runs the updater with `args` as its command-line tail, from another
  // folder; closes any message box it shows; ends it on a time-out.
  Outcome Run(const std::string& args, DWORD timeoutMs = 60000) {
    std::string line = "\"" + File("Updater.exe") + "\"";
    if (!args.empty()) line += " " + args;
    Outcome outcome = testing_support::RunClosingDialogs(line, elsewhere_.Path(), timeoutMs);
    if (outcome.exitCode == -1001) ADD_FAILURE() << "Updater.exe did not end: " << line;
    // Its log belongs beside it, wherever it was started from.
    EXPECT_EQ(GetFileAttributesA(elsewhere_.File("Log").c_str()), INVALID_FILE_ATTRIBUTES)
        << "the log went to the caller's folder";
    return outcome;
  }

  std::string Read(const std::string& name) const {
    std::string bytes;
    testing_support::ReadFileBytes(File(name), bytes);
    return bytes;
  }
  std::string Log() const { return Read("Log\\updater.log"); }
  bool Exists(const std::string& name) const {
    return GetFileAttributesA(File(name).c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  // Waits for a file that a program started without waiting writes.
  bool WaitForFile(const std::string& name, DWORD timeoutMs = 10000) const {
    const DWORD start = GetTickCount();
    while (!Exists(name)) {
      if (GetTickCount() - start > timeoutMs) return false;
      Sleep(20);
    }
    return true;
  }

 private:
  TempDir dir_;
  TempDir elsewhere_{TempName::kChinese};  // started from here, it must leave it
};

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// A JSON string. JSON escapes every 0x5C byte, the second byte of a Chinese
// character too, and the reader undoes that byte by byte.
std::string Text(const std::string& value) {
  std::string out = "\"";
  for (char c : value) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

// --- arguments ---------------------------------------------------------------

TEST(UpdaterStart, EmptyCommandLineFailsToStart) {
  ProgramFolder folder;
  const Outcome run = folder.Run("");
  EXPECT_EQ(run.exitCode, -1);
  ASSERT_EQ(run.dialogs.size(), 1u);
  EXPECT_EQ(run.dialogs[0], kInitFailed);
  const std::string log = folder.Log();
  EXPECT_TRUE(Has(log, kInitFailed)) << log;
  EXPECT_FALSE(Has(log, "没有任何操作"));  // no message of its own
}

TEST(UpdaterStart, RefusedArgumentsLogTheirReasonThenInitAppFailed) {
  struct Case {
    const char* args;
    const char* line;
  } cases[] = {
      {R"({"SU":true,"SI":true,"TP":"a.exe","path":"b.exe"})",
       "操作冲突(启动参数'SU'或'SI'不能同时使用)"},
      {R"({"SR":true,"open":"exit_with.exe","TP":"a.exe"})",
       "没有任何操作(请用启动参数'SU'或'SI'指定)"},
      {R"({"SU":true,"TP":"a.exe"})", "没有指定复制文件目的地(请用启动参数'path'指定)"},
      {R"({"SU":1,"TP":"a.exe","path":"b.exe"})", "没有任何操作(请用启动参数'SU'或'SI'指定)"},
  };
  for (const Case& c : cases) {
    ProgramFolder folder;
    folder.Add("exit_with.exe");
    const Outcome run = folder.Run(c.args);
    EXPECT_EQ(run.exitCode, -1) << c.args;
    EXPECT_EQ(run.dialogs.size(), 1u) << c.args;
    const std::string log = folder.Log();
    const size_t reason = log.find(c.line);
    EXPECT_NE(reason, std::string::npos) << c.args << "\n" << log;
    EXPECT_GT(log.find(kInitFailed), reason) << log;
    EXPECT_FALSE(folder.Exists("b.exe"));
  }
}

TEST(UpdaterStart, EnvelopedAndPlainArgumentsWorkAlikeAndABadCheckFails) {
  const std::string plain = R"({"SI":true,"TP":"Tessel.pkg.exe","dir":"Platform"})";
  const std::string wrapped = ParamEnvelope::Wrap(plain);
  for (const std::string& args : {plain, wrapped}) {
    ProgramFolder folder;
    folder.Add("Tessel.pkg.exe");
    const Outcome run = folder.Run(args);
    EXPECT_EQ(run.exitCode, 0) << args;
    EXPECT_TRUE(run.dialogs.empty());
    EXPECT_TRUE(folder.Exists("Platform\\tessel.txt")) << args;
    EXPECT_TRUE(folder.Exists("Platform\\Platform\\logo.txt")) << args;
  }
  std::string damaged = wrapped;
  damaged[2] = damaged[2] == '1' ? '2' : '1';
  ProgramFolder folder;
  folder.Add("Tessel.pkg.exe");
  const Outcome run = folder.Run(damaged);
  EXPECT_EQ(run.exitCode, -1);
  EXPECT_EQ(run.dialogs.size(), 1u);
  EXPECT_FALSE(folder.Exists("Platform"));
}

TEST(UpdaterStart, NumberTargetPathFallsBackToTheLongKey) {
  ProgramFolder folder;
  folder.Add("Orlune.pkg.exe");
  const Outcome run =
      folder.Run(R"({"SignInstall":true,"TP":5,"TargetPath":"Orlune.pkg.exe","dir":"Hall"})");
  EXPECT_EQ(run.exitCode, 0) << folder.Log();
  EXPECT_TRUE(folder.Exists("Hall\\orlune.txt"));
}

TEST(UpdaterStart, CodeChoosesTheWaits) {
  // 48: the program run afterwards is waited for, and its exit code counts.
  {
    ProgramFolder folder;
    folder.Add("Tessel.pkg.exe");
    folder.Add("exit_with.exe");
    const Outcome run = folder.Run(
        R"({"SI":true,"TP":"Tessel.pkg.exe","open":"exit_with.exe","SP":"7","code":48})");
    EXPECT_EQ(run.exitCode, -1);
    const std::string log = folder.Log();
    EXPECT_TRUE(Has(log, "安装成功")) << log;
    EXPECT_TRUE(Has(log, "退出代码:7")) << log;
    EXPECT_TRUE(Has(log, "打开文件失败或错误[ERR:7] 工作目录:'' 命令:'\"" +
                             folder.File("exit_with.exe") + "\" 7' "))
        << log;
  }
  // 1 changes nothing and 16 only limits the installer's wait: the program is
  // started without waiting, so its exit code does not count.
  for (const char* code : {"1", "16"}) {
    ProgramFolder folder;
    folder.Add("Tessel.pkg.exe");
    folder.Add("exit_with.exe");
    const Outcome run = folder.Run(std::string(R"({"SI":true,"TP":"Tessel.pkg.exe",)") +
                                   R"("open":"exit_with.exe","SP":"7 ran.txt","code":)" + code +
                                   "}");
    EXPECT_EQ(run.exitCode, 0) << code << "\n" << folder.Log();
    EXPECT_TRUE(Has(folder.Log(), "运行成功"));
    EXPECT_TRUE(folder.WaitForFile("ran.txt"));
  }
}

TEST(UpdaterStart, HiddenWindowOfClassQzMendorLivesWhileItWorks) {
  ProgramFolder folder;
  folder.Add("Tessel.pkg.exe");
  folder.Add("sleeper.exe");
  bool seen = false, visible = true;
  {
    testing_support::Background watch([&] {
      const DWORD start = GetTickCount();
      while (!seen && GetTickCount() - start < 20000) {
        HWND hwnd = FindWindowA("QZ_Mendor", nullptr);
        if (hwnd) {
          seen = true;
          visible = IsWindowVisible(hwnd) != FALSE;
        }
        Sleep(20);
      }
    });
    // 48: waits for the sleeper, holding the window meanwhile.
    const Outcome run = folder.Run(
        R"({"SI":true,"TP":"Tessel.pkg.exe","open":"sleeper.exe","SP":"1500","code":48})");
    EXPECT_EQ(run.exitCode, 0) << folder.Log();
  }
  EXPECT_TRUE(seen);
  EXPECT_FALSE(visible);
}

// --- copy --------------------------------------------------------------------

TEST(UpdaterCopy, CopyThenOpenThenQuitEndsWithZero) {
  ProgramFolder folder;
  ASSERT_TRUE(CreateDirectoryA(folder.File("Download").c_str(), nullptr));
  folder.Add("exit_with.exe", "Download\\Lumora.exe");
  const std::string args = "{\"SU\":true,\"TP\":" + Text(folder.File("Download\\Lumora.exe")) +
                           ",\"path\":\"Game\\\\Lumora.exe\",\"SR\":true,\"SP\":\"0 started.txt\"}";
  const Outcome run = folder.Run(ParamEnvelope::Wrap(args));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(run.dialogs.empty());
  // The destination folder was created; the copy was started with "SP", in
  // the updater's folder.
  EXPECT_EQ(folder.Read("Game\\Lumora.exe"), folder.Read("Download\\Lumora.exe"));
  ASSERT_TRUE(folder.WaitForFile("started.txt"));
  const std::string log = folder.Log();
  EXPECT_TRUE(Has(log, "复制成功")) << log;
  EXPECT_TRUE(Has(log, "运行成功")) << log;
  EXPECT_FALSE(Has(log, "等待重试"));
}

TEST(UpdaterCopy, AFailedCopyStillStartsTheProgram) {
  ProgramFolder folder;
  folder.Add("exit_with.exe");
  const Outcome run = folder.Run(
      R"({"SU":true,"TP":"missing.exe","path":"Lumora.exe","open":"exit_with.exe",)"
      R"("SP":"0 ran.txt"})");
  EXPECT_EQ(run.exitCode, 0);
  const std::string log = folder.Log();
  EXPECT_TRUE(Has(log, "复制失败[ERR:2] 源:'missing.exe' 目标:'" +
                           folder.File("Lumora.exe") + "'"))
      << log;
  EXPECT_TRUE(Has(log, "运行成功")) << log;
  EXPECT_TRUE(folder.WaitForFile("ran.txt"));
  EXPECT_FALSE(folder.Exists("Lumora.exe"));
}

TEST(UpdaterCopy, AnExistingFolderAsDestinationFailsAtOnce) {
  ProgramFolder folder;
  folder.Add("exit_with.exe", "new.exe");
  ASSERT_TRUE(CreateDirectoryA(folder.File("Target").c_str(), nullptr));
  const Outcome run = folder.Run(R"({"SU":true,"TP":"new.exe","path":"Target","SR":true})");
  EXPECT_EQ(run.exitCode, -1);
  const std::string log = folder.Log();
  EXPECT_TRUE(Has(log, "复制失败[ERR:")) << log;
  EXPECT_FALSE(Has(log, "等待重试")) << log;  // a folder is not waited for
  EXPECT_TRUE(Has(log, "启动失败! '\"" + folder.File("Target") + "\"'")) << log;
  EXPECT_TRUE(Has(log, "打开文件失败或错误[ERR:-1] 工作目录:'' 命令:'\"" +
                           folder.File("Target") + "\"' "))
      << log;
}

TEST(UpdaterCopy, ReplacesAFileItsOwnerStillHoldsForAWhile) {
  ProgramFolder folder;
  ASSERT_TRUE(testing_support::WriteFileBytes(folder.File("Lumora.exe"), "old launcher"));
  ASSERT_TRUE(testing_support::WriteFileBytes(folder.File("Lumora.new"), "new launcher"));
  // The old launcher is still ending: its file is held without sharing.
  HANDLE held = CreateFileA(folder.File("Lumora.exe").c_str(), GENERIC_READ, 0, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  Outcome run;
  {
    // Let go once the updater has found the file held and waits for it.
    testing_support::Background release([&] {
      testing_support::WaitUntil([&] { return Has(folder.Log(), "等待重试"); }, 20000);
      Sleep(500);
      CloseHandle(held);
    });
    run = folder.Run(R"({"SU":true,"TP":"Lumora.new","path":"Lumora.exe"})");
  }
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(folder.Read("Lumora.exe"), "new launcher");
  const std::string log = folder.Log();
  EXPECT_TRUE(Has(log, "目标文件正被使用,等待重试[ERR:32] 目标:'" + folder.File("Lumora.exe")))
      << log;
  EXPECT_TRUE(Has(log, "复制成功")) << log;
}

// --- install -----------------------------------------------------------------

TEST(UpdaterInstall, InstallsARealPackageWithItsLog) {
  ProgramFolder folder;
  ASSERT_TRUE(CreateDirectoryA(folder.File("Download").c_str(), nullptr));
  folder.Add("Orlune.pkg.exe", "Download\\Orlune.pkg.exe");
  const Outcome run = folder.Run(
      ParamEnvelope::Wrap(R"({"SI":true,"TP":"Download\\Orlune.pkg.exe","dir":"Orlune"})"));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(folder.Read("Orlune\\orlune.txt"), "Orlune game hall 1.0 (stand-in)\r\n");
  EXPECT_TRUE(Has(folder.Log(), "安装成功"));
  const std::string installLog = folder.Read("Log\\Install\\Orlune.pkg.log");
  EXPECT_TRUE(Has(installLog, "Installation folder: " + folder.File("Orlune\\"))) << installLog;
  EXPECT_TRUE(Has(installLog, "Installed " + folder.File("Orlune\\orlune.txt"))) << installLog;
  EXPECT_TRUE(Has(installLog, "Exit code: 0")) << installLog;
}

TEST(UpdaterInstall, APackageThatExitsWithThreeFailsTheRun) {
  ProgramFolder folder;
  folder.Add("Fails3.pkg.exe");
  const Outcome run = folder.Run(R"({"SI":true,"TP":"Fails3.pkg.exe"})");
  EXPECT_EQ(run.exitCode, -1);
  const std::string log = folder.Log();
  const std::string command = "\"" + folder.File("Fails3.pkg.exe") +
                              "\" /SILENT, /VERYSILENT /DIR=\"" + folder.Path() + "\\\" /LOG=\"" +
                              folder.File("Log\\Install\\Fails3.pkg.log") + "\"";
  EXPECT_TRUE(Has(log, "退出代码:3")) << log;
  EXPECT_TRUE(Has(log, "安装失败或错误[ERR:3] 命令行:'" + command + "' 指定安装目录:''")) << log;
  EXPECT_TRUE(Has(folder.Read("Log\\Install\\Fails3.pkg.log"), "Exit code: 3"));
}

TEST(UpdaterInstall, APackageNamedOnlyExeLogsUnderTheTime) {
  ProgramFolder folder;
  folder.Add("Tessel.pkg.exe", ".exe");
  const long long before = static_cast<long long>(std::time(nullptr));
  const Outcome run = folder.Run(R"({"SI":true,"TP":".exe","dir":"T"})");
  const long long after = static_cast<long long>(std::time(nullptr));
  EXPECT_EQ(run.exitCode, 0) << folder.Log();
  bool found = false;
  for (long long t = before; t <= after && !found; ++t)
    found = folder.Exists("Log\\Install\\" + std::to_string(t) + ".log");
  EXPECT_TRUE(found);
  EXPECT_TRUE(folder.Exists("T\\tessel.txt"));
}

TEST(UpdaterInstall, AMissingPackageFailsWithoutAMessage) {
  ProgramFolder folder;
  const Outcome run = folder.Run(R"({"SI":true,"TP":"Orlune.pkg.exe"})");
  EXPECT_EQ(run.exitCode, -1);
  const std::string log = folder.Log();
  EXPECT_FALSE(Has(log, "安装")) << log;
  EXPECT_TRUE(run.dialogs.empty());
}

// --- Chinese folders ---------------------------------------------------------

TEST(UpdaterChinese, APackageInAFolderEndingIn0x5CIsFoundAndInstalled) {
  ProgramFolder folder;
  ASSERT_TRUE(CreateDirectoryA(folder.File("下载淺").c_str(), nullptr));
  folder.Add("Tessel.pkg.exe", "下载淺\\Tessel.pkg.exe");
  const Outcome run = folder.Run(ParamEnvelope::Wrap(
      "{\"SI\":true,\"TP\":" + Text("下载淺\\Tessel.pkg.exe") + ",\"dir\":" + Text("平台淺") + "}"));
  EXPECT_EQ(run.exitCode, 0) << folder.Log();
  EXPECT_TRUE(run.dialogs.empty());
  EXPECT_TRUE(folder.Exists("平台淺\\tessel.txt"));
  EXPECT_TRUE(folder.Exists("平台淺\\Platform\\logo.txt"));
  const std::string installLog = folder.Read("Log\\Install\\Tessel.pkg.log");
  EXPECT_TRUE(Has(installLog, "Installation folder: " + folder.File("平台淺\\"))) << installLog;
  EXPECT_TRUE(Has(folder.Log(), "安装成功"));
}

TEST(UpdaterChinese, SelfUpdateFromAFolderBelowTheDriveRoot) {
  ProgramFolder folder(TempName::kChineseAtRoot);
  ASSERT_TRUE(CreateDirectoryA(folder.File("下载").c_str(), nullptr));
  folder.Add("exit_with.exe", "下载\\Lumora.exe");
  const Outcome run = folder.Run(ParamEnvelope::Wrap(
      "{\"SU\":true,\"TP\":" + Text(folder.File("下载\\Lumora.exe")) +
      ",\"path\":\"Lumora.exe\",\"SR\":true,\"SP\":" + Text("0 已启动.txt") + "}"));
  EXPECT_EQ(run.exitCode, 0) << folder.Log();
  EXPECT_EQ(folder.Read("Lumora.exe"), folder.Read("下载\\Lumora.exe"));
  ASSERT_TRUE(folder.WaitForFile("已启动.txt"));
  EXPECT_TRUE(Has(folder.Log(), "复制成功"));
}

TEST(UpdaterChinese, ACopyOntoItselfFailsWithoutWaiting) {
  ProgramFolder folder;
  folder.Add("exit_with.exe", "Lumora.exe");
  const Outcome run = folder.Run(R"({"SU":true,"TP":"Lumora.exe","path":".\\LUMORA.EXE"})");
  EXPECT_EQ(run.exitCode, -1);
  const std::string log = folder.Log();
  EXPECT_TRUE(Has(log, "复制失败[ERR:")) << log;
  EXPECT_FALSE(Has(log, "等待重试")) << log;
}

// --- open --------------------------------------------------------------------

TEST(UpdaterOpen, TextThatIsNoFileRunsAsACommandLine) {
  ProgramFolder folder;
  folder.Add("Tessel.pkg.exe");
  folder.Add("exit_with.exe");
  const Outcome run = folder.Run(
      R"({"SI":true,"TP":"Tessel.pkg.exe","open":"exit_with.exe 0 opened.txt","SP":"ignored"})");
  EXPECT_EQ(run.exitCode, 0) << folder.Log();
  ASSERT_TRUE(folder.WaitForFile("opened.txt"));
  const std::string line = folder.Read("opened.txt");
  EXPECT_TRUE(Has(line, "exit_with.exe 0 opened.txt")) << line;
  EXPECT_FALSE(Has(line, "ignored")) << line;
}

}  // namespace
