// The default skin package Lumora1.0.0, loaded from the build's xar folder
// through XLUE.dll, with the test's own stand-ins for the launcher's objects
// Orlune.LuaChunkReg and Lumo.App. Events are raised as the launcher raises
// them: ToLua gets {name, data} with data written by the styled writer.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <map>
#include <string>
#include <vector>

#include "engine_fixture.h"
#include "json_util.h"
#include "test_support.h"

namespace {

using xlue_testing::EngineTest;
using xlue_testing::Errors;
using xlue_testing::Wide;

constexpr const char* kSkin = "Lumora1.0.0";
constexpr int kTextId = 101;
constexpr int kProgressId = 102;
constexpr int kButtonId = 103;

// --- stand-ins for the launcher's objects --------------------------------------

std::map<std::string, int> g_chunks;     // RegChunk: name → registry reference
std::vector<std::string> g_jopTexts;     // what JOP got
std::vector<int> g_quitCodes;
int g_chunkRegistry;                     // the objects' addresses
int g_app;

int RegChunk(lua_State* L) {
  void* object = *static_cast<void**>(luaL_checkudata(L, 1, "Orlune.LuaChunkReg.Class"));
  const char* name = lua_tostring(L, 2);
  if (object == nullptr || name == nullptr || *name == '\0') return 0;
  if (lua_type(L, 3) != LUA_TFUNCTION) return 0;
  auto it = g_chunks.find(name);
  if (it != g_chunks.end()) luaL_unref(L, LUA_REGISTRYINDEX, it->second);
  lua_settop(L, 3);
  g_chunks[name] = luaL_ref(L, LUA_REGISTRYINDEX);
  return 0;
}

int Quit(lua_State* L) {
  luaL_checkudata(L, 1, "BOLTGlobalObject_Class");
  g_quitCodes.push_back(static_cast<int>(luaL_checkinteger(L, 2)));
  lua_pushboolean(L, 1);
  return 1;
}

int GetWorkDirectory(lua_State* L) {
  luaL_checkudata(L, 1, "BOLTGlobalObject_Class");
  lua_pushstring(L, "C:\\Lumora");
  return 1;
}

int Jop(lua_State* L) {
  luaL_checkudata(L, 1, "BOLTGlobalObject_Class");
  const char* text = lua_tostring(L, 2);
  if (text != nullptr && *text != '\0') g_jopTexts.push_back(text);
  return 0;
}

void* XLUE_CALL GiveObject(void* userData) { return userData; }

const XLLRTGlobalAPI kChunkRegMembers[] = {{"RegChunk", RegChunk, 0}, {nullptr, nullptr, 0}};
const XLLRTGlobalAPI kAppMembers[] = {{"Quit", Quit, 0},
                                      {"GetWorkDirectory", GetWorkDirectory, 0},
                                      {"JOP", Jop, 0},
                                      {nullptr, nullptr, 0}};

std::string Styled(const char* json) {
  Json::Value value;
  EXPECT_TRUE(rt::ParseJson(json, value)) << json;
  return rt::StyledText(value);
}

// --- the skin's window, seen through Win32 -------------------------------------

BOOL CALLBACK FindSkinWindow(HWND hwnd, LPARAM found) {
  wchar_t cls[64] = L"";
  GetClassNameW(hwnd, cls, 64);
  if (wcscmp(cls, L"XLUE_ScriptWindow") != 0) return TRUE;
  *reinterpret_cast<HWND*>(found) = hwnd;
  return FALSE;
}

HWND SkinWindow() {
  HWND found = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), FindSkinWindow, reinterpret_cast<LPARAM>(&found));
  return found;
}

std::wstring TextOf(HWND hwnd) {
  wchar_t buffer[512] = L"";
  GetWindowTextW(hwnd, buffer, 512);
  return buffer;
}

std::string Narrow(const std::wstring& text) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n - 1 : 0), '\0');
  if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], n, nullptr, nullptr);
  return out;
}

class SkinTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    g_chunks.clear();
    g_jopTexts.clear();
    g_quitCodes.clear();
    ASSERT_EQ(XLLRT_RegisterGlobalObj(
                  env_, XLLRTObject{&GiveObject, &g_chunkRegistry, "Orlune.LuaChunkReg",
                                    "Orlune.LuaChunkReg.Class", kChunkRegMembers, 0}),
              0);
    ASSERT_EQ(XLLRT_RegisterGlobalObj(env_, XLLRTObject{&GiveObject, &g_app, "Lumo.App",
                                                        "BOLTGlobalObject_Class", kAppMembers, 0}),
              0);
    ASSERT_EQ(XLUE_AddXARSearchPath(Wide(testing_support::ProgramDir() + "xar").c_str()), 0);
    ASSERT_EQ(XLUE_XARExist(kSkin), 1);
    ASSERT_EQ(XLUE_LoadXAR(kSkin), 0);
    ASSERT_TRUE(Errors().empty()) << Narrow(Errors()[0].error);
    ASSERT_EQ(g_chunks.size(), 1u);
    ASSERT_EQ(g_chunks.count("ToLua"), 1u);
  }

  // Calls ToLua as the launcher does; gives its result read as an integer.
  int ToLua(const std::string& name, const char* data) {
    const int top = lua_gettop(L);
    lua_rawgeti(L, LUA_REGISTRYINDEX, g_chunks["ToLua"]);
    lua_createtable(L, 0, 0);
    lua_pushstring(L, name.c_str());
    lua_setfield(L, -2, "name");
    if (data != nullptr) {
      lua_pushstring(L, data);
      lua_setfield(L, -2, "data");
    }
    XLLRT_LuaCall(L, 1, 1, L"CPP To Lua");
    const int result = static_cast<int>(lua_tointeger(L, -1));
    lua_settop(L, top);
    return result;
  }
  int ToLua(const std::string& name, const std::string& data) { return ToLua(name, data.c_str()); }

  static int Position(HWND hwnd) {
    return static_cast<int>(SendDlgItemMessageW(hwnd, kProgressId, PBM_GETPOS, 0, 0));
  }
  static int Range(HWND hwnd) {
    return static_cast<int>(SendDlgItemMessageW(hwnd, kProgressId, PBM_GETRANGE, FALSE, 0));
  }
  static std::wstring Status(HWND hwnd) { return TextOf(GetDlgItem(hwnd, kTextId)); }
};

// --- events --------------------------------------------------------------------

TEST_F(SkinTest, ShowUpdateLoadShowsTheVersionsAndAnEmptyBar) {
  EXPECT_EQ(SkinWindow(), nullptr) << "nothing is shown before an event asks for it";
  EXPECT_EQ(ToLua("ShowUpdateLoad", Styled(R"({"old": 2014040401, "new": 2014050101})")), 1);
  HWND hwnd = SkinWindow();
  ASSERT_NE(hwnd, nullptr);
  EXPECT_TRUE(IsWindowVisible(hwnd));
  EXPECT_EQ(TextOf(hwnd), L"Lumora 更新");
  EXPECT_EQ(Status(hwnd), L"正在从版本 2014040401 更新到版本 2014050101");
  EXPECT_EQ(Position(hwnd), 0);
  EXPECT_EQ(Range(hwnd), 100);
  EXPECT_TRUE(GetWindowLongW(GetDlgItem(hwnd, kButtonId), GWL_STYLE) & WS_VISIBLE)
      << "the button to the tray";

  // Shown again for the next package: the same window, the bar back at 0.
  ASSERT_EQ(ToLua("OnURLDownload", Styled(R"({"id":1,"status":1,"size":10,"load":5})")), 1);
  EXPECT_EQ(ToLua("ShowUpdateLoad", Styled(R"({"old": 0, "new": 7})")), 1);
  EXPECT_EQ(SkinWindow(), hwnd);
  EXPECT_EQ(Status(hwnd), L"正在从版本 0 更新到版本 7");
  EXPECT_EQ(Position(hwnd), 0);
  EXPECT_TRUE(Errors().empty());
}

