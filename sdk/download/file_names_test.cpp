#include "file_names.h"

#include <gtest/gtest.h>

namespace download {
namespace {

TEST(FileNames, JoinsFolderAndName) {
  EXPECT_EQ(JoinPath(L"C:\\d", L"f.exe"), L"C:\\d\\f.exe");
  EXPECT_EQ(JoinPath(L"C:\\d\\", L"f.exe"), L"C:\\d\\f.exe");
  EXPECT_EQ(JoinPath(L"C:/d/", L"f.exe"), L"C:/d/f.exe");
  EXPECT_EQ(JoinPath(L"", L"f.exe"), L"f.exe");
  EXPECT_EQ(JoinPath(L"C:\\\u6dfa", L"\u6dfa.exe"), L"C:\\\u6dfa\\\u6dfa.exe");
}

TEST(FileNames, APlainFileNameStaysInItsFolder) {
  const struct {
    const wchar_t* name;
    bool plain;
  } cases[] = {
      {L"Orlune.pkg.exe", true}, {L"\u6dfa.exe", true},  {L"a b", true},
      {L"", false},              {L".", false},           {L"..", false},
      {L"..\\x", false},         {L"a/b", false},         {L"a\\b", false},
      {L"C:x", false},           {L"*.exe", false},       {L"a?", false},
      {L"a|b", false},           {L"a\"b", false},        {L"a<b>", false},
      {L"a\tb", false},
      // Devices, with or without an extension, in any case; names the
      // system would shorten.
      {L"CON", false},           {L"nul.pkg.exe", false}, {L"Com1.exe", false},
      {L"LPT9", false},          {L"aux .txt", false},    {L"COM\u00b9", false},
      {L"CONOUT$", false},       {L"a.", false},          {L"a ", false},
      {L"CONSOLE.exe", true},    {L"COM10", true},        {L"xNUL", true},
      {L"LPT.exe", true},        {L".a", true},
  };
  for (const auto& c : cases) EXPECT_EQ(IsPlainFileName(c.name), c.plain) << c.name;
}

TEST(FileNames, TemporaryNameIsUniquePerTaskAndFitsAFileName) {
  EXPECT_EQ(TemporaryName(L"f.exe", 12, 3), L"f.exe.12-3.part");
  EXPECT_NE(TemporaryName(L"f.exe", 12, 3), TemporaryName(L"f.exe", 12, 4));
  EXPECT_NE(TemporaryName(L"f.exe", 12, 3), TemporaryName(L"f.exe", 13, 3));
  const std::wstring suffix = L".4294967295-4294967295.part";
  const std::wstring fits(255 - suffix.size(), L'n');
  EXPECT_EQ(TemporaryName(fits, 4294967295u, 4294967295u), fits + suffix);
  const std::wstring longer(256 - suffix.size(), L'n');
  EXPECT_EQ(TemporaryName(longer, 4294967295u, 4294967295u), L"~download" + suffix);
}

TEST(FileNames, FolderChainListsTheFoldersBelowTheRoot) {
  using V = std::vector<std::wstring>;
  EXPECT_EQ(FolderChain(L"C:\\a\\b"), (V{L"C:\\a", L"C:\\a\\b"}));
  EXPECT_EQ(FolderChain(L"C:\\a\\b\\"), (V{L"C:\\a", L"C:\\a\\b"}));
  EXPECT_EQ(FolderChain(L"C:\\a\\\\b"), (V{L"C:\\a", L"C:\\a\\\\b"}));
  EXPECT_EQ(FolderChain(L"C:/a/b"), (V{L"C:/a", L"C:/a/b"}));
  EXPECT_EQ(FolderChain(L"C:\\"), V{});
  EXPECT_EQ(FolderChain(L"\\\\server\\share\\x"), V{L"\\\\server\\share\\x"});
  EXPECT_EQ(FolderChain(L"\\a"), V{L"\\a"});
  EXPECT_EQ(FolderChain(L"rel\\x"), (V{L"rel", L"rel\\x"}));
  EXPECT_EQ(FolderChain(L""), V{});
  EXPECT_EQ(FolderChain(L"C:\\\u6dfa\\\u6d4b"), (V{L"C:\\\u6dfa", L"C:\\\u6dfa\\\u6d4b"}));
}

TEST(FileNames, LongAbsolutePathsGetTheLongPathPrefix) {
  const std::wstring tail(300, L'x');
  EXPECT_EQ(ForFileApi(L"C:\\d\\f"), L"C:\\d\\f");  // short: unchanged
  EXPECT_EQ(ForFileApi(L"C:/d/" + tail), L"\\\\?\\C:\\d\\" + tail);
  EXPECT_EQ(ForFileApi(L"\\\\srv\\share\\" + tail), L"\\\\?\\UNC\\srv\\share\\" + tail);
  EXPECT_EQ(ForFileApi(L"\\\\?\\C:\\" + tail), L"\\\\?\\C:\\" + tail);
  EXPECT_EQ(ForFileApi(L"rel\\" + tail), L"rel\\" + tail);  // relative: left to the system
  const std::wstring edge = L"C:\\" + std::wstring(MAX_PATH - 4, L'y');  // MAX_PATH - 1 long
  EXPECT_EQ(ForFileApi(edge), edge);
  EXPECT_EQ(ForFileApi(edge + L"y"), L"\\\\?\\" + edge + L"y");
}

TEST(FileNames, NtPathNamesForARenameThroughAHandle) {
  EXPECT_EQ(NtPathName(L"C:\\d\\\u5927.pkg"), L"\\??\\C:\\d\\\u5927.pkg");
  EXPECT_EQ(NtPathName(L"C:/d/f"), L"\\??\\C:\\d\\f");
  EXPECT_EQ(NtPathName(L"\\\\srv\\share\\f"), L"\\??\\UNC\\srv\\share\\f");
  EXPECT_EQ(NtPathName(L"\\\\?\\C:\\long\\f"), L"\\??\\C:\\long\\f");
  EXPECT_EQ(NtPathName(L"\\\\?\\UNC\\srv\\s\\f"), L"\\??\\UNC\\srv\\s\\f");
  EXPECT_EQ(NtPathName(L"rel\\f"), L"") << "a relative name would land elsewhere";
  EXPECT_EQ(NtPathName(L"C:f"), L"");
}

}  // namespace
}  // namespace download
