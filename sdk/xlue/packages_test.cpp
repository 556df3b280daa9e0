// Packages through the DLL: search paths, finding, loading and `require`,
// with packages written into temporary folders (one of them Chinese).
#include <gtest/gtest.h>

#include <windows.h>

#include "engine_fixture.h"
#include "test_support.h"

namespace {

using testing_support::TempDir;
using testing_support::WriteFileBytes;
using xlue_testing::EngineTest;
using xlue_testing::Errors;
using xlue_testing::Wide;
using xlue_testing::WritePackage;

// "皮肤淺" and "淺皮": 淺 is 9c 5c in code page 936, its second byte a backslash.
const std::string kChineseFolder = "皮肤淺";
const std::string kChinesePackage = "淺皮";

class PackageTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    first_ = dir_.Path() + "\\first";
    second_ = dir_.Path() + "\\second";
    chinese_ = dir_.Path() + "\\" + kChineseFolder;
    for (const std::string* folder : {&first_, &second_, &chinese_}) {
      ASSERT_TRUE(CreateDirectoryA(folder->c_str(), nullptr)) << *folder;
    }
    ASSERT_TRUE(WritePackage(first_, "Alpha",
                             {{"onload.lua", "alpha_name, alpha_folder = ...\n"
                                             "alpha_runs = (alpha_runs or 0) + 1\n"
                                             "local util = require 'util'\n"
                                             "alpha_sum = util.add(2, 3)\n"
                                             "alpha_deep = require('sub.deep').word\n"
                                             "function alpha_later(name) return require(name) end\n"},
                              {"util.lua", "util_runs = (util_runs or 0) + 1\n"
                                           "return { add = function(a, b) return a + b end }\n"},
                              {"sub\\deep.lua", "return { word = 'deep' }\n"}}));
    ASSERT_TRUE(WritePackage(second_, "Beta", {{"onload.lua", "beta_loaded = true\n"}}));
    // The same name in a later path is never reached.
    ASSERT_TRUE(WritePackage(second_, "Alpha", {{"onload.lua", "error('the wrong Alpha')\n"}}));
    ASSERT_TRUE(WritePackage(second_, "NoEntry", {{"readme.txt", "no onload.lua here"}}));
    ASSERT_TRUE(WritePackage(chinese_, kChinesePackage,
                             {{"onload.lua", "cn_name = ...\ncn_word = require('words').hello\n"},
                              {"words.lua", "return { hello = '\xe4\xbd\xa0\xe5\xa5\xbd' }\n"}}));
  }

  void AddAllPaths() {
    ASSERT_EQ(XLUE_AddXARSearchPath(Wide(first_).c_str()), 0);
    ASSERT_EQ(XLUE_AddXARSearchPath(Wide(second_).c_str()), 0);
    ASSERT_EQ(XLUE_AddXARSearchPath(Wide(chinese_).c_str()), 0);
  }

  TempDir dir_;
  std::string first_, second_, chinese_;
};

TEST_F(PackageTest, SearchPathsMustBeExistingFolders) {
  ASSERT_EQ(std::string("\x9c\x5c"), std::string("淺")) << "the test needs code page 936 text";
  const std::string file = dir_.File("plain.txt");
  ASSERT_TRUE(WriteFileBytes(file, "x"));
  const std::wstring missing = Wide(dir_.Path() + "\\missing");
  const std::wstring chinese = Wide(chinese_);
  const std::wstring withSlash = Wide(first_ + "\\");
  const std::wstring relative = Wide(dir_.Path() + "\\first\\..\\second");
  const std::wstring plain = Wide(file);
  struct Case {
    const wchar_t* folder;
    int expected;
  } cases[] = {
      {nullptr, 1},          {L"", 1},
      {missing.c_str(), 2},  {plain.c_str(), 2},
      {chinese.c_str(), 0},  {withSlash.c_str(), 0},
      {relative.c_str(), 0}, {withSlash.c_str(), 0},  // a second time: still fine
  };
  for (const Case& c : cases) {
    EXPECT_EQ(XLUE_AddXARSearchPath(c.folder), c.expected)
        << (c.folder != nullptr ? std::string(c.folder, c.folder + wcslen(c.folder)) : "null");
  }
  EXPECT_EQ(XLUE_XARExist("Beta"), 1) << "found through the path with '..' in it";
  EXPECT_TRUE(Errors().empty());
}

