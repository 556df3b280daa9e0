#include "xlue_names.h"

#include <gtest/gtest.h>

namespace xlue {
namespace {

TEST(XlueNames, PackageNamesAreSingleFolderNames) {
  const struct {
    const wchar_t* name;
    bool valid;
  } cases[] = {
      {L"Lumora1.0.0", true}, {L"淺皮", true},  {L"a b", true},
      {L"", false},           {L".", false},    {L"..", false},
      {L"a\\b", false},       {L"a/b", false},  {L"C:", false},
      {L"a*", false},         {L"a?", false},   {L"a|b", false},
      {L"a\"", false},        {L"a<", false},   {L"tab\t", false},
      {L"trailing.", false},  {L"trailing ", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsValidPackageName(c.name), c.valid);
  EXPECT_TRUE(IsValidPackageName(std::wstring(200, L'a')));
  EXPECT_FALSE(IsValidPackageName(std::wstring(201, L'a')));
}

TEST(XlueNames, ModuleNamesBecomeFilesOfThePackage) {
  const struct {
    const wchar_t* module;
    const wchar_t* path;  // null: refused
  } cases[] = {
      {L"json", L"json.lua"},         {L"ui.window", L"ui\\window.lua"},
      {L"a.b.c", L"a\\b\\c.lua"},     {L"中文", L"中文.lua"},
      {L"", nullptr},                 {L".json", nullptr},
      {L"json.", nullptr},            {L"a..b", nullptr},
      {L"..\\x", nullptr},            {L"a/b", nullptr},
      {L"c:x", nullptr},
  };
  for (const auto& c : cases) {
    std::wstring path;
    EXPECT_EQ(ModuleFilePath(c.module, path), c.path != nullptr);
    EXPECT_EQ(path, c.path != nullptr ? c.path : L"");
  }
  EXPECT_EQ(ModuleChunkPath(L"a\\b\\c.lua"), L"a/b/c.lua");
}

TEST(XlueNames, ChunkNamesCarryTheirPackage) {
  EXPECT_EQ(PackageChunkName("Lumora1.0.0", "onload.lua"), "@Lumora1.0.0/onload.lua");
  const struct {
    const char* chunk;
    const char* package;
  } cases[] = {
      {"@Lumora1.0.0/onload.lua", "Lumora1.0.0"},
      {"@pkg/sub/deep.lua", "pkg"},
      {"@/x.lua", ""},
      {"@nofolder", ""},
      {"=test", ""},
      {"return 1", ""},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(PackageOfChunkName(c.chunk), c.package) << c.chunk;
}

TEST(XlueNames, DottedNamesSplitIntoTheirParts) {
  const struct {
    const char* name;
    std::vector<std::string> parts;  // empty: refused
  } cases[] = {
      {"Lumo.App", {"Lumo", "App"}},
      {"Orlune.LuaChunkReg", {"Orlune", "LuaChunkReg"}},
      {"Top", {"Top"}},
      {"a.b.c.d", {"a", "b", "c", "d"}},
      {"", {}},
      {".a", {}},
      {"a.", {}},
      {"a..b", {}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> parts{"stale"};
    EXPECT_EQ(SplitDottedName(c.name, parts), !c.parts.empty()) << c.name;
    EXPECT_EQ(parts, c.parts) << c.name;
  }
}

}  // namespace
}  // namespace xlue
