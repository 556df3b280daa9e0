// The real Portus.exe under Wine: copied with its DLL into a folder of its
// own, beside a stand-in "Lumora.exe" that records its command line, and
// fed command texts the way the system hands them over. The folders have
// Chinese names, as real users' do: "…\…_游戏淺" (淺 is 9C 5C, its second byte
// the backslash byte) or, for some tests, "C:\…_游戏大厅".
#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "json_util.h"
#include "param_envelope.h"
#include "scoped_handle.h"
#include "test_support.h"
#include "url_command.h"

using namespace testing_support;

namespace {

// A folder holding Portus.exe, CrashRpt.dll and, unless told otherwise, the
// recording stand-in as Lumora.exe.
class PortusFolder {
 public:
  explicit PortusFolder(bool withLauncher = true, TempName name = TempName::kChinese)
      : dir_(name) {
    ok_ = Copy("Portus.exe", "Portus.exe") && Copy("CrashRpt.dll", "CrashRpt.dll") &&
          (!withLauncher || Copy("record_command_line.exe", "Lumora.exe"));
  }
  bool Ready() const { return ok_; }
  const std::string& Path() const { return dir_.Path(); }
  std::string File(const std::string& name) const { return dir_.File(name); }

  // Runs Portus with `tail` as its command-line tail; its full exit code.
  int Run(const std::string& tail, DWORD timeoutMs = 30000) const {
    return RunAndWait("\"" + File("Portus.exe") + "\" " + tail, "", timeoutMs);
  }

  // The stand-in launcher's command line, once it has recorded it (the
  // launcher is started without waiting, so it may come after Portus ended).
  bool WaitForLauncher(std::string& line, DWORD timeoutMs = 20000) const {
    const DWORD start = GetTickCount();
    do {
      if (ReadFileBytes(File("command_line.txt"), line)) return true;
      Sleep(50);
    } while (GetTickCount() - start < timeoutMs);
    return false;
  }
  bool LauncherRan() const { return PathExists(File("command_line.txt")); }
  bool LogExists() const { return PathExists(File("Log\\portus.log")); }

 private:
  bool Copy(const char* from, const char* to) {
    return CopyFileA((ProgramDir() + from).c_str(), File(to).c_str(), FALSE) != FALSE;
  }
  static bool PathExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  TempDir dir_;
  bool ok_ = false;
};

// The launcher parameters carried by a recorded command line.
Json::Value LauncherParams(const std::string& line) {
  Json::Value params;
  const size_t gap = line.find("\" ");
  if (gap == std::string::npos) return params;
  ParamEnvelope envelope;
  if (!envelope.Decode(line.substr(gap + 2))) return params;
  rt::ParseJson(envelope.Payload(), params);
  return params;
}

std::string PortusValue(const Json::Value& params) {
  Json::Value inner;
  ParamEnvelope envelope;
  if (!params["SP"].isString() || !envelope.Decode(params["SP"].asString()) ||
      !rt::ParseJson(envelope.Payload(), inner) || !inner["Portus"].isString())
    return "<none>";
  return inner["Portus"].asString();
}

// A class name no other test uses at the same time; letters only, so that it
// is also a valid URL scheme.
std::string UniqueScheme(const char* stem) {
  static LONG counter = 0;
  unsigned long n = GetCurrentProcessId() * 1000ul + InterlockedIncrement(&counter);
  std::string name = stem;
  do {
    name += static_cast<char>('a' + n % 26);
    n /= 26;
  } while (n);
  return name;
}

// A running window_host: a hidden top-level window of a given class that
// records the WM_COPYDATA it gets. Ended on every path.
class WindowHost {
 public:
  WindowHost(const std::string& className, const std::string& record) {
    std::string line = "\"" + ProgramDir() + "window_host.exe\" " + className + " 60000 \"" +
                       record + "\"";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
      ADD_FAILURE() << StartFailure(line);
      return;
    }
    process_.Set(pi.hProcess);
    CloseHandle(pi.hThread);
    const DWORD start = GetTickCount();
    while (!(window_ = FindWindowA(className.c_str(), nullptr)) && GetTickCount() - start < 20000)
      Sleep(20);
  }
  ~WindowHost() {
    if (window_) PostMessageA(window_, WM_CLOSE, 0, 0);
    if (process_ && WaitForSingleObject(process_.Get(), 5000) != WAIT_OBJECT_0)
      TerminateProcess(process_.Get(), 1);
  }
  bool Ready() const { return window_ != nullptr; }