TEST_F(PackageTest, ExistenceFollowsTheSearchPathsAndTheNameRules) {
  EXPECT_EQ(XLUE_XARExist("Alpha"), 0) << "no search path yet";
  AddAllPaths();
  const struct {
    const char* name;
    int expected;
  } cases[] = {
      {"Alpha", 1},        {"Beta", 1},       {"alpha", 1},  // Windows names ignore case
      {"NoEntry", 0},      {"Missing", 0},    {"", 0},
      {nullptr, 0},        {".", 0},          {"..", 0},
      {"..\\first\\Alpha", 0}, {"Alpha\\", 0}, {"first/Alpha", 0},
      {"Alpha.", 0},       {"Al*", 0},        {kChinesePackage.c_str(), 1},
      {"\x9c", 0},  // half a double-byte character
  };
  for (const auto& c : cases) {
    EXPECT_EQ(XLUE_XARExist(c.name), c.expected) << (c.name != nullptr ? c.name : "null");
  }
  // Without the file system nothing is found.
  ASSERT_EQ(XLFS_Uninit(), 0);
  EXPECT_EQ(XLUE_XARExist("Alpha"), 0);
  EXPECT_EQ(XLUE_LoadXAR("Alpha"), 1);
  ASSERT_EQ(XLFS_Init(), 0);
  EXPECT_EQ(XLUE_XARExist("Alpha"), 1);
}

TEST_F(PackageTest, LoadingRunsTheEntryScriptOnceAndItsRequiresFromThePackage) {
  AddAllPaths();
  ASSERT_EQ(XLUE_LoadXAR("Alpha"), 0);
  EXPECT_TRUE(Errors().empty()) << "the first path's Alpha is loaded";
  EXPECT_EQ(Eval("alpha_name"), "Alpha");
  EXPECT_EQ(Eval("alpha_folder"), first_ + "\\Alpha");
  EXPECT_EQ(Eval("alpha_sum"), "5");
  EXPECT_EQ(Eval("alpha_deep"), "deep");
  EXPECT_EQ(XLUE_LoadXAR("Alpha"), 0);
  EXPECT_EQ(Eval("alpha_runs"), "1") << "a loaded package is not run again";

  // A function of the package can require later, from a host call.
  EXPECT_EQ(Eval("alpha_later('util') ~= nil and util_runs"), "1") << "modules load once";
  EXPECT_EQ(Run("alpha_later('nothere')"), LUA_ERRRUN);
  ASSERT_EQ(Errors().size(), 1u);
  EXPECT_NE(Errors()[0].error.find(L"no file 'nothere.lua' in package 'Alpha'"), std::wstring::npos)
      << std::string(Errors()[0].error.begin(), Errors()[0].error.end());
  // Names that are no file names of the package.
  EXPECT_EQ(Run("alpha_later('..util')"), LUA_ERRRUN);
  EXPECT_EQ(Run("alpha_later('sub..deep')"), LUA_ERRRUN);
  // A chunk that is not a package script has no package to load from (a
  // module loaded before is still found, in package.loaded).
  EXPECT_EQ(Run("assert(require 'util' == alpha_later('util'))"), 0);
  EXPECT_EQ(Run("require 'sub.deep2'"), LUA_ERRRUN);
  ASSERT_EQ(Errors().size(), 4u);
  EXPECT_NE(Errors()[3].error.find(L"no package script called require"), std::wstring::npos);

  // The Chinese package in the Chinese folder, with its module.
  ASSERT_EQ(XLUE_LoadXAR(kChinesePackage.c_str()), 0);
  EXPECT_EQ(Eval("cn_name"), u8"淺皮");
  EXPECT_EQ(Eval("cn_word"), u8"你好");
  EXPECT_EQ(XLUE_LoadXAR("Beta"), 0);
  EXPECT_EQ(Eval("beta_loaded"), "true");
  EXPECT_EQ(Errors().size(), 4u);
}

