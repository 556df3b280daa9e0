// The one kind of window scripts can make: a top-level window with a title,
// a status text, a progress bar and an optional button (standard and common
// controls). It knows nothing of Lua; what the user does to it is passed to
// a listener. All calls on the thread that created it.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

namespace xlue {

enum class WindowEvent {
  kCloseRequested,  // the user asked to close it (WM_CLOSE); handled → stays
  kButtonClicked,
  kDestroyed,       // the window is gone (after WM_NCDESTROY)
};

class ScriptWindow : public std::enable_shared_from_this<ScriptWindow> {
 public:
  // Returns true when it handled the event (for kCloseRequested: the window
  // stays unless the listener closed it).
  using Listener = std::function<bool(WindowEvent)>;

  static constexpr const wchar_t* kClassName = L"XLUE_ScriptWindow";
  // Child control identifiers (GetDlgItem).
  static constexpr int kTextId = 101;
  static constexpr int kProgressId = 102;
  static constexpr int kButtonId = 103;
  static constexpr int kDefaultWidth = 420;  // client area
  static constexpr int kDefaultHeight = 140;

  // The window class of the module `instance`; false when it cannot be had.
  static bool RegisterWindowClass(HINSTANCE instance);
  static void UnregisterWindowClass(HINSTANCE instance);

  ScriptWindow() = default;
  ~ScriptWindow();  // destroys the window without telling the listener
  ScriptWindow(const ScriptWindow&) = delete;
  ScriptWindow& operator=(const ScriptWindow&) = delete;

  // Creates the window hidden, centred on the screen; the object must be
  // owned by a shared_ptr already. An empty `button` text means no button.
  // Sizes below 200x100 are raised to that.
  bool Create(HINSTANCE instance, const std::wstring& title, const std::wstring& text,
              const std::wstring& button, int width, int height, HFONT font);
  void SetListener(Listener listener) { listener_ = std::move(listener); }

  bool IsOpen() const { return hwnd_ != nullptr; }
  HWND Handle() const { return hwnd_; }

  bool SetTitle(const std::wstring& title);
  bool SetText(const std::wstring& text);
  bool SetButton(const std::wstring& text);  // empty hides the button
  // Position within 0..max (clamped); `max` < 1 keeps the current range.
  bool SetProgress(int position, int max);
  bool Show();
  bool Hide();
  bool BringToFront();  // shows it too
  void Destroy();

  bool GetTitle(std::wstring& title) const;
  bool GetText(std::wstring& text) const;
  bool GetProgress(int& position, int& max) const;
  bool IsVisible() const;

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
  void Layout();
  bool Notify(WindowEvent event);

  HWND hwnd_ = nullptr;
  HWND text_ = nullptr;
  HWND progress_ = nullptr;
  HWND button_ = nullptr;
  Listener listener_;
};

// Position clamped into 0..max.
int ClampProgress(int position, int max);

}  // namespace xlue