TEST_F(SkinTest, DownloadProgressMovesTheBarAndEndsInTheStatusText) {
  ASSERT_EQ(ToLua("ShowUpdateLoad", Styled(R"({"old": 3, "new": 4})")), 1);
  HWND hwnd = SkinWindow();
  ASSERT_NE(hwnd, nullptr);
  const struct {
    const char* data;  // the event's members after "id"
    int position;
    const wchar_t* progress;  // the status text's second line
  } steps[] = {
      {R"("status": 1, "size": 67108864, "load": 0)", 0, L"正在下载更新 0%  0.0 MB / 64.0 MB"},
      // Speed and time left once they are known (a launcher before them sent neither).
      {R"("status": 2, "size": 67108864, "load": 16777216, "speed": 1572864, "left": 32)", 25,
       L"正在下载更新 25%  16.0 MB / 64.0 MB  1.5 MB/s  剩余 0:32"},
      {R"("status": 2, "size": 67108864, "load": 16777216, "speed": 0, "left": -1)", 25,
       L"正在下载更新 25%  16.0 MB / 64.0 MB"},
      {R"("status": 2, "size": 67108864, "load": 20971520, "speed": 358400, "left": 3862)", 31,
       L"正在下载更新 31%  20.0 MB / 64.0 MB  350 KB/s  剩余 1:04:22"},
      // A broken connection: the bar stays, the line says so.
      {R"("status": 5, "size": 67108864, "load": 20971520, "speed": 0, "left": -1)", 31,
       L"连接中断, 正在重新连接...  20.0 MB / 64.0 MB"},
      {R"("status": 2, "size": 1000, "load": 999)", 99, L"正在下载更新 99%  0.0 MB / 0.0 MB"},
      {R"("status": 1, "size": -1, "load": 4194304, "speed": 2097152, "left": -1)", 99,
       L"正在下载更新, 已下载 4.0 MB  2.0 MB/s"},  // size unknown: the bar stays
      {R"("status": 1, "size": 100, "load": 500)", 100, L"正在下载更新 100%  0.0 MB / 0.0 MB"},
      {R"("status": 1, "size": 100, "load": -5)", 0, L"正在下载更新 0%  0.0 MB / 0.0 MB"},
      {R"("status": 3, "size": 1000, "load": 1000, "speed": 0, "left": 0)", 100,
       L"下载完成, 正在安装更新"},
      {R"("status": 4, "size": 1000, "load": 10)", 100, L"下载失败"},
  };
  for (const auto& step : steps) {
    const std::string data = std::string(R"({"id": 9, )") + step.data + "}";
    EXPECT_EQ(ToLua("OnURLDownload", Styled(data.c_str())), 1) << data;
    EXPECT_EQ(Position(hwnd), step.position) << data;
    EXPECT_EQ(Status(hwnd), std::wstring(L"正在从版本 3 更新到版本 4\r\n") + step.progress) << data;
  }
  EXPECT_TRUE(Errors().empty());
}

TEST_F(SkinTest, HideWindowAndTopWindow) {
  // TopWindow before any update view (a second launcher start): made and shown.
  EXPECT_EQ(ToLua("TopWindow", Styled(R"({"data": true})")), 1);
  HWND hwnd = SkinWindow();
  ASSERT_NE(hwnd, nullptr);
  EXPECT_TRUE(IsWindowVisible(hwnd));
  const struct {
    const char* name;
    const char* data;  // as the launcher writes it; null: no data member
    bool visible;
  } steps[] = {
      {"HideWindow", "null\n", false}, {"HideWindow", "null\n", false},
      {"TopWindow", "{\n   \"data\" : true\n}\n", true}, {"HideWindow", nullptr, false},
      {"TopWindow", nullptr, true},
  };
  for (const auto& step : steps) {
    EXPECT_EQ(ToLua(step.name, step.data), 1) << step.name;
    EXPECT_EQ(IsWindowVisible(hwnd) != FALSE, step.visible) << step.name;
  }
  EXPECT_EQ(SkinWindow(), hwnd);
  EXPECT_TRUE(g_jopTexts.empty());
  EXPECT_TRUE(Errors().empty());
}

