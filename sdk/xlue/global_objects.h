// Host objects published to scripts under a global name. "Lumo.App" is the
// field "App" of the global table "Lumo" (tables on the way are made when
// missing). The object is a full userdata whose block holds one pointer, the
// host's object; its metatable is the one registered under the class name
// (so luaL_checkudata(L, 1, className) accepts it in a method) and its
// methods are the functions of the member table, looked up through the
// userdata's environment table, so objects of one class may each have their
// own methods.
#pragma once

extern "C" {
#include <lua.h>
}

#include "xlue.h"

namespace xlue {

enum GlobalObjectResult : int {
  kObjectOk = 0,
  kObjectBadEnv = 1,       // not a live environment handle (used by the exports)
  kObjectBadRecord = 2,    // no name or class, or an empty part in the name
  kObjectBlocked = 3,      // a part of the name is taken by a value that is not a table
  kObjectLuaFailure = 4,   // the Lua state failed (out of memory)
  kObjectNotFound = 5,     // removal: nothing of that name
};

int RegisterGlobalObject(lua_State* L, const XLLRTObject& object);
// Sets the named field to nil; the tables on the way stay.
int RemoveGlobalObject(lua_State* L, const char* name);

}  // namespace xlue
