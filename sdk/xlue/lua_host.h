// The Lua environments and runtimes behind the engine's handles. There is
// one default environment at a time, with one default runtime owning its
// lua_State; it is made on first demand and closed by the engine's shutdown.
// Handles are reference-counted: each Get adds one, each Release takes one
// away. A handle stays valid (its Lua state reading as null once closed)
// until its last reference is released or the handle map is freed.
#pragma once

#include <memory>
#include <vector>

extern "C" {
#include <lua.h>
}

namespace xlue {

struct Environment;

struct Runtime {
  Environment* env = nullptr;
  int refs = 0;
};

struct Environment {
  lua_State* L = nullptr;  // null once closed
  int refs = 0;            // references held by callers (a runtime reference counts too)
  bool heldByEngine = true;
  Runtime runtime;         // its default runtime (a handle of its own)
};

class LuaHost {
 public:
  // `setup` prepares a new state; it runs protected (lua_cpcall).
  explicit LuaHost(lua_CFunction setup) : setup_(setup) {}
  LuaHost(const LuaHost&) = delete;
  LuaHost& operator=(const LuaHost&) = delete;

  // The open default environment, made when there is none and `create`.
  Environment* Default(bool create);
  lua_State* MainState() const { return current_ != nullptr ? current_->L : nullptr; }

  // Handles. Acquire* return null on failure; Release* return the references
  // callers still hold, or -1 for a handle that is not live.
  void* AcquireEnv();
  int ReleaseEnv(void* env);
  void* AcquireRuntime(void* env);
  int ReleaseRuntime(void* runtime);
  lua_State* StateOfEnv(void* env) const;
  lua_State* StateOfRuntime(void* runtime) const;

  // Closes the default environment's Lua state; the next Default(true)
  // makes a new one.
  void CloseDefault();
  // Closes everything and frees every handle (all of them become invalid).
  void FreeAll();
  size_t LiveEnvironments() const { return envs_.size(); }

 private:
  Environment* FindEnv(void* handle) const;
  Runtime* FindRuntime(void* handle) const;
  void FreeIfUnused(Environment* env);

  lua_CFunction setup_;
  Environment* current_ = nullptr;
  std::vector<std::unique_ptr<Environment>> envs_;
};

}  // namespace xlue