TEST_F(SkinTest, ClosingTheWindowOrItsButtonAsksForTheTray) {
  ASSERT_EQ(ToLua("ShowUpdateLoad", Styled(R"({"old": 1, "new": 2})")), 1);
  HWND hwnd = SkinWindow();
  ASSERT_NE(hwnd, nullptr);
  SendMessageW(hwnd, WM_CLOSE, 0, 0);
  ASSERT_EQ(g_jopTexts, std::vector<std::string>{R"({"op":"ChangeTrayIcon"})"});
  EXPECT_TRUE(IsWindow(hwnd)) << "hidden, not closed";
  EXPECT_FALSE(IsWindowVisible(hwnd));
  // The launcher answers with HideWindow, and later brings it back.
  EXPECT_EQ(ToLua("HideWindow", "null\n"), 1);
  EXPECT_EQ(ToLua("TopWindow", Styled(R"({"data": true})")), 1);
  EXPECT_TRUE(IsWindowVisible(hwnd));

  SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(kButtonId, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(hwnd, kButtonId)));
  EXPECT_EQ(g_jopTexts.size(), 2u);
  EXPECT_EQ(g_jopTexts.back(), R"({"op":"ChangeTrayIcon"})");
  EXPECT_FALSE(IsWindowVisible(hwnd));

  // Without the launcher's object there is no tray: the window stays.
  EXPECT_EQ(ToLua("TopWindow", Styled(R"({"data": true})")), 1);
  ASSERT_EQ(XLLRT_RemoveGlobalObj(env_, "Lumo.App"), 0);
  SendMessageW(hwnd, WM_CLOSE, 0, 0);
  EXPECT_TRUE(IsWindowVisible(hwnd));
  EXPECT_EQ(g_jopTexts.size(), 2u);
  EXPECT_TRUE(g_quitCodes.empty());
  EXPECT_TRUE(Errors().empty());
}