 private:
  ScopedHandle process_;
  HWND window_ = nullptr;
};

// The running process whose program file is `image`, opened to be waited on
// and ended; none when no such process runs.
ScopedHandle OpenProcessOfImage(const std::string& image) {
  ScopedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return ScopedHandle();
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot.Get(), &entry); more;
       more = Process32Next(snapshot.Get(), &entry)) {
    ScopedHandle process(OpenProcess(
        PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE, FALSE,
        entry.th32ProcessID));
    if (!process) continue;
    char path[MAX_PATH];
    DWORD size = MAX_PATH;
    if (QueryFullProcessImageNameA(process.Get(), 0, path, &size) &&
        lstrcmpiA(path, image.c_str()) == 0)
      return process;
  }
  return ScopedHandle();
}

}  // namespace

TEST(PortusProgram, OpenLinksStartTheLauncherWithEnvelopedParameters) {
  {
    PortusFolder folder;
    ASSERT_TRUE(folder.Ready());
    ASSERT_EQ(folder.Run("\"lumtest://open 12345\""), 0);
    std::string line;
    ASSERT_TRUE(folder.WaitForLauncher(line));
    EXPECT_EQ(line, LauncherCommandLine(folder.Path(), "{\n   \"UC\" : 12345\n}\n"));
    EXPECT_EQ(LauncherParams(line)["UC"].asInt(), 12345);
    EXPECT_FALSE(folder.LogExists()) << "nothing is logged when the launcher starts";
  }
  {
    PortusFolder folder;
    ASSERT_TRUE(folder.Ready());
    ASSERT_EQ(folder.Run("\"lumtest://Open {\"u\":88,\"a\":\"玩家 一\",\"p\":\"p\\\"w\"}\""), 0);
    std::string line;
    ASSERT_TRUE(folder.WaitForLauncher(line));
    const Json::Value params = LauncherParams(line);
    EXPECT_EQ(params["UC"].asInt(), 88);
    const std::string portus = PortusValue(params);
    ASSERT_EQ(portus.compare(0, 7, ":Login "), 0) << portus;
    Json::Value login;
    ASSERT_TRUE(rt::ParseJson(portus.substr(7), login));
    EXPECT_EQ(login["a"].asString(), "玩家 一");
    EXPECT_EQ(login["p"].asString(), "p\"w");
  }
  {
    // Unquoted and ending in "open": the launcher with an empty argument.
    PortusFolder folder;
    ASSERT_TRUE(folder.Ready());
    ASSERT_EQ(folder.Run("lumtest://open"), 0);
    std::string line;
    ASSERT_TRUE(folder.WaitForLauncher(line));
    EXPECT_EQ(line, "\"" + folder.File("Lumora.exe") + "\" ");
  }
}

// Portus hands over and ends at once: it does not wait for the launcher,
// which here (a sleeper given no argument) would run for a minute.
TEST(PortusProgram, TheLauncherIsStartedWithoutWaitingForIt) {
  PortusFolder folder(/*withLauncher=*/false);
  ASSERT_TRUE(folder.Ready());
  ASSERT_TRUE(CopyFileA((ProgramDir() + "sleeper.exe").c_str(), folder.File("Lumora.exe").c_str(),
                        FALSE));
  // Ends the stand-in on every path, also when Portus waited and was ended.
  struct EndLauncher {
    std::string image;
    ~EndLauncher() {
      ScopedHandle process = OpenProcessOfImage(image);
      if (process) {
        TerminateProcess(process.Get(), 1);
        WaitForSingleObject(process.Get(), 5000);
      }
    }
  } endLauncher{folder.File("Lumora.exe")};

  EXPECT_EQ(folder.Run("lumtest://open", 20000), 0);
  ScopedHandle launcher = OpenProcessOfImage(folder.File("Lumora.exe"));
  ASSERT_TRUE(launcher) << "the launcher was not started";
  EXPECT_EQ(WaitForSingleObject(launcher.Get(), 0), static_cast<DWORD>(WAIT_TIMEOUT))
      << "the launcher is still running after Portus ended";
}

