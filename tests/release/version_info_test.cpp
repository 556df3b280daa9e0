// The shipped folder as Windows and its users see it: every exe and DLL
// carries a version resource whose numbers and texts give the launcher's own
// build number (the one it reports to the endpoints), with an English and a
// Chinese string block; and the resources that were there before (manifests,
// the launcher's icon and dialog) are still there beside it.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "launcher_app.h"
#include "test_support.h"

namespace {

std::string DistDir() { return testing_support::ProgramDir() + "..\\dist\\"; }

// yyyymmddnn -> "yyyy.mm.dd.nn" and the four numbers.
struct Version {
  unsigned parts[4];
  std::string text;
};
Version FromBuildNumber(int32_t number) {
  Version v{{static_cast<unsigned>(number / 1000000), static_cast<unsigned>(number / 10000 % 100),
             static_cast<unsigned>(number / 100 % 100), static_cast<unsigned>(number % 100)},
            {}};
  char text[32];
  std::snprintf(text, sizeof text, "%u.%02u.%02u.%02u", v.parts[0], v.parts[1], v.parts[2],
                v.parts[3]);
  v.text = text;
  return v;
}

std::vector<std::string> ShippedBinaries() {
  std::vector<std::string> names;
  for (const char* pattern : {"*.exe", "*.dll"}) {
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((DistDir() + pattern).c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) continue;
    do names.push_back(found.cFileName);
    while (FindNextFileA(find, &found));
    FindClose(find);
  }
  std::sort(names.begin(), names.end());
  return names;
}

class VersionBlock {
 public:
  explicit VersionBlock(const std::string& path) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    if (size == 0) return;
    data_.resize(size);
    if (!GetFileVersionInfoA(path.c_str(), 0, size, data_.data())) data_.clear();
    wide_.resize(GetFileVersionInfoSizeW(Wide(path).c_str(), &ignored));
    if (!wide_.empty() && !GetFileVersionInfoW(Wide(path).c_str(), 0,
                                               static_cast<DWORD>(wide_.size()), wide_.data()))
      wide_.clear();
  }
  bool Found() const { return !data_.empty() && !wide_.empty(); }

  const VS_FIXEDFILEINFO* Fixed() const {
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(data_.data(), "\\", &value, &length) || length < sizeof(VS_FIXEDFILEINFO))
      return nullptr;
    return static_cast<const VS_FIXEDFILEINFO*>(value);
  }
  std::vector<std::pair<WORD, WORD>> Translations() const {
    void* value = nullptr;
    UINT length = 0;
    std::vector<std::pair<WORD, WORD>> result;
    if (!VerQueryValueA(data_.data(), "\\VarFileInfo\\Translation", &value, &length)) return result;
    const WORD* words = static_cast<const WORD*>(value);
    for (UINT i = 0; i + 1 < length / sizeof(WORD); i += 2) result.push_back({words[i], words[i + 1]});
    return result;
  }
  // A string of a block, as the ANSI functions give it (code page 936 here).
  std::string Text(const char* block, const char* name) const {
    void* value = nullptr;
    UINT length = 0;
    const std::string key = std::string("\\StringFileInfo\\") + block + "\\" + name;
    if (!VerQueryValueA(data_.data(), key.c_str(), &value, &length) || length == 0) return "<none>";
    return static_cast<const char*>(value);
  }
  // The same string as stored (UTF-16).
  std::wstring WideText(const char* block, const char* name) const {
    void* value = nullptr;
    UINT length = 0;
    const std::wstring key = L"\\StringFileInfo\\" + Wide(block) + L"\\" + Wide(name);
    if (!VerQueryValueW(wide_.data(), key.c_str(), &value, &length) || length == 0) return L"<none>";
    return static_cast<const wchar_t*>(value);
  }

 private:
  static std::wstring Wide(const std::string& text) {
    std::wstring wide(text.size() + 1, L'\0');
    const int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0],
                                      static_cast<int>(wide.size()));
    wide.resize(n > 0 ? n - 1 : 0);
    return wide;
  }
  std::vector<char> data_;
  std::vector<char> wide_;
};

constexpr char kChinese[] = "080403a8";  // Chinese (Simplified), code page 936
constexpr char kEnglish[] = "040904b0";  // English (United States), Unicode

TEST(VersionInfo, ShippedFolderHoldsTheProductsBinariesOnly) {
  EXPECT_EQ(ShippedBinaries(),
            (std::vector<std::string>{"CrashRpt.dll", "Download.dll", "Lumora.exe", "Portus.exe",
                                      "Strata.dll", "Updater.exe", "XLUE.dll", "lua51.dll"}));
}

