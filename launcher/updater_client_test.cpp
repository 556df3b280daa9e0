#include "updater_client.h"

#include <gtest/gtest.h>

#include "component_updates.h"
#include "json_util.h"

TEST(UpdaterClient, ArgumentObjects) {
  struct Case {
    Json::Value object;
    const char* expected;
  } cases[] = {
      {InstallObject("D\\Tessel.pkg.exe", "C:\\游戏大厅", "", ""),
       R"({"SI":true,"TP":"D\\Tessel.pkg.exe","dir":"C:\\游戏大厅"})"},
      {InstallObject("p", "", "", ""), R"({"SI":true,"TP":"p"})"},
      {InstallObject("p", "d", "run.exe", ""),
       R"({"SI":true,"TP":"p","dir":"d","SR":true,"open":"run.exe"})"},
      {InstallObject("p", "d", "run.exe", "x y"),
       R"({"SI":true,"TP":"p","dir":"d","SR":true,"open":"run.exe","SP":"x y"})"},
      {ReplaceObject("p", "C:\\L\\Lumora.exe", true, "MD1"),
       R"({"SU":true,"SR":true,"SP":"MD1","TP":"p","path":"C:\\L\\Lumora.exe"})"},
      {ReplaceObject("p", "C:\\L", true, ""), R"({"SU":true,"SR":true,"TP":"p","path":"C:\\L"})"},
      {ReplaceObject("p", "C:\\L", false, "MD1"), R"({"SU":true,"TP":"p","path":"C:\\L"})"},
      {ReplaceObject("p", "C:\\L", false, "", std::string(64, 'a'), 123456),
       R"({"SU":true,"TP":"p","path":"C:\\L","sha256":"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa","size":123456})"},
      {ReplaceObject("p", "C:\\L", false, "", "", 7), R"({"SU":true,"TP":"p","path":"C:\\L"})"},
  };
  for (const Case& c : cases) {
    Json::Value expected;
    ASSERT_TRUE(rt::ParseJson(c.expected, expected)) << c.expected;
    EXPECT_EQ(c.object, expected) << rt::StyledText(c.object);
  }
}

TEST(ComponentUpdateRules, PackagePathAndResultStatus) {
  EXPECT_EQ(PackagePath("C:\\游戏淺\\Download", "Orlune.pkg.exe"),
            "C:\\游戏淺\\Download\\Orlune.pkg.exe");
  EXPECT_EQ(PackagePath("", "x"), "");
  EXPECT_EQ(PackagePath("C:\\d", ""), "");
  EXPECT_EQ(PackagePath("C:\\" + std::string(250, 'd'), "Orlune.pkg.exe"), "");  // past 259

  struct Case {
    const char* call;
    bool status;
  } cases[] = {
      {R"({"result":{"status":true}})", true},  {R"({"result":{"status":false}})", false},
      {R"({"result":{"status":1}})", false},     {R"({"result":true})", false},
      {R"({})", false},
  };
  for (const Case& c : cases) {
    Json::Value call;
    ASSERT_TRUE(rt::ParseJson(c.call, call));
    EXPECT_EQ(ResultStatus(call), c.status) << c.call;
  }
}

TEST(ComponentUpdateRules, DownloadCallCarriesItsContinuation) {
  const Json::Value call =
      ComponentDownloadCall(kHallComponent, 12, "http://h/Orlune.pkg.exe", "C:\\D", 5);
  EXPECT_EQ(call["op"].asString(), "URL_Download");
  EXPECT_EQ(call["opsign"].asInt(), 12);
  EXPECT_EQ(call["name"].asString(), "Orlune.pkg.exe");
  EXPECT_EQ(call["path"].asString(), "C:\\D");
  EXPECT_EQ(call["text"].asString(), "更新大厅...");
  const Json::Value& then = call["then"];
  EXPECT_EQ(then["op"].asString(), "UpdatePlaza");
  EXPECT_EQ(then["dir"].asString(), "C:\\D");
  EXPECT_EQ(then["version"].asInt(), 5);
  EXPECT_EQ(then["url"].asString(), "http://h/Orlune.pkg.exe");
  EXPECT_FALSE(then.isMember("opsign"));
  EXPECT_EQ(ComponentDownloadCall(kPlatformComponent, 1, "u", "d", 1)["then"]["op"].asString(),
            "UpdatePlatform");
}
