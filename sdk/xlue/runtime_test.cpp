// The Lua runtime through the DLL: global objects, protected calls, the
// error handler and its debug logs, handles and a second start.
#include <gtest/gtest.h>

#include <string>

#include "engine_fixture.h"

namespace {

using xlue_testing::EngineTest;
using xlue_testing::Errors;

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

// --- global objects ----------------------------------------------------------

struct Counter {
  int value = 0;
  const char* name = "";
};

constexpr const char* kCounterClass = "Test.Counter.Class";

Counter* CheckCounter(lua_State* L) {
  return *static_cast<Counter**>(luaL_checkudata(L, 1, kCounterClass));
}

int CounterAdd(lua_State* L) {
  Counter* counter = CheckCounter(L);
  counter->value += static_cast<int>(luaL_checkinteger(L, 2));
  return 0;
}

int CounterGet(lua_State* L) {
  Counter* counter = CheckCounter(L);
  if (counter == nullptr) return 0;
  lua_pushinteger(L, counter->value);
  return 1;
}

int CounterName(lua_State* L) {
  Counter* counter = CheckCounter(L);
  lua_pushstring(L, counter != nullptr ? counter->name : "null");
  return 1;
}

void* XLUE_CALL GiveObject(void* userData) { return userData; }
void* XLUE_CALL GiveNothing(void*) { return nullptr; }

const XLLRTGlobalAPI kCounterMembers[] = {
    {"Add", CounterAdd, 0}, {"Get", CounterGet, 0}, {nullptr, nullptr, 0}};
const XLLRTGlobalAPI kNameMembers[] = {{"Name", CounterName, 0}, {nullptr, nullptr, 0}};

XLLRTObject Record(const char* name, Counter* object, const XLLRTGlobalAPI* members,
                   const char* cls = kCounterClass) {
  return XLLRTObject{&GiveObject, object, name, cls, members, 0};
}

using GlobalObjectTest = EngineTest;

TEST_F(GlobalObjectTest, MethodsReachTheObjectThroughItsClass) {
  Counter counter;
  Counter named;
  named.name = "second";
  ASSERT_EQ(XLLRT_RegisterGlobalObj(env_, Record("Test.Deep.Counter", &counter, kCounterMembers)), 0);
  ASSERT_EQ(XLLRT_RegisterGlobalObj(env_, Record("Named", &named, kNameMembers)), 0);
  ASSERT_EQ(XLLRT_RegisterGlobalObj(
                env_, XLLRTObject{&GiveNothing, &counter, "Empty", kCounterClass, kNameMembers, 0}),
            0);

  EXPECT_EQ(Run("Test.Deep.Counter:Add(5) Test.Deep.Counter:Add(2)"), 0);
  EXPECT_EQ(counter.value, 7);
  EXPECT_EQ(Eval("Test.Deep.Counter:Get()"), "7");
  EXPECT_EQ(Eval("type(Test.Deep)"), "table");
  // Objects of one class keep their own methods.
  EXPECT_EQ(Eval("Named:Name()"), "second");
  EXPECT_EQ(Eval("Named.Add"), "nil");
  EXPECT_EQ(Eval("Test.Deep.Counter.Name"), "nil");
  EXPECT_EQ(Eval("Empty:Name()"), "null") << "an object the host gave as null";
  EXPECT_TRUE(Errors().empty());

  // A method checks its first argument against the class.
  struct Case {
    const char* code;
    const wchar_t* error;
  } cases[] = {
      {"Test.Deep.Counter.Add(io.stdout, 1)",
       L"bad argument #1 to 'Add' (Test.Counter.Class expected, got userdata)"},
      {"Test.Deep.Counter.Add(5)", L"bad argument #1 to 'Add' (Test.Counter.Class expected, got number)"},
      {"Test.Deep.Counter:Add('x')", L"bad argument #1 to 'Add' (number expected, got string)"},
      {"Test.Deep.Counter:Nope()", L"attempt to call method 'Nope' (a nil value)"},
  };
  for (const Case& c : cases) {
    Errors().clear();
    EXPECT_EQ(Run(c.code), LUA_ERRRUN) << c.code;
    ASSERT_EQ(Errors().size(), 1u) << c.code;
    EXPECT_NE(Errors()[0].error.find(c.error), std::wstring::npos) << Narrow(Errors()[0].error);
  }
  EXPECT_EQ(counter.value, 7);
}

TEST_F(GlobalObjectTest, RemovalAndReplacement) {
  Counter first;
  Counter second;
  ASSERT_EQ(XLLRT_RegisterGlobalObj(env_, Record("Lumo.App", &first, kCounterMembers)), 0);
  ASSERT_EQ(XLLRT_RegisterGlobalObj(env_, Record("Lumo.Other", &second, kCounterMembers)), 0);
  // Registering a name again replaces the object.
  ASSERT_EQ(XLLRT_RegisterGlobalObj(env_, Record("Lumo.App", &second, kCounterMembers)), 0);
  EXPECT_EQ(Run("Lumo.App:Add(4)"), 0);
  EXPECT_EQ(first.value, 0);
  EXPECT_EQ(second.value, 4);

  EXPECT_EQ(XLLRT_RemoveGlobalObj(env_, "Lumo.App"), 0);
  EXPECT_EQ(Eval("Lumo.App"), "nil");
  EXPECT_EQ(Eval("Lumo.Other ~= nil"), "true") << "the rest of the table stays";
  const struct {
    const char* name;
    int expected;
  } removals[] = {{"Lumo.App", 5}, {"Nowhere.App", 5}, {"print.x", 5}, {"a..b", 2}, {nullptr, 2}};
  for (const auto& r : removals) {
    EXPECT_EQ(XLLRT_RemoveGlobalObj(env_, r.name), r.expected) << (r.name ? r.name : "null");
  }
  EXPECT_EQ(XLLRT_RemoveGlobalObj(nullptr, "Lumo.Other"), 1);
  EXPECT_EQ(XLLRT_RemoveGlobalObj(env_, "Lumo.Other"), 0);
  EXPECT_TRUE(Errors().empty());
}

TEST_F(GlobalObjectTest, BadRecordsAreRefused) {
  Counter counter;
  int notAnEnvironment = 0;
  const struct {
    XL_LRT_ENV_HANDLE env;
    XLLRTObject record;
    int expected;
  } cases[] = {
      {env_, Record(nullptr, &counter, kCounterMembers), 2},
      {env_, Record("", &counter, kCounterMembers), 2},
      {env_, Record("a..b", &counter, kCounterMembers), 2},
      {env_, Record(".a", &counter, kCounterMembers), 2},
      {env_, Record("a.", &counter, kCounterMembers), 2},
      {env_, Record("Fine", &counter, kCounterMembers, nullptr), 2},
      {env_, Record("Fine", &counter, kCounterMembers, ""), 2},
      {env_, Record("print.x", &counter, kCounterMembers), 3},  // print is a function
      {nullptr, Record("Fine", &counter, kCounterMembers), 1},
      {&notAnEnvironment, Record("Fine", &counter, kCounterMembers), 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(XLLRT_RegisterGlobalObj(c.env, c.record), c.expected)
        << (c.record.objName ? c.record.objName : "null");
  }
  EXPECT_EQ(Eval("Fine"), "nil");
  // No members at all is a valid object.
  EXPECT_EQ(XLLRT_RegisterGlobalObj(env_, Record("Bare", &counter, nullptr)), 0);
  EXPECT_EQ(Eval("type(Bare)"), "userdata");
}

// --- protected calls ---------------------------------------------------------

using LuaCallTest = EngineTest;

TEST_F(LuaCallTest, ResultsErrorsAndTheStack) {
  const wchar_t* kContext = L"CPP To Lua";
  const struct {
    const char* body;  // of the function called with the arguments 10 and 20
    int results;
    const wchar_t* context;
    int status;
    const char* values;  // the values left, joined with ','
    const wchar_t* error;
  } cases[] = {
      {"local a, b = ... return a + b, a * b", 2, kContext, 0, "30,200", nullptr},
      {"local a, b = ... return a + b, a * b", 1, kContext, 0, "30", nullptr},
      {"return 1", 3, kContext, 0, "1,nil,nil", nullptr},
      {"return 1, 2, 3", LUA_MULTRET, nullptr, 0, "1,2,3", nullptr},
      {"error('with context')", 2, kContext, LUA_ERRRUN, "nil,nil", L"]:1: with context"},
      {"error('without')", 1, nullptr, LUA_ERRRUN, "nil", L"]:1: without"},
      {"error({})", 1, L"", LUA_ERRRUN, "nil", L"(error object is a table value)"},
      {"error(42, 0)", 0, kContext, LUA_ERRRUN, "", L"42"},
      {"error('any', 0)", LUA_MULTRET, kContext, LUA_ERRRUN, "", L"any"},
      {"local t = nil; return t.x", 1, kContext, LUA_ERRRUN, "nil", L"attempt to index local 't'"},
  };
  for (const auto& c : cases) {
    Errors().clear();
    lua_pushliteral(L, "below");
    const int base = lua_gettop(L);
    ASSERT_EQ(luaL_loadstring(L, c.body), 0) << c.body;
    lua_pushinteger(L, 10);
    lua_pushinteger(L, 20);
    EXPECT_EQ(XLLRT_LuaCall(L, 2, c.results, c.context), c.status) << c.body;
    std::string values;
    for (int i = base + 1; i <= lua_gettop(L); ++i) {
      if (!values.empty()) values += ",";
      values += lua_isnil(L, i) ? "nil" : lua_tostring(L, i);
    }
    EXPECT_EQ(values, c.values) << c.body;
    EXPECT_STREQ(lua_tostring(L, base), "below") << "the stack below the call stays";
    lua_settop(L, base - 1);
    if (c.error == nullptr) {
      EXPECT_TRUE(Errors().empty()) << c.body;
      continue;
    }
    ASSERT_EQ(Errors().size(), 1u) << c.body;
    const auto& reported = Errors()[0];
    EXPECT_NE(reported.error.find(c.error), std::wstring::npos) << Narrow(reported.error);
    EXPECT_EQ(reported.hasExtra, c.context != nullptr) << c.body;
    if (c.context != nullptr) {
      EXPECT_EQ(reported.extra, c.context);
    }
  }
}

TEST_F(LuaCallTest, CallsThatCannotBeMadeLeaveTheStackAlone) {
  lua_pushinteger(L, 1);
  EXPECT_EQ(XLLRT_LuaCall(L, 1, 0, nullptr), -1) << "no function below the argument";
  EXPECT_EQ(XLLRT_LuaCall(L, -1, 0, nullptr), -1);
  EXPECT_EQ(XLLRT_LuaCall(L, 0, -2, nullptr), -1);
  EXPECT_EQ(XLLRT_LuaCall(nullptr, 0, 0, nullptr), -1);
  EXPECT_EQ(lua_gettop(L), 1);
  // A value that is no function is an error of the call itself.
  EXPECT_EQ(XLLRT_LuaCall(L, 0, 1, L"ctx"), LUA_ERRRUN);
  EXPECT_EQ(lua_gettop(L), 1);
  EXPECT_TRUE(lua_isnil(L, 1));
  ASSERT_EQ(Errors().size(), 1u);
  EXPECT_EQ(Errors()[0].error, L"attempt to call a number value");
  lua_settop(L, 0);
}

// --- the error handler and its debug logs -------------------------------------

using DebugLogTest = EngineTest;

TEST_F(DebugLogTest, PrintOutputAndTheTracebackArePoppedInOrder) {
  EXPECT_EQ(Run("print('one')\n"
                "print('two', 3, nil, true)\n"
                "print('first\\nsecond')\n"
                "print('\xe4\xb8\xad\xe6\x96\x87')\n"  // 中文 in UTF-8
                "print()\n"
                "local function inner() error('boom') end\n"
                "local function outer() inner() end\n"
                "outer()\n",
                0, L"context"),
            LUA_ERRRUN);
  ASSERT_EQ(Errors().size(), 1u);
  const std::vector<std::string> expected = {
      "one\r\n",
      "two\t3\tnil\ttrue\r\n",
      "first\r\n",
      "second\r\n",
      "中文\r\n",  // in the system code page
      "\r\n",
      "stack traceback:\r\n",
      "\t[C]: in function 'error'\r\n",
      "\ttest:6: in function 'inner'\r\n",
      "\ttest:7: in function 'outer'\r\n",
      "\ttest:8: in main chunk\r\n",
  };
  const auto& lines = Errors()[0].lines;
  ASSERT_GE(lines.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(lines[i], expected[i]) << i;
  EXPECT_EQ(Errors()[0].error, L"test:6: boom");

  // The next error's log holds only what came after.
  EXPECT_EQ(Run("print('later') error('again')"), LUA_ERRRUN);
  ASSERT_EQ(Errors().size(), 2u);
  ASSERT_GE(Errors()[1].lines.size(), 2u);
  EXPECT_EQ(Errors()[1].lines[0], "later\r\n");
  EXPECT_EQ(Errors()[1].lines[1], "stack traceback:\r\n");
}

uint32_t g_seenHandle = 0;

int XLUE_CALL KeepHandle(void*, const wchar_t*, const wchar_t*, const XLLRTDebugLog* log) {
  g_seenHandle = log != nullptr ? log->logHandle : 0;
  return 0;
}

TEST_F(DebugLogTest, LogsLiveWhileTheHandlerRuns) {
  uint32_t& seen = g_seenHandle;
  ASSERT_EQ(XLLRT_ErrorHandle(&KeepHandle), 0);
  EXPECT_EQ(Run("error('x')"), LUA_ERRRUN);
  ASSERT_NE(seen, 0u);
  const char* line = "untouched";
  EXPECT_NE(XLLRT_DebugLogsPopNextLog(&line, seen), 0) << "gone after the handler returned";
  EXPECT_EQ(line, nullptr);
  EXPECT_NE(XLLRT_DebugLogsPopNextLog(&line, 0), 0);
  EXPECT_NE(XLLRT_DebugLogsPopNextLog(nullptr, seen), 0);
}

TEST_F(DebugLogTest, WithoutAHandlerErrorsAreDropped) {
  ASSERT_EQ(XLLRT_ErrorHandle(nullptr), 0);
  ASSERT_EQ(Run("print('lost') error('nobody listens')", 1, L"ctx"), LUA_ERRRUN);
  EXPECT_TRUE(lua_isnil(L, -1));
  lua_pop(L, 1);
  EXPECT_TRUE(Errors().empty());
  ASSERT_EQ(XLLRT_ErrorHandle(&xlue_testing::RecordError), 0);
  EXPECT_EQ(Run("error('heard')"), LUA_ERRRUN);
  ASSERT_EQ(Errors().size(), 1u);
  EXPECT_EQ(Errors()[0].lines.at(0), "stack traceback:\r\n") << "the earlier output went with its error";
}

// --- handles and the engine's life cycle --------------------------------------

TEST(EngineLifecycle, HandlesAreCountedAndASecondStartIsFresh) {
  xlue_testing::Errors().clear();
  xlue_testing::StartEngine();
  XL_LRT_ENV_HANDLE env = XLLRT_GetEnv(nullptr);
  ASSERT_NE(env, nullptr);
  EXPECT_EQ(XLLRT_GetEnv(L""), env);
  EXPECT_EQ(XLLRT_GetEnv(L"another"), nullptr);
  EXPECT_EQ(XLLRT_ReleaseEnv(env), 1);
  XL_LRT_RUNTIME_HANDLE runtime = XLLRT_GetRuntime(env, nullptr);
  ASSERT_NE(runtime, nullptr);
  EXPECT_NE(static_cast<void*>(runtime), env);
  EXPECT_EQ(XLLRT_GetRuntime(env, L"other"), nullptr);
  EXPECT_EQ(XLLRT_GetRuntime(nullptr, nullptr), nullptr);
  lua_State* L = XLLRT_GetLuaState(runtime);
  ASSERT_NE(L, nullptr);
  EXPECT_EQ(XLLRT_GetLuaState(nullptr), nullptr);
  EXPECT_EQ(XLLRT_GetLuaState(env), nullptr) << "an environment is no runtime handle";
  lua_pushliteral(L, "kept");
  lua_setglobal(L, "from_first_start");
  int notAHandle = 0;
  EXPECT_EQ(XLLRT_ReleaseEnv(&notAHandle), -1);
  EXPECT_EQ(XLLRT_ReleaseRunTime(&notAHandle), -1);

  // Graphics calls are idempotent and check their record.
  XLGraphicParam param;
  EXPECT_EQ(XL_PrepareGraphicParam(nullptr), 1);
  ASSERT_EQ(XL_PrepareGraphicParam(&param), 0);
  EXPECT_EQ(param.mode, 1);
  EXPECT_EQ(XL_InitGraphicLib(&param), 0) << "a second time";
  EXPECT_EQ(XL_InitGraphicLib(nullptr), 1);
  XLGraphicParam unprepared{};
  unprepared.mode = 1;
  EXPECT_EQ(XL_InitGraphicLib(&unprepared), 1);
  param.mode = 7;
  EXPECT_EQ(XL_InitGraphicLib(&param), 2);
  EXPECT_EQ(XLFS_Init(), 0);
  EXPECT_EQ(XLUE_InitLoader(nullptr), 0);

  // Closing the Lua host closes the state; handles still held read as
  // closed until they are released.
  ASSERT_EQ(XLUE_Uninit(nullptr), 0);
  ASSERT_EQ(XLUE_UninitLuaHost(nullptr), 0);
  EXPECT_EQ(XLLRT_GetLuaState(runtime), nullptr);
  EXPECT_EQ(XLLRT_GetRuntime(env, nullptr), nullptr);
  EXPECT_EQ(XLLRT_ReleaseRunTime(runtime), 0);
  EXPECT_EQ(XLLRT_ReleaseEnv(env), 0);
  EXPECT_EQ(XLLRT_ReleaseEnv(env), -1) << "freed with its last reference";
  XL_LRT_ENV_HANDLE kept = XLLRT_GetEnv(nullptr);  // a new state, still held at shutdown
  ASSERT_NE(kept, nullptr);
  xlue_testing::StopEngine();
  xlue_testing::StopEngine();  // twice is harmless
  EXPECT_EQ(XLLRT_ReleaseEnv(kept), -1) << "the handle map was freed";

  xlue_testing::StartEngine();
  XL_LRT_ENV_HANDLE env2 = XLLRT_GetEnv(nullptr);
  XL_LRT_RUNTIME_HANDLE runtime2 = XLLRT_GetRuntime(env2, nullptr);
  lua_State* L2 = XLLRT_GetLuaState(runtime2);
  ASSERT_NE(L2, nullptr);
  lua_getglobal(L2, "from_first_start");
  EXPECT_TRUE(lua_isnil(L2, -1)) << "a new Lua state";
  lua_pop(L2, 1);
  ASSERT_EQ(luaL_loadstring(L2, "error('second start')"), 0);
  EXPECT_EQ(XLLRT_LuaCall(L2, 0, 0, nullptr), LUA_ERRRUN);
  EXPECT_EQ(xlue_testing::Errors().size(), 1u) << "the handler works after a restart";
  EXPECT_EQ(XLLRT_ReleaseRunTime(runtime2), 0);
  EXPECT_EQ(XLLRT_ReleaseEnv(env2), 0);
  EXPECT_EQ(XLLRT_ReleaseEnv(env2), -1) << "released once too often";
  EXPECT_NE(XLLRT_GetLuaState(XLLRT_GetRuntime(env2, nullptr)), nullptr) << "the engine keeps its state";
  xlue_testing::StopEngine();
  EXPECT_EQ(XLLRT_GetLuaState(runtime2), nullptr);
}

}  // namespace
