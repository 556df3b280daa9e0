#include "lua_host.h"

#include <algorithm>

extern "C" {
#include <lauxlib.h>
}

namespace xlue {

Environment* LuaHost::Default(bool create) {
  if (current_ != nullptr || !create) return current_;
  lua_State* L = luaL_newstate();
  if (L == nullptr) return nullptr;
  if (lua_cpcall(L, setup_, nullptr) != 0) {
    lua_close(L);
    return nullptr;
  }
  auto env = std::make_unique<Environment>();
  env->L = L;
  env->runtime.env = env.get();
  current_ = env.get();
  envs_.push_back(std::move(env));
  return current_;
}

Environment* LuaHost::FindEnv(void* handle) const {
  for (const auto& env : envs_) {
    if (env.get() == handle) return env.get();
  }
  return nullptr;
}

Runtime* LuaHost::FindRuntime(void* handle) const {
  for (const auto& env : envs_) {
    if (&env->runtime == handle) return &env->runtime;
  }
  return nullptr;
}

void* LuaHost::AcquireEnv() {
  Environment* env = Default(true);
  if (env == nullptr) return nullptr;
  ++env->refs;
  return env;
}

int LuaHost::ReleaseEnv(void* handle) {
  Environment* env = FindEnv(handle);
  if (env == nullptr || env->refs <= env->runtime.refs) return -1;  // only runtime references left
  const int left = --env->refs;
  FreeIfUnused(env);
  return left;
}

void* LuaHost::AcquireRuntime(void* handle) {
  Environment* env = FindEnv(handle);
  if (env == nullptr || env->L == nullptr) return nullptr;
  ++env->runtime.refs;
  ++env->refs;  // a runtime keeps its environment
  return &env->runtime;
}

int LuaHost::ReleaseRuntime(void* handle) {
  Runtime* runtime = FindRuntime(handle);
  if (runtime == nullptr || runtime->refs <= 0) return -1;
  const int left = --runtime->refs;
  Environment* env = runtime->env;
  --env->refs;
  FreeIfUnused(env);
  return left;
}

lua_State* LuaHost::StateOfEnv(void* handle) const {
  Environment* env = FindEnv(handle);
  return env != nullptr ? env->L : nullptr;
}

lua_State* LuaHost::StateOfRuntime(void* handle) const {
  Runtime* runtime = FindRuntime(handle);
  return runtime != nullptr ? runtime->env->L : nullptr;
}

void LuaHost::FreeIfUnused(Environment* env) {
  if (env->refs > 0 || env->heldByEngine) return;
  if (env->L != nullptr) lua_close(env->L);
  if (current_ == env) current_ = nullptr;
  envs_.erase(std::remove_if(envs_.begin(), envs_.end(),
                             [env](const std::unique_ptr<Environment>& e) { return e.get() == env; }),
              envs_.end());
}

void LuaHost::CloseDefault() {
  Environment* env = current_;
  if (env == nullptr) return;
  current_ = nullptr;
  lua_State* L = env->L;
  env->L = nullptr;
  env->heldByEngine = false;
  if (L != nullptr) lua_close(L);
  FreeIfUnused(env);
}

void LuaHost::FreeAll() {
  CloseDefault();
  for (auto& env : envs_) {
    if (env->L != nullptr) lua_close(env->L);
  }
  envs_.clear();
}

}  // namespace xlue
