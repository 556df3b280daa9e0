// The bridge between the launcher's operations and the skin's Lua scripts:
// host to Lua through the function the scripts register as "ToLua"
// ("To_Lua"), Lua to host through the methods of `Lumo.App`.
#pragma once

#include <json/value.h>

#include <map>
#include <string>

#include "xlue.h"

constexpr char kAppObjectName[] = "Lumo.App";
constexpr char kChunkRegistryObjectName[] = "Orlune.LuaChunkReg";
constexpr char kChunkRegistryClass[] = "Orlune.LuaChunkReg.Class";

// Functions the scripts handed to the host, by name: references into the
// engine's Lua registry.
class ChunkRegistry {
 public:
  static ChunkRegistry& Get();
  // The reference of `name`, or LUA_NOREF.
  int Find(const std::string& name) const;
  // Stores a new reference, releasing the one it replaces.
  void Set(lua_State* L, const std::string& name, int reference);
  // Forgets every reference (they belong to a Lua state that is closing).
  void Clear() { chunks_.clear(); }

 private:
  std::map<std::string, int> chunks_;
};

// `Orlune.LuaChunkReg` with its method RegChunk, in the default environment.
bool RegisterChunkRegistryObject();
// `Lumo.App` with Quit, GetWorkDirectory and JOP.
bool PublishAppObject();

// The scoped call of a registered Lua function: takes the environment, its
// runtime and Lua state, and restores the stack and releases them on leaving.
class LuaCallFrame {
 public:
  explicit LuaCallFrame(const std::string& chunk);
  ~LuaCallFrame();
  LuaCallFrame(const LuaCallFrame&) = delete;
  LuaCallFrame& operator=(const LuaCallFrame&) = delete;

  bool Found() const { return found_; }
  // Adds a text field to the argument table (made on the first field).
  void SetField(const char* name, const std::string& value);
  // Calls with the table (when built); 0 on success.
  int Call(int results, const wchar_t* context);
  // The next result, from the deepest upwards; 0 when it is not a number.
  lua_Integer NextResult();

 private:
  XL_LRT_ENV_HANDLE env_ = nullptr;
  XL_LRT_RUNTIME_HANDLE runtime_ = nullptr;
  lua_State* L_ = nullptr;
  int top_ = 0;
  bool found_ = false;
  bool table_ = false;
  int resultsBase_ = 0;
  int results_ = 0;
  int read_ = 0;
};

// The operation "To_Lua": {"name": interface, "data": object or enveloped text}.
void ToLuaOperation(const std::string& op, Json::Value call);

// Lua methods (exposed for the tests).
int RegChunk(lua_State* L);
int AppQuit(lua_State* L);
int AppGetWorkDirectory(lua_State* L);
int AppJop(lua_State* L);