TEST(PortusProgram, OtherLinksGoToTheSchemesWindowWithoutTheTrailingSlash) {
  const std::string scheme = UniqueScheme("ptwin");
  PortusFolder folder(/*withLauncher=*/false);
  ASSERT_TRUE(folder.Ready());
  const std::string record = folder.File("copydata.txt");
  WindowHost host(scheme, record);
  ASSERT_TRUE(host.Ready());

  // Without a launcher in the folder, a start would end in -1: 0 means the
  // hand-over happened.
  EXPECT_EQ(folder.Run("\"" + scheme + "://room/5/\""), 0);
  EXPECT_EQ(folder.Run("\"" + scheme + "://open\""), 0) << "\"open\" before the quote";
  const std::string longUrl = scheme + "://" + std::string(30000, 'q');
  EXPECT_EQ(folder.Run("\"" + longUrl + "\""), 0);
  std::string got;
  ASSERT_TRUE(ReadFileBytes(record, got));
  EXPECT_EQ(got, "2124:" + scheme + "://room/5\n2124:" + scheme + "://open\n2124:" + longUrl + "\n");
  EXPECT_FALSE(folder.LogExists());
}

// A scheme registered with an unquoted program path (allowed when it has no
// blank) in a folder with a Chinese name right below the drive root, as
// C:\游戏大厅\Portus.exe "%1": the command text still starts after the whole
// path.
TEST(PortusProgram, AnUnquotedProgramPathWithChineseCharactersIsSkippedWhole) {
  const std::string scheme = UniqueScheme("ptpath");
  PortusFolder folder(/*withLauncher=*/false, TempName::kChineseAtRoot);
  ASSERT_TRUE(folder.Ready());
  const std::string record = folder.File("copydata.txt");
  WindowHost host(scheme, record);
  ASSERT_TRUE(host.Ready());

  const std::string program = folder.File("Portus.exe");
  ASSERT_EQ(program.find(' '), std::string::npos) << program;
  std::string line = program + " \"" + scheme + "://room/5/\"";
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &si, &pi))
      << StartFailure(line);
  ScopedHandle process(pi.hProcess);
  CloseHandle(pi.hThread);
  if (WaitForSingleObject(process.Get(), 30000) != WAIT_OBJECT_0) {
    TerminateProcess(process.Get(), 1);
    FAIL() << "Portus did not end";
  }
  DWORD exitCode = 1;
  ASSERT_TRUE(GetExitCodeProcess(process.Get(), &exitCode));
  EXPECT_EQ(exitCode, 0u) << "0: handed over by WM_COPYDATA (there is no launcher)";
  std::string got;
  ASSERT_TRUE(ReadFileBytes(record, got)) << "nothing was handed over";
  EXPECT_EQ(got, "2124:" + scheme + "://room/5\n");
}

// Started from C:\…游戏大厅\ the launcher beside it is found, and a URL that
// ends in 淺 (9C 5C) reaches it whole.
TEST(PortusProgram, FromAFolderBelowTheDriveRootTheLauncherIsFound) {
  PortusFolder folder(/*withLauncher=*/true, TempName::kChineseAtRoot);
  ASSERT_TRUE(folder.Ready());
  const std::string scheme = UniqueScheme("ptroot");
  ASSERT_EQ(folder.Run("\"" + scheme + "://房间/淺\""), 0);
  std::string line;
  ASSERT_TRUE(folder.WaitForLauncher(line));
  EXPECT_EQ(PortusValue(LauncherParams(line)), scheme + "://房间/淺");
  EXPECT_EQ(line.compare(0, folder.Path().size() + 13, "\"" + folder.Path() + "\\Lumora.exe\""), 0)
      << line;
}

TEST(PortusProgram, OtherLinksWithoutAWindowStartTheLauncherWithTheUrl) {
  PortusFolder folder;
  ASSERT_TRUE(folder.Ready());
  const std::string scheme = UniqueScheme("ptnone");
  ASSERT_EQ(folder.Run("\"" + scheme + "://room/5/\""), 0);
  std::string line;
  ASSERT_TRUE(folder.WaitForLauncher(line));
  const Json::Value params = LauncherParams(line);
  EXPECT_EQ(params.size(), 1u);
  EXPECT_EQ(PortusValue(params), scheme + "://room/5");
}

