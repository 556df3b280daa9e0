// Calling into Lua from the engine: every call is protected, an error is
// reported to the engine's error handler with its traceback, and the stack is
// left as the caller expects.
#pragma once

#include <string>
#include <vector>

extern "C" {
#include <lua.h>
}

namespace xlue {

// Calls the function below the top `args` values, protected. On success the
// function's `results` values (all of them for LUA_MULTRET) replace it and
// its arguments; on an error the error is reported with `extra` (may be
// null) and `results` nils (none for LUA_MULTRET) are left instead. Returns
// Lua's status (0 on success). The caller makes room for two more values.
int ProtectedCall(lua_State* L, int args, int results, const wchar_t* extra);

// Remembers the message handler in the state's registry, so that calls need
// not allocate one (run once on a new state, inside a protected call).
void InstallMessageHandler(lua_State* L);

// The text of the error value at `index`: a string or number as text,
// anything else as "(error object is a <type> value)".
std::string ErrorObjectText(lua_State* L, int index);

// The traceback of the stack from `level` upwards, as Lua's own traceback
// writes it: "stack traceback:" and one "\t<where>: in ..." line per level.
void Traceback(lua_State* L, int level, std::vector<std::string>& lines);

}  // namespace xlue
