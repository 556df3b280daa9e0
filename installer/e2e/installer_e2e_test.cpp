// The installers under Wine, run as an internet café's or a managed
// machine's script would: silently (/S), into a Chinese-named folder in
// Program Files (/D=...), then a link opened through the shell, then the
// silent uninstaller. Two installers: the build's own (the default settings:
// name "Lumora", scheme "lumora", shortcuts without arguments) and one made
// for these tests with a Chinese name, a scheme of its own and a union code.
#include <windows.h>
// clang-format off
#include <wintrust.h>
// clang-format on
#include <objbase.h>
#include <psapi.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>

#include "authenticode.h"
#include "test_support.h"

using namespace testing_support;

namespace {

const char kUninstallKeys[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// What an installer was made with (installer/e2e/CMakeLists.txt).
struct Product {
  std::string setup;      // the installer's path
  std::string name;       // folder of the shortcuts, their names, Programs and Features
  std::string scheme;
  std::string arguments;  // the shortcuts' arguments
};

Product BuildsOwnInstaller() {
  return {ProgramDir() + "..\\" LUMORA_SETUP_FILE_NAME, "Lumora", "lumora", ""};
}
Product TestInstaller() {
  return {ProgramDir() + "Setup-test.exe", "游戏大厅测试", "lumsetup", "{\"UC\":7}"};
}

std::string KnownFolder(int csidl) {
  char path[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path))) return "";
  return path;
}

// A folder of Program Files that does not exist yet.
std::string NewProgramFolder(const std::string& leaf) {
  const std::string folder = KnownFolder(CSIDL_PROGRAM_FILES) + "\\lumora_" +
                             std::to_string(GetCurrentProcessId()) + "_" +
                             std::to_string(GetTickCount()) + leaf;
  RemoveTree(folder);
  return folder;
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool KeyExists(const std::string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

// A REG_SZ value below HKLM; "<missing>" when there is none.
std::string RegText(const std::string& path, const char* name) {
  char value[2048] = {};
  DWORD size = sizeof value - 1, type = 0;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return "<missing>";
  const LONG rc = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS || type != REG_SZ) return "<missing>";
  return std::string(value);
}

// Relative path -> size of every file below `folder`.
void ListFiles(const std::string& folder, const std::string& prefix,
               std::map<std::string, ULONGLONG>& files) {
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    const std::string name = data.cFileName;
    if (name == "." || name == "..") continue;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      ListFiles(folder + "\\" + name, prefix + name + "\\", files);
    } else {
      files[prefix + name] = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    }
  } while (FindNextFileA(find, &data));
  FindClose(find);
}

struct Shortcut {
  bool read = false;
  std::string target, arguments;
};

Shortcut ReadShortcut(const std::string& path) {
  Shortcut result;
  IShellLinkA* link = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                              reinterpret_cast<void**>(&link))))
    return result;
  IPersistFile* file = nullptr;
  wchar_t wide[MAX_PATH] = {};
  MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH);
  if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
      SUCCEEDED(file->Load(wide, STGM_READ))) {
    char target[MAX_PATH] = {}, arguments[1024] = {};
    result.read = SUCCEEDED(link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH)) &&
                  SUCCEEDED(link->GetArguments(arguments, sizeof arguments));
    result.target = target;
    result.arguments = arguments;
  }
  if (file != nullptr) file->Release();
  link->Release();
  return result;
}

std::string ProcessImage(DWORD pid) {
  char path[MAX_PATH] = {};
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (process == nullptr) return "";
  DWORD size = MAX_PATH;
  if (!QueryFullProcessImageNameA(process, 0, path, &size)) path[0] = 0;
  CloseHandle(process);
  return path;
}

void EndProcess(DWORD pid) {
  HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
  if (process == nullptr) return;
  TerminateProcess(process, 1);
  WaitForSingleObject(process, 10000);
  CloseHandle(process);
}

// The installer and the uninstaller it puts down are signed exactly when the
// build signs what it ships (under Wine: signed and unchanged).
void ExpectSignedAsTheBuild(const std::string& path) {
#if LUMORA_INSTALLER_SIGNED
  EXPECT_EQ(VerifyTrust(path), ERROR_SUCCESS) << path;
#else
  EXPECT_EQ(VerifyTrust(path), TRUST_E_NOSIGNATURE) << path;
#endif
}

