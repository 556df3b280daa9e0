#include "lua_bridge.h"

#include <windows.h>

#include "bolt_host.h"
#include "global_objects.h"
#include "json_util.h"
#include "launcher_app.h"
#include "launcher_module.h"
#include "log_file.h"
#include "operation_engine.h"
#include "param_envelope.h"
#include "text_codec.h"

namespace {

// The one object `Orlune.LuaChunkReg` stands for.
int g_chunkRegistryObject = 0;
void* XLUE_CALL ChunkRegistryObject(void*) { return &g_chunkRegistryObject; }

const XLLRTGlobalAPI kChunkRegistryMembers[] = {
    {"RegChunk", RegChunk, 0},
    {nullptr, nullptr, 0},
};

}  // namespace

ChunkRegistry& ChunkRegistry::Get() {
  static ChunkRegistry registry;
  return registry;
}

int ChunkRegistry::Find(const std::string& name) const {
  auto it = chunks_.find(name);
  return it == chunks_.end() ? LUA_NOREF : it->second;
}

void ChunkRegistry::Set(lua_State* L, const std::string& name, int reference) {
  auto it = chunks_.find(name);
  if (it != chunks_.end()) luaL_unref(L, LUA_REGISTRYINDEX, it->second);
  chunks_[name] = reference;
}

int RegChunk(lua_State* L) {
  void** object = static_cast<void**>(luaL_checkudata(L, 1, kChunkRegistryClass));
  if (object == nullptr || *object == nullptr) return 0;
  const char* name = lua_tostring(L, 2);
  if (name == nullptr || *name == 0) return 0;
  if (lua_type(L, 3) != LUA_TFUNCTION) return 0;
  lua_pushvalue(L, 3);  // the function on top, for the reference to take
  ChunkRegistry::Get().Set(L, name, luaL_ref(L, LUA_REGISTRYINDEX));
  return 0;
}

int AppQuit(lua_State* L) {
  PostQuitMessage(static_cast<int>(lua_tointeger(L, 2)));
  lua_pushboolean(L, 1);
  return 1;
}

int AppGetWorkDirectory(lua_State* L) {
  const std::string folder = LauncherApp::Exists() ? LauncherApp::Get().exeDir : std::string();
  const std::string utf8 = AnsiToUtf8(folder);
  lua_pushlstring(L, utf8.data(), utf8.size());
  return 1;
}

int AppJop(lua_State* L) {
  if (lua_type(L, 2) != LUA_TSTRING) return 0;
  size_t length = 0;
  const char* text = lua_tolstring(L, 2, &length);
  if (text == nullptr || length == 0) return 0;
  // Never run here: the call runs on a later engine tick.
  PostCall(kLauncherModule, JsonSafeAnsi(Utf8ToAnsi(std::string(text, length))));
  return 0;
}

bool RegisterChunkRegistryObject() {
  XL_LRT_ENV_HANDLE env = XLLRT_GetEnv(nullptr);
  if (env == nullptr) return false;
  XLLRTObject record{};
  record.getObject = ChunkRegistryObject;
  record.userData = nullptr;
  record.objName = kChunkRegistryObjectName;
  record.className = kChunkRegistryClass;
  record.members = kChunkRegistryMembers;
  record.reserved = 0;
  const int result = XLLRT_RegisterGlobalObj(env, record);
  XLLRT_ReleaseEnv(env);
  return result == 0;
}

bool PublishAppObject() {
  GlobalObjectRegistry& registry = GlobalObjectRegistry::Get();
  registry.AddMethod(kAppObjectName, "Quit", AppQuit);
  registry.AddMethod(kAppObjectName, "GetWorkDirectory", AppGetWorkDirectory);
  registry.AddMethod(kAppObjectName, "JOP", AppJop);
  return registry.Publish(kAppObjectName);
}

LuaCallFrame::LuaCallFrame(const std::string& chunk) {
  env_ = XLLRT_GetEnv(nullptr);
  if (env_ != nullptr) runtime_ = XLLRT_GetRuntime(env_, nullptr);
  if (runtime_ != nullptr) L_ = XLLRT_GetLuaState(runtime_);
  if (L_ == nullptr) return;
  top_ = lua_gettop(L_);
  const int reference = ChunkRegistry::Get().Find(chunk);
  if (reference == LUA_NOREF || reference == LUA_REFNIL) return;
  lua_rawgeti(L_, LUA_REGISTRYINDEX, reference);
  found_ = true;
}

LuaCallFrame::~LuaCallFrame() {
  if (L_ != nullptr) lua_settop(L_, top_);
  if (runtime_ != nullptr) XLLRT_ReleaseRunTime(runtime_);
  if (env_ != nullptr) XLLRT_ReleaseEnv(env_);
}

void LuaCallFrame::SetField(const char* name, const std::string& value) {
  if (!found_) return;
  if (!table_) {
    lua_createtable(L_, 0, 0);
    table_ = true;
  }
  lua_pushlstring(L_, value.data(), value.size());
  lua_setfield(L_, -2, name);
}

int LuaCallFrame::Call(int results, const wchar_t* context) {
  if (!found_) return -1;
  const int result = XLLRT_LuaCall(L_, table_ ? 1 : 0, results, context);
  results_ = results;
  resultsBase_ = lua_gettop(L_) - results + 1;
  read_ = 0;
  return result;
}

lua_Integer LuaCallFrame::NextResult() {
  if (read_ >= results_) return 0;
  return lua_tointeger(L_, resultsBase_ + read_++);
}

void ToLuaOperation(const std::string&, Json::Value call) {
  if (!BoltHost::EngineInitialised()) {
    WriteLog("Lua运行时未初始化");
    return;
  }
  const std::string name = rt::StringMember(call, "name");
  const Json::Value* found = rt::FindMember(call, "data");
  Json::Value data = found ? *found : Json::Value();
  const bool hasData = found != nullptr;
  if (data.isString()) {
    ParamEnvelope envelope;
    Json::Value opened;
    if (envelope.Decode(data.asString()) && rt::ParseJson(envelope.Payload(), opened))
      data = opened;
  }
  const std::string dataText = rt::StyledText(data);
  // The object test: null reads as an empty object.
  if (name.empty() || (hasData && !rt::IsObjectOrNull(data))) {
    WriteLogF(
        "ToLua 参数不正确! Lua接口名为空或数据格式非法('data'属性必须是Object).\r\nName:'%s' "
        "Data:%s",
        name.c_str(), dataText.c_str());
    return;
  }
  LuaCallFrame frame("ToLua");
  if (!frame.Found()) {
    WriteLog("Lua接口'ToLua'无效!");
    return;
  }
  frame.SetField("name", name);
  frame.SetField("data", dataText);  // absent data: the text of JSON null
  frame.Call(1, L"CPP To Lua");
  const lua_Integer result = frame.NextResult();
  if (result == -1)
    WriteLogF("ToLua 执行Lua接口'%s'错误 Data:%s", name.c_str(), dataText.c_str());
  else if (result == 0)
    WriteLogF("ToLua 未实现Lua接口'%s'", name.c_str());
}