TEST(VersionInfo, EveryShippedBinaryCarriesTheLaunchersVersion) {
  const Version version = FromBuildNumber(kLauncherBuildNumber);
  ASSERT_EQ(version.text, "2014.04.04.01");
  const DWORD ms = MAKELONG(version.parts[1], version.parts[0]);
  const DWORD ls = MAKELONG(version.parts[3], version.parts[2]);
  const std::vector<std::string> binaries = ShippedBinaries();
  ASSERT_FALSE(binaries.empty());
  std::set<std::string> descriptions;
  for (const std::string& name : binaries) {
    SCOPED_TRACE(name);
    const VersionBlock info(DistDir() + name);
    ASSERT_TRUE(info.Found()) << "no version resource, error " << GetLastError();
    const VS_FIXEDFILEINFO* fixed = info.Fixed();
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, ms);
    EXPECT_EQ(fixed->dwFileVersionLS, ls);
    EXPECT_EQ(fixed->dwProductVersionMS, ms);
    EXPECT_EQ(fixed->dwProductVersionLS, ls);
    const bool program = name.size() > 4 && name.compare(name.size() - 4, 4, ".exe") == 0;
    EXPECT_EQ(fixed->dwFileType, program ? DWORD{VFT_APP} : DWORD{VFT_DLL});
    EXPECT_EQ(fixed->dwFileOS, DWORD{VOS_NT_WINDOWS32});
    EXPECT_EQ(fixed->dwFileFlags & fixed->dwFileFlagsMask, 0u);

    // Explorer picks the block its language asks for from this list.
    EXPECT_EQ(info.Translations(),
              (std::vector<std::pair<WORD, WORD>>{{0x0804, 936}, {0x0409, 1200}}));
    for (const char* block : {kChinese, kEnglish}) {
      SCOPED_TRACE(block);
      EXPECT_EQ(info.Text(block, "FileVersion"), version.text);
      EXPECT_EQ(info.Text(block, "ProductVersion"), version.text);
      EXPECT_EQ(info.Text(block, "OriginalFilename"), name);
      EXPECT_EQ(info.Text(block, "InternalName"), name.substr(0, name.size() - 4));
    }
    EXPECT_EQ(info.Text(kEnglish, "ProductName"), "Lumora");
    // Each file says what it is, in both languages, and no two say the same.
    const std::string english = info.Text(kEnglish, "FileDescription");
    const std::string chinese = info.Text(kChinese, "FileDescription");
    EXPECT_NE(english, "<none>");
    EXPECT_NE(chinese, english);
    EXPECT_TRUE(descriptions.insert(english).second) << english;
  }
}

TEST(VersionInfo, ChineseTextsReadBackInCodePage936AndAsUnicode) {
  ASSERT_EQ(GetACP(), 936u);
  const VersionBlock launcher(DistDir() + "Lumora.exe");
  ASSERT_TRUE(launcher.Found());
  // The ANSI functions give code page 936 text (this source is compiled to it) ...
  EXPECT_EQ(launcher.Text(kChinese, "ProductName"), "Lumora 游戏大厅");
  EXPECT_EQ(launcher.Text(kChinese, "FileDescription"), "Lumora 启动器");
  // ... the resource itself holds UTF-16: 游戏大厅 is U+6E38 U+620F U+5927 U+5385.
  EXPECT_EQ(launcher.WideText(kChinese, "ProductName"), L"Lumora \x6e38\x620f\x5927\x5385");
  EXPECT_EQ(launcher.WideText(kEnglish, "FileDescription"), L"Lumora launcher");
  // Lua keeps its authors' copyright line.
  const VersionBlock lua(DistDir() + "lua51.dll");
  EXPECT_EQ(lua.Text(kEnglish, "LegalCopyright"), "Copyright (C) 1994-2012 Lua.org, PUC-Rio");
}

// The version resource comes from a resource script of its own; the linker
// merges it with each program's other resources, which must all remain.
TEST(VersionInfo, OtherResourcesRemainBesideIt) {
  struct Expected {
    const char* file;
    LPCSTR type;
    LPCSTR name;
  };
  const Expected expected[] = {
      {"Lumora.exe", RT_MANIFEST, MAKEINTRESOURCEA(1)},
      {"Lumora.exe", RT_GROUP_ICON, MAKEINTRESOURCEA(1)},
      {"Lumora.exe", RT_DIALOG, MAKEINTRESOURCEA(201)},
      {"Updater.exe", RT_MANIFEST, MAKEINTRESOURCEA(1)},
      {"Portus.exe", RT_MANIFEST, MAKEINTRESOURCEA(1)},
  };
  for (const Expected& e : expected) {
    SCOPED_TRACE(e.file);
    HMODULE module = LoadLibraryExA((DistDir() + e.file).c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module, nullptr) << GetLastError();
    EXPECT_NE(FindResourceA(module, e.name, e.type), nullptr)
        << "resource " << reinterpret_cast<uintptr_t>(e.name) << " of type "
        << reinterpret_cast<uintptr_t>(e.type);
    EXPECT_NE(FindResourceA(module, MAKEINTRESOURCEA(1), RT_VERSION), nullptr);
    FreeLibrary(module);
  }
}

}  // namespace