// One installation of a product, by its installer, into `folder`.
class Installation {
 public:
  Installation(Product product, std::string folder)
      : product_(std::move(product)), folder_(std::move(folder)) {
    CoInitialize(nullptr);
  }
  ~Installation() {
    // A test that failed half-way leaves nothing for the next run.
    if (Exists(Uninstaller())) RunAndWait("\"" + Uninstaller() + "\" /S", "", 60000);
    WaitUntil([&] { return !Exists(Uninstaller()); }, 30000);
    RemoveTree(folder_);
    CoUninitialize();
  }

  int Install() {
    // /D= is the last argument and is never quoted, blanks and all.
    return RunAndWait("\"" + product_.setup + "\" /S /D=" + folder_, "", 120000);
  }
  // The uninstaller copies itself away and ends at once; the copy does the
  // work. Done when it has removed itself and its entry.
  bool Uninstall() {
    if (RunAndWait("\"" + Uninstaller() + "\" /S", "", 60000) != 0) return false;
    return WaitUntil([&] { return !Exists(Uninstaller()) && !KeyExists(UninstallKey()); }, 60000);
  }

  const std::string& Folder() const { return folder_; }
  const Product& product() const { return product_; }
  std::string File(const std::string& name) const { return folder_ + "\\" + name; }
  std::string Uninstaller() const { return File("Uninstall.exe"); }
  std::string SchemeKey() const { return "Software\\Classes\\" + product_.scheme; }
  std::string UninstallKey() const { return kUninstallKeys + std::string("Lumora.") + product_.scheme; }
  std::string DesktopShortcut() const {
    return KnownFolder(CSIDL_COMMON_DESKTOPDIRECTORY) + "\\" + product_.name + ".lnk";
  }
  std::string MenuFolder() const { return KnownFolder(CSIDL_COMMON_PROGRAMS) + "\\" + product_.name; }

 private:
  Product product_;
  std::string folder_;
};

// Every shipped file is there, byte count for byte count, plus the uninstaller.
void ExpectShippedFiles(const Installation& at) {
  std::map<std::string, ULONGLONG> shipped, installed;
  ListFiles(ProgramDir() + "..\\dist", "", shipped);
  ListFiles(at.Folder(), "", installed);
  ASSERT_GE(shipped.size(), 10u);
  for (const auto& file : shipped) {
    ASSERT_TRUE(installed.count(file.first)) << file.first << " is not installed";
    EXPECT_EQ(installed[file.first], file.second) << file.first;
  }
  EXPECT_TRUE(installed.count("Uninstall.exe"));
  EXPECT_EQ(installed.size(), shipped.size() + 1) << "the installer added a file of its own";
}

void ExpectRegistered(const Installation& at) {
  const std::string scheme = at.product().scheme;
  EXPECT_EQ(RegText(at.SchemeKey(), nullptr), "URL:" + scheme);
  EXPECT_EQ(RegText(at.SchemeKey(), "URL Protocol"), "");
  EXPECT_EQ(RegText(at.SchemeKey() + "\\shell\\open\\command", nullptr),
            "\"" + at.File("Portus.exe") + "\" \"%1\"");
  EXPECT_EQ(RegText(at.UninstallKey(), "DisplayName"), at.product().name);
  EXPECT_EQ(RegText(at.UninstallKey(), "InstallLocation"), at.Folder());
  EXPECT_EQ(RegText(at.UninstallKey(), "QuietUninstallString"), "\"" + at.Uninstaller() + "\" /S");
  EXPECT_EQ(RegText(at.UninstallKey(), "UninstallString"), "\"" + at.Uninstaller() + "\"");
}

void ExpectShortcuts(const Installation& at) {
  for (const std::string& path :
       {at.DesktopShortcut(), at.MenuFolder() + "\\" + at.product().name + ".lnk"}) {
    const Shortcut shortcut = ReadShortcut(path);
    ASSERT_TRUE(shortcut.read) << path;
    EXPECT_EQ(_stricmp(shortcut.target.c_str(), at.File("Lumora.exe").c_str()), 0)
        << path << ": " << shortcut.target;
    EXPECT_EQ(shortcut.arguments, at.product().arguments) << path;
  }
  const Shortcut uninstall =
      ReadShortcut(at.MenuFolder() + "\\卸载 " + at.product().name + ".lnk");
  ASSERT_TRUE(uninstall.read);
  EXPECT_EQ(_stricmp(uninstall.target.c_str(), at.Uninstaller().c_str()), 0) << uninstall.target;
}

