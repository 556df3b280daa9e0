#include "window.h"

#include <exception>

#include "log_file.h"

bool WindowImpl::EnsureClass(const std::string& className) {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSEXA existing{};
  existing.cbSize = sizeof existing;
  if (GetClassInfoExA(instance, className.c_str(), &existing)) return true;
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  wc.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
  wc.lpfnWndProc = &WindowImpl::WindowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = className.c_str();
  return RegisterClassExA(&wc) != 0;
}

WindowImpl::~WindowImpl() { DestroyWindowIfAlive(); }

bool WindowImpl::CreateWindowOfClass(const std::string& className, HWND parent,
                                     const char* title, DWORD style, DWORD exStyle, int x, int y,
                                     int width, int height) {
  if (hwnd_) return false;
  className_ = className;
  if (!EnsureClass(className)) return false;
  // WM_NCCREATE binds this object to the window (see WindowProc).
  HWND hwnd = CreateWindowExA(exStyle, className.c_str(), title ? title : "", style, x, y, width,
                              height, parent, nullptr, GetModuleHandleA(nullptr), this);
  return hwnd != nullptr && hwnd == hwnd_;
}

void WindowImpl::DestroyWindowIfAlive() {
  if (hwnd_ && IsWindow(hwnd_)) DestroyWindow(hwnd_);
  hwnd_ = nullptr;
}

bool WindowImpl::HandleMessage(UINT, WPARAM, LPARAM, LRESULT&) { return false; }

LRESULT CALLBACK WindowImpl::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  WindowImpl* self = nullptr;
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
    self = static_cast<WindowImpl*>(create->lpCreateParams);
    if (self) {
      SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
      self->hwnd_ = hwnd;
    }
  } else {
    self = reinterpret_cast<WindowImpl*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  }
  if (!self) return DefWindowProcA(hwnd, message, wParam, lParam);
  return self->Dispatch(message, wParam, lParam);
}

LRESULT WindowImpl::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  HWND hwnd = hwnd_;
  LRESULT result = 0;
  bool handled = false;
  // Nothing thrown may unwind through the system's frames.
  try {
    handled = HandleMessage(message, wParam, lParam, result);
  } catch (const std::exception& e) {
    WriteLogF("窗口消息处理异常[0x%04X]: %s", message, e.what());
    handled = false;
  } catch (...) {
    WriteLogF("窗口消息处理异常[0x%04X]", message);
    handled = false;
  }
  if (!handled) result = DefWindowProcA(hwnd, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
    hwnd_ = nullptr;
    OnFinalMessage();
  }
  return result;
}

void WindowImpl::BecomeHiddenToolWindow() {
  if (hwnd_ == nullptr) return;
  const LONG_PTR ex = GetWindowLongPtrA(hwnd_, GWL_EXSTYLE);
  SetWindowLongPtrA(hwnd_, GWL_EXSTYLE, (ex & ~WS_EX_APPWINDOW) | WS_EX_TOOLWINDOW);
  WINDOWPLACEMENT placement{};
  placement.length = sizeof placement;
  if (GetWindowPlacement(hwnd_, &placement)) {
    placement.showCmd = SW_HIDE;
    SetWindowPlacement(hwnd_, &placement);
  }
}
