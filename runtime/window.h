// A small window frame: classes registered by name on first creation, a
// static window procedure bound to the C++ object, and message handlers that
// fall back to the default procedure.
#pragma once

#include <windows.h>

#include <string>

class WindowImpl {
 public:
  WindowImpl() = default;
  virtual ~WindowImpl();
  WindowImpl(const WindowImpl&) = delete;
  WindowImpl& operator=(const WindowImpl&) = delete;

  // Registers `className` (once per process: arrow cursor, window-colour
  // background) and creates the window. False when either fails.
  bool CreateWindowOfClass(const std::string& className, HWND parent, const char* title,
                           DWORD style, DWORD exStyle, int x = CW_USEDEFAULT,
                           int y = CW_USEDEFAULT, int width = CW_USEDEFAULT,
                           int height = CW_USEDEFAULT);
  // Destroys the window if it still exists.
  void DestroyWindowIfAlive();

  // Registers a window class of ours with that name unless the process has
  // one already. True when the class is available.
  static bool EnsureClass(const std::string& className);

  HWND Handle() const { return hwnd_; }

  // Drops the taskbar button (application-window style), takes the
  // tool-window style and places the window hidden: never on screen.
  void BecomeHiddenToolWindow();
  const std::string& ClassName() const { return className_; }

 protected:
  // Handle a message: return true and set `result` when handled; unhandled
  // messages go to the default window procedure.
  virtual bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
  // Called after WM_NCDESTROY; the handle is already cleared.
  virtual void OnFinalMessage() {}

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam);

  HWND hwnd_ = nullptr;
  std::string className_;
};