// A link of the scheme opened through the shell starts the installed Portus,
// which starts the installed launcher with the link's union code (its window
// class names it). The launcher is ended again.
void ExpectLinkReachesTheLauncher(const Installation& at, int unionCode) {
  const std::string link = at.product().scheme + "://open " + std::to_string(unionCode);
  const HINSTANCE result = ShellExecuteA(nullptr, "open", link.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  ASSERT_GT(reinterpret_cast<INT_PTR>(result), 32) << "ShellExecute failed for " << link;
  const std::string windowClass = "QZ_Lumo_U" + std::to_string(unionCode);
  HWND window = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return (window = FindWindowA(windowClass.c_str(), nullptr)) != nullptr; },
                        30000))
      << "no launcher window " << windowClass;
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  const std::string image = ProcessImage(pid);
  EndProcess(pid);
  EXPECT_EQ(_stricmp(image.c_str(), at.File("Lumora.exe").c_str()), 0) << image;
  EXPECT_TRUE(Exists(at.File("Log\\starter.log"))) << "the launcher wrote no log";
}

// What the installers wrote to their log (%TEMP%\Lumora-Setup.log) since `from`.
std::string SetupLogFrom(size_t from) {
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  std::string bytes;
  ReadFileBytes(std::string(temp) + "Lumora-Setup.log", bytes);
  return bytes.size() > from ? bytes.substr(from) : std::string();
}
size_t SetupLogSize() { return SetupLogFrom(0).size(); }

void ExpectNothingOfOursLeft(const Installation& at) {
  EXPECT_FALSE(KeyExists(at.SchemeKey()));
  EXPECT_FALSE(KeyExists(at.UninstallKey()));
  EXPECT_FALSE(Exists(at.DesktopShortcut()));
  EXPECT_FALSE(Exists(at.MenuFolder()));
}

}  // namespace

TEST(Installer, SilentInstallLinkAndSilentUninstallInAChineseFolder) {
  Installation at(TestInstaller(), NewProgramFolder("_游戏大厅淺"));
  ASSERT_FALSE(KeyExists(at.SchemeKey())) << "left by an earlier run";
  ASSERT_EQ(at.Install(), 0);
  ExpectShippedFiles(at);
  ExpectRegistered(at);
  ExpectShortcuts(at);
  ExpectSignedAsTheBuild(at.product().setup);
  ExpectSignedAsTheBuild(at.Uninstaller());
  ExpectLinkReachesTheLauncher(at, 4321);

  ASSERT_TRUE(at.Uninstall());
  // The launcher's records and logs went with the program: not a file is left.
  std::map<std::string, ULONGLONG> left;
  ListFiles(at.Folder(), "", left);
  std::string names;
  for (const auto& file : left) names += " " + file.first;
  EXPECT_FALSE(Exists(at.Folder())) << "the folder is still there, with:" << names;
  ExpectNothingOfOursLeft(at);
}

TEST(Installer, TheBuildsOwnInstallerRemovesWhatItAddedAndNothingElse) {
  Installation at(BuildsOwnInstaller(), NewProgramFolder(" 游戏 大厅"));
  // Another program's scheme, and another program's files beside ours.
  const std::string other = "Software\\Classes\\lumora_other_" + std::to_string(GetCurrentProcessId());
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, other.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);
  struct RemoveOther {
    std::string key;
    ~RemoveOther() { RegDeleteTreeA(HKEY_LOCAL_MACHINE, key.c_str()); }
  } removeOther{other};

  ASSERT_EQ(at.Install(), 0);
  ExpectShippedFiles(at);
  ExpectRegistered(at);
  ExpectShortcuts(at);
  ASSERT_TRUE(CreateDirectoryA(at.File("Platform").c_str(), nullptr));
  ASSERT_TRUE(WriteFileBytes(at.File("Platform\\logo.ico"), "icon"));
  ASSERT_TRUE(WriteFileBytes(at.File("Orlune.exe"), "the hall"));
  ASSERT_TRUE(CreateDirectoryA(at.File("Log").c_str(), nullptr));
  ASSERT_TRUE(WriteFileBytes(at.File("Log\\starter.log"), "a log"));

  ASSERT_TRUE(at.Uninstall());
  std::map<std::string, ULONGLONG> left;
  ListFiles(at.Folder(), "", left);
  EXPECT_EQ(left.size(), 2u);
  EXPECT_TRUE(left.count("Orlune.exe"));
  EXPECT_TRUE(left.count("Platform\\logo.ico"));
  ExpectNothingOfOursLeft(at);
  EXPECT_TRUE(KeyExists(other)) << "the uninstaller removed another program's key";
}

