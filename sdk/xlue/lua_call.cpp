#include "lua_call.h"

#include <cstdio>

#include "engine.h"

namespace xlue {

namespace {

// Levels shown at the top and at the bottom of a long traceback.
constexpr int kFirstLevels = 12;
constexpr int kLastLevels = 10;

const char kMessageHandlerKey = 0;

// Set by the message handler while the failed call's stack still exists,
// read by ProtectedCall once lua_pcall has returned. Calls nest strictly, so
// one slot is enough.
std::vector<std::string> g_traceback;

int MessageHandler(lua_State* L) {
  try {
    g_traceback.clear();
    Traceback(L, 1, g_traceback);
  } catch (...) {
    g_traceback.clear();
  }
  return 1;  // the error value unchanged
}

}  // namespace

void InstallMessageHandler(lua_State* L) {
  lua_pushlightuserdata(L, const_cast<char*>(&kMessageHandlerKey));
  lua_pushcfunction(L, MessageHandler);
  lua_rawset(L, LUA_REGISTRYINDEX);
}

std::string ErrorObjectText(lua_State* L, int index) {
  switch (lua_type(L, index)) {
    case LUA_TSTRING: {
      size_t n = 0;
      const char* s = lua_tolstring(L, index, &n);
      return std::string(s, n);
    }
    case LUA_TNUMBER: {
      char text[64];
      std::snprintf(text, sizeof text, "%.14g", static_cast<double>(lua_tonumber(L, index)));
      return text;
    }
    default:
      return std::string("(error object is a ") + lua_typename(L, lua_type(L, index)) + " value)";
  }
}

void Traceback(lua_State* L, int level, std::vector<std::string>& lines) {
  lines.push_back("stack traceback:");
  lua_Debug ar;
  bool firstPart = true;
  while (lua_getstack(L, level++, &ar)) {
    if (level > kFirstLevels && firstPart) {
      if (!lua_getstack(L, level + kLastLevels, &ar)) {
        level--;  // few enough levels left: show them all
      } else {
        lines.push_back("\t...");
        while (lua_getstack(L, level + kLastLevels, &ar)) level++;
      }
      firstPart = false;
      continue;
    }
    lua_getinfo(L, "Snl", &ar);
    std::string line = std::string("\t") + ar.short_src + ":";
    if (ar.currentline > 0) line += std::to_string(ar.currentline) + ":";
    if (*ar.namewhat != '\0') {
      line += std::string(" in function '") + ar.name + "'";
    } else if (*ar.what == 'm') {
      line += " in main chunk";
    } else if (*ar.what == 'C' || *ar.what == 't') {
      line += " ?";
    } else {
      line += std::string(" in function <") + ar.short_src + ":" +
              std::to_string(ar.linedefined) + ">";
    }
    lines.push_back(line);
  }
}

int ProtectedCall(lua_State* L, int args, int results, const wchar_t* extra) {
  const int base = lua_gettop(L) - args;  // the function
  lua_pushlightuserdata(L, const_cast<char*>(&kMessageHandlerKey));
  lua_rawget(L, LUA_REGISTRYINDEX);
  if (lua_type(L, -1) != LUA_TFUNCTION) {  // a state the engine did not make
    lua_pop(L, 1);
    lua_pushcfunction(L, MessageHandler);
  }
  lua_insert(L, base);
  g_traceback.clear();  // a memory error does not run the handler
  const int status = lua_pcall(L, args, results, base);
  lua_remove(L, base);
  if (status == 0) return 0;

  std::string message;
  std::vector<std::string> traceback;
  try {
    message = ErrorObjectText(L, -1);
    traceback.swap(g_traceback);
  } catch (...) {
    message = "(error message lost: out of memory)";
  }
  lua_pop(L, 1);
  for (int i = 0; i < results; ++i) lua_pushnil(L);
  Engine::Get().ReportError(extra, message, traceback);
  return status;
}

}  // namespace xlue
