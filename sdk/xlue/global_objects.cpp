#include "global_objects.h"

#include <string>
#include <vector>

extern "C" {
#include <lauxlib.h>
}

#include "xlue_names.h"

namespace xlue {

namespace {

struct Job {
  const std::vector<std::string>* parts;
  const XLLRTObject* record;
  void* object;
  int result;
};

// __index of published objects: the method table is the userdata's
// environment.
int IndexMethod(lua_State* L) {
  lua_getfenv(L, 1);
  if (!lua_istable(L, -1)) return 0;
  lua_pushvalue(L, 2);
  lua_rawget(L, -2);
  return 1;
}

// Leaves the table that holds the last part of the name on the stack, making
// missing tables when `create`; false when a part is not a table.
bool PushParentTable(lua_State* L, const std::vector<std::string>& parts, bool create) {
  lua_pushvalue(L, LUA_GLOBALSINDEX);
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    lua_getfield(L, -1, parts[i].c_str());
    if (lua_isnil(L, -1) && create) {
      lua_pop(L, 1);
      lua_newtable(L);
      lua_pushvalue(L, -1);
      lua_setfield(L, -3, parts[i].c_str());
    }
    if (!lua_istable(L, -1)) return false;
    lua_remove(L, -2);
  }
  return true;
}

// Runs inside lua_cpcall: only Lua calls here, so an error raised by Lua
// (out of memory) skips no C++ destructor.
int RegisterInLua(lua_State* L) {
  Job* job = static_cast<Job*>(lua_touserdata(L, 1));
  const XLLRTObject& record = *job->record;

  luaL_newmetatable(L, record.className);
  lua_pushcfunction(L, IndexMethod);
  lua_setfield(L, -2, "__index");
  const int metatable = lua_gettop(L);

  void** block = static_cast<void**>(lua_newuserdata(L, sizeof(void*)));
  *block = job->object;
  const int userdata = lua_gettop(L);
  lua_pushvalue(L, metatable);
  lua_setmetatable(L, userdata);
  lua_newtable(L);
  for (const XLLRTGlobalAPI* m = record.members; m != nullptr && m->name != nullptr; ++m) {
    if (m->func == nullptr) continue;
    lua_pushcfunction(L, m->func);
    lua_setfield(L, -2, m->name);
  }
  lua_setfenv(L, userdata);

  if (!PushParentTable(L, *job->parts, true)) {
    job->result = kObjectBlocked;
    return 0;
  }
  lua_pushvalue(L, userdata);
  lua_setfield(L, -2, job->parts->back().c_str());
  job->result = kObjectOk;
  return 0;
}

int RemoveInLua(lua_State* L) {
  Job* job = static_cast<Job*>(lua_touserdata(L, 1));
  if (!PushParentTable(L, *job->parts, false)) {
    job->result = kObjectNotFound;
    return 0;
  }
  const char* last = job->parts->back().c_str();
  lua_getfield(L, -1, last);
  const bool present = !lua_isnil(L, -1);
  lua_pop(L, 1);
  if (present) {
    lua_pushnil(L);
    lua_setfield(L, -2, last);
  }
  job->result = present ? kObjectOk : kObjectNotFound;
  return 0;
}

}  // namespace

int RegisterGlobalObject(lua_State* L, const XLLRTObject& object) {
  if (object.objName == nullptr || object.className == nullptr || object.className[0] == '\0') {
    return kObjectBadRecord;
  }
  std::vector<std::string> parts;
  if (!SplitDottedName(object.objName, parts)) return kObjectBadRecord;
  void* pointer = object.getObject != nullptr ? object.getObject(object.userData) : nullptr;
  Job job{&parts, &object, pointer, kObjectLuaFailure};
  if (lua_cpcall(L, RegisterInLua, &job) != 0) {
    lua_pop(L, 1);  // the error message
    return kObjectLuaFailure;
  }
  return job.result;
}

int RemoveGlobalObject(lua_State* L, const char* name) {
  std::vector<std::string> parts;
  if (name == nullptr || !SplitDottedName(name, parts)) return kObjectBadRecord;
  Job job{&parts, nullptr, nullptr, kObjectLuaFailure};
  if (lua_cpcall(L, RemoveInLua, &job) != 0) {
    lua_pop(L, 1);
    return kObjectLuaFailure;
  }
  return job.result;
}

}  // namespace xlue