TEST(PortusProgram, BadCommandTextsAndAMissingLauncherEndWithMinusOne) {
  {
    PortusFolder folder;
    ASSERT_TRUE(folder.Ready());
    EXPECT_EQ(folder.Run("://open 5"), -1);
    EXPECT_EQ(folder.Run(""), -1);
    EXPECT_EQ(folder.Run("no separator"), -1);
    Sleep(300);
    EXPECT_FALSE(folder.LauncherRan());
    EXPECT_FALSE(folder.LogExists()) << "a bad command text is not logged";
  }
  {
    PortusFolder folder(/*withLauncher=*/false);
    ASSERT_TRUE(folder.Ready());
    EXPECT_EQ(folder.Run("\"lumtest://open 5\""), -1);
    std::string log;
    ASSERT_TRUE(ReadFileBytes(folder.File("Log\\portus.log"), log));
    const std::string expected =
        "启动失败! '" + LauncherCommandLine(folder.Path(), "{\n   \"UC\" : 5\n}\n") + "'";
    EXPECT_NE(log.find(expected), std::string::npos) << log;
  }
}

// A sample of the hostile texts through the real program: it ends normally
// and the launcher gets exactly the command line the decision promises.
TEST(PortusProgram, HostileSampleKeepsTheLauncherCommandLineShape) {
  const std::vector<std::string> sample = {
      "\"lumtest://open \"{\"u\":1}",
      "\"lumtest://open {\"a\":\"\\\" && calc.exe \\\"\",\"p\":\"%1 \\\"\"}\"",
      "\"lumtest://x\" && del *.* \"",
      "lumtest://open " + std::string(3000, '['),
      "lumtest://open {\"a\":\"" + std::string(500, '"') + "\"}",
      "\"lumtest://" + std::string(20000, 'x') + "\"",
      "lumtest://open " + std::string(20000, '7'),
      "\"lumtest://\x01\x02\x1b[0m\t\"",
      "\"lumtest://op\"",
      "lumtest://open \"MD61509934C5H660\" \"--evil\"",
      "\"lumtest://room/\xd3\xce\xcf\xb7/\\\"",
  };
  for (const std::string& text : sample) {
    const std::string what = text.substr(0, 60);
    PortusFolder folder;
    ASSERT_TRUE(folder.Ready());
    const UrlDecision d = DecideUrlCommand(text);
    const std::string expected = LauncherCommandLine(folder.Path(), d.launcherParams);
    const int code = folder.Run(text);
    if (expected.size() >= 2080) {
      // Longer than a command line the programs accept: refused and logged.
      EXPECT_EQ(code, -1) << what;
      EXPECT_TRUE(folder.LogExists()) << what;
      continue;
    }
    EXPECT_EQ(code, 0) << what;
    std::string line;
    ASSERT_TRUE(folder.WaitForLauncher(line)) << what;
    EXPECT_EQ(line, expected) << what;
  }
}

// The link opened through the system shell, as a browser would: the scheme is
// registered for the copied Portus.exe, ShellExecute finds it, and the
// launcher is started with the union code of the link.
TEST(PortusProgram, LinkOpenedThroughTheShellReachesPortus) {
  PortusFolder folder;
  ASSERT_TRUE(folder.Ready());
  const std::string scheme = UniqueScheme("ptshell");
  const std::string tool = "\"" + ProgramDir() + "register_scheme.exe\"";
  ASSERT_EQ(RunAndWait(tool + " " + scheme + " \"" + folder.File("Portus.exe") + "\"", ""), 0);
  struct Unregister {
    std::string command;
    ~Unregister() { RunAndWait(command, ""); }
  } unregister{tool + " --remove " + scheme};

  const std::string link = scheme + "://open 4321";
  const HINSTANCE result =
      ShellExecuteA(nullptr, "open", link.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  ASSERT_GT(reinterpret_cast<INT_PTR>(result), 32) << "ShellExecute failed";
  std::string line;
  ASSERT_TRUE(folder.WaitForLauncher(line, 30000));
  EXPECT_EQ(LauncherParams(line)["UC"].asInt(), 4321);
  EXPECT_EQ(line, LauncherCommandLine(folder.Path(), "{\n   \"UC\" : 4321\n}\n"));
}