TEST_F(PackageTest, FailuresGiveTheirCodesAndReportScriptErrors) {
  ASSERT_TRUE(WritePackage(first_, "Syntax", {{"onload.lua", "local x = = 1\n"}}));
  ASSERT_TRUE(WritePackage(first_, "Raises",
                           {{"onload.lua", "print('starting')\n"
                                           "local function fail() error('no skin today') end\n"
                                           "fail()\n"}}));
  ASSERT_TRUE(WritePackage(chinese_, "\xc6\xa4\xb4\xed",  // 皮错
                           {{"onload.lua", "\n\nerror('\xe5\x9d\x8f')\n"}}));  // 坏 in UTF-8
  AddAllPaths();
  EXPECT_EQ(XLUE_LoadXAR("Missing"), 2);
  EXPECT_EQ(XLUE_LoadXAR(nullptr), 2);
  EXPECT_TRUE(Errors().empty()) << "a missing package is no script error";

  EXPECT_EQ(XLUE_LoadXAR("Syntax"), 4);
  ASSERT_EQ(Errors().size(), 1u);
  EXPECT_FALSE(Errors()[0].hasExtra);
  EXPECT_EQ(Errors()[0].error.rfind(L"Syntax/onload.lua:1:", 0), 0u);

  EXPECT_EQ(XLUE_LoadXAR("Raises"), 4);
  ASSERT_EQ(Errors().size(), 2u);
  const auto& raised = Errors()[1];
  EXPECT_FALSE(raised.hasExtra);
  EXPECT_EQ(raised.error, L"Raises/onload.lua:2: no skin today");
  ASSERT_GE(raised.lines.size(), 4u);
  EXPECT_EQ(raised.lines[0], "starting\r\n");
  EXPECT_EQ(raised.lines[1], "stack traceback:\r\n");
  EXPECT_EQ(raised.lines[2], "\t[C]: in function 'error'\r\n");
  EXPECT_EQ(raised.lines[3], "\tRaises/onload.lua:2: in function 'fail'\r\n");

  EXPECT_EQ(XLUE_LoadXAR("\xc6\xa4\xb4\xed"), 4);
  ASSERT_EQ(Errors().size(), 3u);
  EXPECT_EQ(Errors()[2].error, L"皮错/onload.lua:3: 坏");

  // A package that failed may be loaded again once it is mended.
  ASSERT_TRUE(WritePackage(first_, "Raises", {{"onload.lua", "mended = true\n"}}));
  EXPECT_EQ(XLUE_LoadXAR("Raises"), 0);
  EXPECT_EQ(Eval("mended"), "true");

  // An entry script that cannot be read.
  ASSERT_TRUE(WritePackage(first_, "Locked", {{"onload.lua", "x = 1\n"}}));
  HANDLE lock = CreateFileA((first_ + "\\Locked\\onload.lua").c_str(), GENERIC_READ, 0, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  EXPECT_EQ(XLUE_LoadXAR("Locked"), 3);
  CloseHandle(lock);

  // After XLUE_Uninit the loader is down and the search paths are gone.
  ASSERT_EQ(XLUE_Uninit(nullptr), 0);
  EXPECT_EQ(XLUE_LoadXAR("Beta"), 1);
  ASSERT_EQ(XLUE_InitLoader(nullptr), 0);
  EXPECT_EQ(XLUE_XARExist("Beta"), 0);
  EXPECT_EQ(XLUE_LoadXAR("Beta"), 2);
}

}  // namespace
