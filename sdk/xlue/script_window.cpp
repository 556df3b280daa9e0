#include "script_window.h"

#include <commctrl.h>

namespace xlue {

namespace {

constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = WS_EX_APPWINDOW;
constexpr int kMargin = 16;
constexpr int kTextHeight = 44;
constexpr int kProgressHeight = 18;
constexpr int kButtonWidth = 140;
constexpr int kButtonHeight = 28;

bool ReadWindowText(HWND hwnd, std::wstring& text) {
  text.clear();
  if (hwnd == nullptr) return false;
  const int length = GetWindowTextLengthW(hwnd);
  if (length <= 0) return true;
  std::wstring buffer(static_cast<size_t>(length) + 1, L'\0');
  const int got = GetWindowTextW(hwnd, &buffer[0], length + 1);
  buffer.resize(static_cast<size_t>(got > 0 ? got : 0));
  text.swap(buffer);
  return true;
}

HWND CreateChild(HINSTANCE instance, HWND parent, const wchar_t* cls, const wchar_t* text,
                 DWORD style, int id, HFONT font) {
  HWND child = CreateWindowExW(0, cls, text, WS_CHILD | style, 0, 0, 10, 10, parent,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance,
                               nullptr);
  if (child != nullptr && font != nullptr) {
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  }
  return child;
}

}  // namespace

int ClampProgress(int position, int max) {
  if (max < 1) max = 1;
  if (position < 0) return 0;
  return position > max ? max : position;
}

bool ScriptWindow::RegisterWindowClass(HINSTANCE instance) {
  WNDCLASSEXW wc{};
  if (GetClassInfoExW(instance, kClassName, &wc)) return true;
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &ScriptWindow::WindowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  wc.lpszClassName = kClassName;
  return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

void ScriptWindow::UnregisterWindowClass(HINSTANCE instance) {
  UnregisterClassW(kClassName, instance);
}

ScriptWindow::~ScriptWindow() {
  if (hwnd_ != nullptr) {
    HWND hwnd = hwnd_;
    hwnd_ = nullptr;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);  // no more messages reach this object
    DestroyWindow(hwnd);
  }
}

bool ScriptWindow::Create(HINSTANCE instance, const std::wstring& title, const std::wstring& text,
                          const std::wstring& button, int width, int height, HFONT font) {
  if (hwnd_ != nullptr) return false;
  if (width < 200) width = 200;
  if (height < 100) height = 100;
  RECT frame{0, 0, width, height};
  if (!AdjustWindowRectEx(&frame, kStyle, FALSE, kExStyle)) return false;
  const int outerWidth = frame.right - frame.left;
  const int outerHeight = frame.bottom - frame.top;
  int x = (GetSystemMetrics(SM_CXSCREEN) - outerWidth) / 2;
  int y = (GetSystemMetrics(SM_CYSCREEN) - outerHeight) / 2;
  if (x < 0) x = 0;
  if (y < 0) y = 0;
  // WM_NCCREATE binds the window to this object (hwnd_ is set there).
  if (CreateWindowExW(kExStyle, kClassName, title.c_str(), kStyle, x, y, outerWidth, outerHeight,
                      nullptr, nullptr, instance, this) == nullptr) {
    hwnd_ = nullptr;
    return false;
  }
  text_ = CreateChild(instance, hwnd_, L"STATIC", text.c_str(),
                      WS_VISIBLE | SS_LEFT | SS_NOPREFIX, kTextId, font);
  progress_ = CreateChild(instance, hwnd_, PROGRESS_CLASSW, L"", WS_VISIBLE | PBS_SMOOTH,
                          kProgressId, font);
  button_ = CreateChild(instance, hwnd_, L"BUTTON", button.c_str(),
                        WS_TABSTOP | BS_PUSHBUTTON | (button.empty() ? 0 : WS_VISIBLE),
                        kButtonId, font);
  if (text_ == nullptr || progress_ == nullptr || button_ == nullptr) {
    Listener keep;
    keep.swap(listener_);  // a window that never existed reports nothing
    DestroyWindow(hwnd_);
    return false;
  }
  SendMessageW(progress_, PBM_SETRANGE32, 0, 100);
  SendMessageW(progress_, PBM_SETPOS, 0, 0);
  Layout();
  return true;
}

void ScriptWindow::Layout() {
  RECT client;
  if (!GetClientRect(hwnd_, &client)) return;
  const int width = client.right - kMargin * 2;
  MoveWindow(text_, kMargin, kMargin, width, kTextHeight, FALSE);
  MoveWindow(progress_, kMargin, kMargin + kTextHeight + 8, width, kProgressHeight, FALSE);
  MoveWindow(button_, client.right - kMargin - kButtonWidth,
             client.bottom - kMargin - kButtonHeight, kButtonWidth, kButtonHeight, FALSE);
}

bool ScriptWindow::SetTitle(const std::wstring& title) {
  return hwnd_ != nullptr && SetWindowTextW(hwnd_, title.c_str()) != FALSE;
}

bool ScriptWindow::SetText(const std::wstring& text) {
  return hwnd_ != nullptr && SetWindowTextW(text_, text.c_str()) != FALSE;
}

bool ScriptWindow::SetButton(const std::wstring& text) {
  if (hwnd_ == nullptr || !SetWindowTextW(button_, text.c_str())) return false;
  ShowWindow(button_, text.empty() ? SW_HIDE : SW_SHOWNA);
  return true;
}

bool ScriptWindow::SetProgress(int position, int max) {
  if (hwnd_ == nullptr) return false;
  if (max >= 1) {
    SendMessageW(progress_, PBM_SETRANGE32, 0, max);
  } else {
    max = static_cast<int>(SendMessageW(progress_, PBM_GETRANGE, FALSE, 0));
  }
  SendMessageW(progress_, PBM_SETPOS, static_cast<WPARAM>(ClampProgress(position, max)), 0);
  return true;
}

bool ScriptWindow::Show() {
  if (hwnd_ == nullptr) return false;
  ShowWindow(hwnd_, SW_SHOW);  // returns the previous state, not a result
  return IsWindowVisible(hwnd_) != FALSE;
}

bool ScriptWindow::Hide() {
  if (hwnd_ == nullptr) return false;
  ShowWindow(hwnd_, SW_HIDE);
  return IsWindowVisible(hwnd_) == FALSE;
}

bool ScriptWindow::BringToFront() {
  if (hwnd_ == nullptr) return false;
  ShowWindow(hwnd_, IsIconic(hwnd_) ? SW_RESTORE : SW_SHOW);
  // The system may refuse the foreground to a program the user is not
  // using; the window is shown and raised all the same.
  SetForegroundWindow(hwnd_);
  BringWindowToTop(hwnd_);
  return IsWindowVisible(hwnd_) != FALSE;
}

void ScriptWindow::Destroy() {
  if (hwnd_ != nullptr) DestroyWindow(hwnd_);
}

bool ScriptWindow::GetTitle(std::wstring& title) const { return ReadWindowText(hwnd_, title); }

bool ScriptWindow::GetText(std::wstring& text) const {
  return hwnd_ != nullptr && ReadWindowText(text_, text);
}

bool ScriptWindow::GetProgress(int& position, int& max) const {
  if (hwnd_ == nullptr) return false;
  position = static_cast<int>(SendMessageW(progress_, PBM_GETPOS, 0, 0));
  max = static_cast<int>(SendMessageW(progress_, PBM_GETRANGE, FALSE, 0));
  return true;
}

bool ScriptWindow::IsVisible() const { return hwnd_ != nullptr && IsWindowVisible(hwnd_); }

bool ScriptWindow::Notify(WindowEvent event) {
  if (!listener_) return false;
  Listener listener = listener_;  // the listener may replace itself or end this window
  return listener(event);
}

LRESULT CALLBACK ScriptWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  try {
    ScriptWindow* self = nullptr;
    if (message == WM_NCCREATE) {
      self = static_cast<ScriptWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
      self->hwnd_ = hwnd;
    } else {
      self = reinterpret_cast<ScriptWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    }
    // Keep the object alive while its handler runs: a listener may drop the
    // last other owner.
    std::shared_ptr<ScriptWindow> keep = self != nullptr ? self->weak_from_this().lock() : nullptr;
    if (!keep) return DefWindowProcW(hwnd, message, wParam, lParam);
    return keep->Dispatch(message, wParam, lParam);
  } catch (...) {
    return message == WM_NCCREATE ? FALSE : 0;
  }
}

LRESULT ScriptWindow::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  HWND hwnd = hwnd_;
  switch (message) {
    case WM_CLOSE:
      if (!Notify(WindowEvent::kCloseRequested) && hwnd_ != nullptr) DestroyWindow(hwnd_);
      return 0;
    case WM_COMMAND:
      if (LOWORD(wParam) == kButtonId && HIWORD(wParam) == BN_CLICKED) {
        Notify(WindowEvent::kButtonClicked);
        return 0;
      }
      break;
    case WM_NCDESTROY: {
      hwnd_ = text_ = progress_ = button_ = nullptr;
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      const LRESULT result = DefWindowProcW(hwnd, message, wParam, lParam);
      Notify(WindowEvent::kDestroyed);
      return result;
    }
    default:
      break;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace xlue