TEST(Installer, ARunningProgramIsNeitherOverwrittenNorRemoved) {
  Installation at(TestInstaller(), NewProgramFolder("_运行中淺"));
  ASSERT_EQ(at.Install(), 0);
  // A shipped file that is no program, taken away: an installation that went
  // ahead in part would put it back.
  std::map<std::string, ULONGLONG> shipped;
  ListFiles(ProgramDir() + "..\\dist", "", shipped);
  std::string resource;
  for (const auto& file : shipped) {
    const std::string name = file.first;
    const std::string tail = name.size() > 4 ? name.substr(name.size() - 4) : name;
    if (_stricmp(tail.c_str(), ".exe") != 0 && _stricmp(tail.c_str(), ".dll") != 0) resource = name;
  }
  ASSERT_FALSE(resource.empty());
  ASSERT_TRUE(DeleteFileA(at.File(resource).c_str())) << resource;

  // The updater in the middle of an update (a stand-in that waits, run from
  // the folder's Updater.exe): found by its program file, whatever window
  // it has.
  ASSERT_TRUE(CopyFileA((ProgramDir() + "sleeper.exe").c_str(), at.File("Updater.exe").c_str(), FALSE));
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION updater{};
  std::string command = "\"" + at.File("Updater.exe") + "\" 120000";
  ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                             &updater));
  CloseHandle(updater.hThread);
  struct EndUpdater {
    HANDLE process;
    ~EndUpdater() {
      TerminateProcess(process, 1);
      WaitForSingleObject(process, 10000);
      CloseHandle(process);
    }
  } end{updater.hProcess};

  const size_t logged = SetupLogSize();
  EXPECT_EQ(at.Install(), 3) << "a silent installation over a running updater";
  EXPECT_FALSE(Exists(at.File(resource))) << "the installation went ahead in part";
  std::string log = SetupLogFrom(logged);
  EXPECT_NE(log.find(" 安装 \"" + at.Folder() + "\": Updater.exe 正在运行或被占用,未做任何改动(退出码 3)"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("游戏大厅测试 "), std::string::npos) << log;

  // The updater ended; one of the libraries still loaded by a program (this
  // one): the uninstaller, in place (_?=) so its exit code is its own,
  // removes nothing.
  TerminateProcess(updater.hProcess, 1);
  WaitForSingleObject(updater.hProcess, 10000);
  HMODULE library = LoadLibraryExA(at.File("Download.dll").c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
  ASSERT_NE(library, nullptr) << GetLastError();
  const size_t before = SetupLogSize();
  EXPECT_EQ(RunAndWait("\"" + at.Uninstaller() + "\" /S _?=" + at.Folder(), "", 60000), 3);
  FreeLibrary(library);
  EXPECT_TRUE(Exists(at.File("Lumora.exe")));
  EXPECT_TRUE(Exists(at.File("Download.dll")));
  EXPECT_TRUE(Exists(at.DesktopShortcut()));
  EXPECT_TRUE(KeyExists(at.SchemeKey()));
  EXPECT_TRUE(KeyExists(at.UninstallKey()));
  log = SetupLogFrom(before);
  EXPECT_NE(log.find(" 卸载 \"" + at.Folder() + "\": Download.dll 正在运行或被占用,未做任何改动(退出码 3)"),
            std::string::npos)
      << log;

  // Nothing runs: both go through.
  EXPECT_EQ(at.Install(), 0);
  EXPECT_TRUE(Exists(at.File(resource))) << resource;
  ExpectShippedFiles(at);
  ASSERT_TRUE(at.Uninstall());
  ExpectNothingOfOursLeft(at);
}
