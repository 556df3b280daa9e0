#include "window_api.h"

#include <string>

extern "C" {
#include <lauxlib.h>
}

#include "engine.h"
#include "lua_call.h"
#include "xlue_text.h"

namespace xlue {

namespace {

struct WindowValue {
  int id;
};

// An optional string field of the options table at index 1 (left on the
// stack, so the text stays valid); raises an error for another type.
const char* OptionText(lua_State* L, const char* key) {
  lua_getfield(L, 1, key);
  if (lua_isnil(L, -1)) return "";
  if (!lua_isstring(L, -1)) luaL_error(L, "option '%s' must be a string", key);
  return lua_tostring(L, -1);
}

int OptionNumber(lua_State* L, const char* key, int fallback) {
  lua_getfield(L, 1, key);
  int value = fallback;
  if (!lua_isnil(L, -1)) {
    if (!lua_isnumber(L, -1)) luaL_error(L, "option '%s' must be a number", key);
    value = static_cast<int>(lua_tointeger(L, -1));
  }
  lua_pop(L, 1);
  return value;
}

}  // namespace

void WindowApi::Install(lua_State* L) {
  static const luaL_Reg methods[] = {
      {"SetTitle", SetTitle},       {"SetText", SetText},     {"SetButton", SetButton},
      {"SetProgress", SetProgress}, {"Show", Show},           {"Hide", Hide},
      {"BringToFront", BringToFront}, {"Close", Close},       {"OnClose", OnClose},
      {"OnButton", OnButton},       {"GetTitle", GetTitle},   {"GetText", GetText},
      {"GetProgress", GetProgress}, {"IsVisible", IsVisible}, {"IsOpen", IsOpen},
      {"GetHandle", GetHandle},     {nullptr, nullptr}};
  luaL_newmetatable(L, kMetatable);
  lua_newtable(L);
  luaL_register(L, nullptr, methods);
  lua_setfield(L, -2, "__index");
  lua_pushcfunction(L, ToString);
  lua_setfield(L, -2, "__tostring");
  lua_pop(L, 1);

  lua_getglobal(L, "XLUE");
  if (!lua_istable(L, -1)) {
    lua_pop(L, 1);
    lua_newtable(L);
    lua_pushvalue(L, -1);
    lua_setglobal(L, "XLUE");
  }
  lua_newtable(L);
  lua_pushcfunction(L, Create);
  lua_setfield(L, -2, "Create");
  lua_setfield(L, -2, "Window");
  lua_pop(L, 1);
}

WindowApi::Entry* WindowApi::Find(int id) {
  auto it = entries_.find(id);
  return it == entries_.end() ? nullptr : &it->second;
}

void WindowApi::ReleaseRefs(Entry& entry) {
  if (entry.L == nullptr) return;
  luaL_unref(entry.L, LUA_REGISTRYINDEX, entry.onClose);
  luaL_unref(entry.L, LUA_REGISTRYINDEX, entry.onButton);
  luaL_unref(entry.L, LUA_REGISTRYINDEX, entry.self);
  entry.onClose = entry.onButton = entry.self = LUA_NOREF;
}

void WindowApi::DestroyAll() {
  std::map<int, Entry> entries;
  entries.swap(entries_);
  for (auto& item : entries) {
    Entry& entry = item.second;
    entry.window->SetListener(nullptr);
    entry.window->Destroy();
    ReleaseRefs(entry);
  }
}

bool WindowApi::OnEvent(int id, WindowEvent event) {
  Entry* entry = Find(id);
  if (entry == nullptr) return false;
  if (event == WindowEvent::kDestroyed) {
    ReleaseRefs(*entry);
    entries_.erase(id);
    return true;
  }
  const int function = event == WindowEvent::kCloseRequested ? entry->onClose : entry->onButton;
  if (function == LUA_NOREF) return false;
  // The entry may be gone once the script has run: copy what the call needs.
  lua_State* L = entry->L;
  const int self = entry->self;
  if (!lua_checkstack(L, 4)) return true;
  lua_rawgeti(L, LUA_REGISTRYINDEX, function);
  lua_rawgeti(L, LUA_REGISTRYINDEX, self);
  ProtectedCall(L, 1, 0, nullptr);
  return true;
}

WindowApi::Entry* WindowApi::CheckEntry(lua_State* L) {
  auto* value = static_cast<WindowValue*>(luaL_checkudata(L, 1, kMetatable));
  return Engine::Get().Windows().Find(value->id);
}

int WindowApi::Create(lua_State* L) {
  const char* title = "";
  const char* text = "";
  const char* button = "";
  int width = ScriptWindow::kDefaultWidth;
  int height = ScriptWindow::kDefaultHeight;
  if (!lua_isnoneornil(L, 1)) {
    luaL_checktype(L, 1, LUA_TTABLE);
    title = OptionText(L, "title");
    text = OptionText(L, "text");
    button = OptionText(L, "button");
    width = OptionNumber(L, "width", width);
    height = OptionNumber(L, "height", height);
  }
  Engine& engine = Engine::Get();
  if (!engine.GetGraphics().Ready()) {
    lua_pushnil(L);
    lua_pushliteral(L, "graphics not initialised");
    return 2;
  }
  auto* value = static_cast<WindowValue*>(lua_newuserdata(L, sizeof(WindowValue)));
  value->id = 0;
  luaL_getmetatable(L, kMetatable);
  lua_setmetatable(L, -2);
  lua_pushvalue(L, -1);
  const int self = luaL_ref(L, LUA_REGISTRYINDEX);

  bool created = false;
  try {
    WindowApi& api = engine.Windows();
    auto window = std::make_shared<ScriptWindow>();
    if (window->Create(engine.GetGraphics().Instance(), ScriptTextToWide(title),
                       ScriptTextToWide(text), ScriptTextToWide(button), width, height,
                       engine.GetGraphics().Font())) {
      const int id = api.nextId_++;
      Entry& entry = api.entries_[id];
      entry.window = window;
      entry.L = engine.MainState();
      entry.self = self;
      window->SetListener([id](WindowEvent event) {
        return Engine::Get().Windows().OnEvent(id, event);
      });
      value->id = id;
      created = true;
    }
  } catch (...) {
    created = false;
  }
  if (!created) {
    luaL_unref(L, LUA_REGISTRYINDEX, self);
    lua_pushnil(L);
    lua_pushliteral(L, "the window could not be created");
    return 2;
  }
  return 1;
}

int WindowApi::ApplyText(lua_State* L, bool (ScriptWindow::*set)(const std::wstring&)) {
  Entry* entry = CheckEntry(L);
  const char* text = luaL_optstring(L, 2, "");
  bool done = false;
  if (entry != nullptr) {
    try {
      done = ((*entry->window).*set)(ScriptTextToWide(text));
    } catch (...) {
      done = false;
    }
  }
  lua_pushboolean(L, done);
  return 1;
}

int WindowApi::SetTitle(lua_State* L) { return ApplyText(L, &ScriptWindow::SetTitle); }
int WindowApi::SetText(lua_State* L) { return ApplyText(L, &ScriptWindow::SetText); }
int WindowApi::SetButton(lua_State* L) { return ApplyText(L, &ScriptWindow::SetButton); }

int WindowApi::SetProgress(lua_State* L) {
  Entry* entry = CheckEntry(L);
  const lua_Number position = luaL_checknumber(L, 2);
  const lua_Number max = luaL_optnumber(L, 3, 0);
  auto toInt = [](lua_Number n) {
    if (n != n) return 0;  // NaN
    if (n > 2147483647.0) return 2147483647;
    if (n < -2147483647.0) return -2147483647;
    return static_cast<int>(n);
  };
  lua_pushboolean(L, entry != nullptr && entry->window->SetProgress(toInt(position), toInt(max)));
  return 1;
}

int WindowApi::Show(lua_State* L) {
  Entry* entry = CheckEntry(L);
  lua_pushboolean(L, entry != nullptr && entry->window->Show());
  return 1;
}

int WindowApi::Hide(lua_State* L) {
  Entry* entry = CheckEntry(L);
  lua_pushboolean(L, entry != nullptr && entry->window->Hide());
  return 1;
}

int WindowApi::BringToFront(lua_State* L) {
  Entry* entry = CheckEntry(L);
  lua_pushboolean(L, entry != nullptr && entry->window->BringToFront());
  return 1;
}

int WindowApi::Close(lua_State* L) {
  Entry* entry = CheckEntry(L);
  if (entry == nullptr) {
    lua_pushboolean(L, 0);
    return 1;
  }
  {
    // Destroying ends the entry (through the kDestroyed event); the copy
    // keeps the object alive until Destroy has returned.
    std::shared_ptr<ScriptWindow> window = entry->window;
    window->Destroy();
  }
  lua_pushboolean(L, 1);
  return 1;
}

int WindowApi::SetCallback(lua_State* L, int Entry::*slot) {
  Entry* entry = CheckEntry(L);
  if (!lua_isnoneornil(L, 2)) luaL_checktype(L, 2, LUA_TFUNCTION);
  if (entry == nullptr) {
    lua_pushboolean(L, 0);
    return 1;
  }
  int ref = LUA_NOREF;
  if (!lua_isnoneornil(L, 2)) {
    lua_pushvalue(L, 2);
    ref = luaL_ref(L, LUA_REGISTRYINDEX);
    entry = CheckEntry(L);  // a collection inside luaL_ref may have run a __gc that closed it
    if (entry == nullptr) {
      luaL_unref(L, LUA_REGISTRYINDEX, ref);
      lua_pushboolean(L, 0);
      return 1;
    }
  }
  luaL_unref(L, LUA_REGISTRYINDEX, entry->*slot);
  entry->*slot = ref;
  lua_pushboolean(L, 1);
  return 1;
}

int WindowApi::OnClose(lua_State* L) { return SetCallback(L, &Entry::onClose); }
int WindowApi::OnButton(lua_State* L) { return SetCallback(L, &Entry::onButton); }

int WindowApi::ReadText(lua_State* L, bool (ScriptWindow::*get)(std::wstring&) const) {
  Entry* entry = CheckEntry(L);
  std::string text;
  bool got = false;
  if (entry != nullptr) {
    try {
      std::wstring wide;
      got = ((*entry->window).*get)(wide);
      text = WideToUtf8(wide);
    } catch (...) {
      got = false;
    }
  }
  if (got) {
    lua_pushlstring(L, text.data(), text.size());
  } else {
    lua_pushnil(L);
  }
  return 1;
}

int WindowApi::GetTitle(lua_State* L) { return ReadText(L, &ScriptWindow::GetTitle); }
int WindowApi::GetText(lua_State* L) { return ReadText(L, &ScriptWindow::GetText); }

int WindowApi::GetProgress(lua_State* L) {
  Entry* entry = CheckEntry(L);
  int position = 0;
  int max = 0;
  if (entry == nullptr || !entry->window->GetProgress(position, max)) {
    lua_pushnil(L);
    return 1;
  }
  lua_pushinteger(L, position);
  lua_pushinteger(L, max);
  return 2;
}

int WindowApi::IsVisible(lua_State* L) {
  Entry* entry = CheckEntry(L);
  lua_pushboolean(L, entry != nullptr && entry->window->IsVisible());
  return 1;
}

int WindowApi::IsOpen(lua_State* L) {
  Entry* entry = CheckEntry(L);
  lua_pushboolean(L, entry != nullptr && entry->window->IsOpen());
  return 1;
}

int WindowApi::GetHandle(lua_State* L) {
  Entry* entry = CheckEntry(L);
  if (entry == nullptr) {
    lua_pushnil(L);
    return 1;
  }
  lua_pushnumber(L, static_cast<lua_Number>(reinterpret_cast<uintptr_t>(entry->window->Handle())));
  return 1;
}

int WindowApi::ToString(lua_State* L) {
  auto* value = static_cast<WindowValue*>(luaL_checkudata(L, 1, kMetatable));
  lua_pushfstring(L, "XLUE.Window: %d", value->id);
  return 1;
}

}  // namespace xlue