TEST_F(SkinTest, OtherEventsAreNotImplementedAndBadDataFails) {
  const struct {
    const char* name;
    std::string data;
    int result;
  } cases[] = {
      {"OnURLLoadData", Styled(R"({"id": 3, "data": "{\"code\":1}"})"), 0},
      {"Unknown", "{}", 0},
      {"Unknown", "{", 0},  // not read at all
      {"", "{}", 0},
      {"ShowUpdateLoad", "{", -1},
      {"ShowUpdateLoad", "[1, 2]", -1},
      {"ShowUpdateLoad", "null\n", -1},
      {"ShowUpdateLoad", "", -1},
      {"ShowUpdateLoad", Styled(R"({"old": "1", "new": 2})"), -1},
      {"ShowUpdateLoad", Styled(R"({"old": 1})"), -1},
      {"ShowUpdateLoad", "{\"old\": 1, \"new\": 2} trailing", -1},
      {"OnURLDownload", Styled(R"({"id": 1, "status": "1", "size": 1, "load": 1})"), -1},
      {"OnURLDownload", "{\"id\":1,\"status\":1,\"size\":1,\"load\":", -1},
      {"TopWindow", "{\"data\": tru", -1},
      {"HideWindow", "nul", -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ToLua(c.name, c.data), c.result) << c.name << " " << c.data;
  }
  EXPECT_EQ(SkinWindow(), nullptr) << "no failed event made a window";
  EXPECT_TRUE(Errors().empty()) << "failures are results, not Lua errors";

  // ToLua given something other than a table.
  lua_rawgeti(L, LUA_REGISTRYINDEX, g_chunks["ToLua"]);
  lua_pushinteger(L, 5);
  ASSERT_EQ(XLLRT_LuaCall(L, 1, 1, L"CPP To Lua"), 0);
  EXPECT_EQ(lua_tointeger(L, -1), -1);
  lua_pop(L, 1);
  // And the skin still works.
  EXPECT_EQ(ToLua("ShowUpdateLoad", Styled(R"({"old": 1, "new": 2})")), 1);
}

// --- loading and the JSON reader ------------------------------------------------

using SkinLoadTest = EngineTest;

TEST_F(SkinLoadTest, WithoutTheChunkRegistryTheSkinDoesNotLoad) {
  ASSERT_EQ(XLUE_AddXARSearchPath(Wide(testing_support::ProgramDir() + "xar").c_str()), 0);
  EXPECT_EQ(XLUE_LoadXAR(kSkin), 4);
  ASSERT_EQ(Errors().size(), 1u);
  EXPECT_NE(Errors()[0].error.find(L"the launcher gave no Orlune.LuaChunkReg"), std::wstring::npos)
      << Narrow(Errors()[0].error);
}

// The skin's JSON decoder (dkjson) on what the launcher writes: code page 936
// text whose second byte may be the backslash byte, kept byte for byte; a
// \u escape (which the launcher never writes) comes out as UTF-8; anything
// malformed gives nil and a reason, never a Lua error.
class SkinJsonTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    std::string code;
    ASSERT_TRUE(testing_support::ReadFileBytes(
        testing_support::ProgramDir() + "xar\\" + kSkin + "\\dkjson.lua", code));
    ASSERT_EQ(luaL_loadbuffer(L, code.data(), code.size(), "=dkjson.lua"), 0);
    ASSERT_EQ(XLLRT_LuaCall(L, 0, 1, nullptr), 0);
    lua_setglobal(L, "json");
  }
  // Decodes `text` and evaluates `check` with the results v and err.
  std::string Check(const std::string& text, const char* check) {
    lua_pushlstring(L, text.data(), text.size());
    lua_setglobal(L, "text");
    return Eval(std::string("(function() local v, _, err = json.decode(text) return ") + check +
                " end)()");
  }
};

TEST_F(SkinJsonTest, DocumentsAsTheLauncherWritesThem) {
  Json::Value gbk(Json::objectValue);
  gbk["s"] = "淺\\|\"\n中";  // code page 936, a second byte of 0x5c first
  lua_pushstring(L, gbk["s"].asCString());
  lua_setglobal(L, "want");
  const struct {
    std::string text;
    const char* check;
  } cases[] = {
      {Styled(R"({"old": 2014040401, "new": 2014050101})"),
       "v.old == 2014040401 and v.new == 2014050101"},
      {Styled(R"({"id": 7, "status": 5, "size": -1, "load": 0, "speed": 1048576, "left": -1})"),
       "v.id == 7 and v.status == 5 and v.size == -1 and v.load == 0 and v.speed == 1048576 "
       "and v.left == -1"},
      {"null\n", "v == nil and err == nil"},
      {Styled(R"({"data": true})"), "v.data == true"},
      {rt::StyledText(gbk), "v.s == want"},
      {R"("\u0041\u6dfa")", R"(v == "A\230\183\186")"},
  };
  for (const auto& c : cases) EXPECT_EQ(Check(c.text, c.check), "true") << c.text;
  for (const char* text : {"", "{", "\"open", "nul", "{'a':1}", "[1 2"}) {
    EXPECT_EQ(Check(text, "v == nil and type(err) == 'string'"), "true") << text;
  }
  // dkjson's pure-Lua scanner is lenient with separators (its documented
  // behaviour): such texts decode to something, and never raise an error.
  for (const char* text : {"[1,]", "{\"a\" 1}"}) {
    EXPECT_EQ(Check(text, "err == nil"), "true") << text;
  }
  EXPECT_TRUE(Errors().empty());
}

}  // namespace
