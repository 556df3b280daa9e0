// The window API of scripts, the table XLUE.Window:
//   local w = XLUE.Window.Create{title=, text=, button=, width=, height=}
//   w:SetTitle(s) w:SetText(s) w:SetButton(s) w:SetProgress(pos [, max])
//   w:Show() w:Hide() w:BringToFront() w:Close()
//   w:OnClose(fn) w:OnButton(fn)          -- fn(w); nil removes it
//   w:GetTitle() w:GetText() w:GetProgress() w:IsVisible() w:IsOpen() w:GetHandle()
// Texts are UTF-8. A window lives until it is closed (by w:Close(), by the
// user when it has no OnClose function, or by the engine's shutdown), not
// until its Lua value is collected. Callback errors go to the error handler.
#pragma once

#include <map>
#include <memory>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "script_window.h"

namespace xlue {

class WindowApi {
 public:
  static constexpr const char* kMetatable = "XLUE.Window";

  // Adds XLUE.Window to the state (run inside a protected call).
  static void Install(lua_State* L);

  // Closes every script window; their Lua functions are released.
  void DestroyAll();
  size_t Count() const { return entries_.size(); }

 private:
  struct Entry {
    std::shared_ptr<ScriptWindow> window;
    lua_State* L = nullptr;
    int self = LUA_NOREF;  // the window's Lua value, handed to callbacks
    int onClose = LUA_NOREF;
    int onButton = LUA_NOREF;
  };

  Entry* Find(int id);
  bool OnEvent(int id, WindowEvent event);
  static void ReleaseRefs(Entry& entry);

  // The functions scripts call.
  static Entry* CheckEntry(lua_State* L);
  static int Create(lua_State* L);
  static int SetTitle(lua_State* L);
  static int SetText(lua_State* L);
  static int SetButton(lua_State* L);
  static int SetProgress(lua_State* L);
  static int Show(lua_State* L);
  static int Hide(lua_State* L);
  static int BringToFront(lua_State* L);
  static int Close(lua_State* L);
  static int OnClose(lua_State* L);
  static int OnButton(lua_State* L);
  static int GetTitle(lua_State* L);
  static int GetText(lua_State* L);
  static int GetProgress(lua_State* L);
  static int IsVisible(lua_State* L);
  static int IsOpen(lua_State* L);
  static int GetHandle(lua_State* L);
  static int ToString(lua_State* L);
  static int SetCallback(lua_State* L, int Entry::*slot);
  static int ApplyText(lua_State* L, bool (ScriptWindow::*set)(const std::wstring&));
  static int ReadText(lua_State* L, bool (ScriptWindow::*get)(std::wstring&) const);

  std::map<int, Entry> entries_;
  int nextId_ = 1;
};

}  // namespace xlue
