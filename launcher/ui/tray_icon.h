// The launcher's icon in the notification area: "ChangeTrayIcon" hides the
// skin's window and shows the icon; a left click (or "显示") brings the window
// back, "退出" ends the launcher. The reaction to a click is kept apart from
// the shell and the menu so that it can be driven with messages.
#pragma once

#include <windows.h>

#include <shellapi.h>

#include <json/value.h>

#include <functional>
#include <string>

#include "window.h"

constexpr UINT kTrayCallbackMessage = WM_USER + 100;  // 1124
constexpr UINT kTrayIconId = 5000;
constexpr UINT kTrayShowCommand = 3150;
constexpr UINT kTrayExitCommand = 3000;
constexpr char kTrayIconFile[] = "Platform/logo.ico";
extern const char kTrayTooltip[];

class TrayIconWnd : public WindowImpl {
 public:
  TrayIconWnd();
  ~TrayIconWnd() override;

  // The one tray window, made on first use; null when it cannot be made.
  static TrayIconWnd* Get();
  // Destroys it (the launcher's orderly end).
  static void DestroyInstance();

  // Posts "HideWindow", adds the icon and sets its behaviour version 0.
  void ShowIcon();
  void RemoveIcon();
  bool IconShown() const { return iconShown_; }

  // The reaction to the callback's mouse message and to a menu command.
  void OnTrayMessage(UINT mouseMessage);
  void OnMenuCommand(UINT command);

  // Shows the menu and gives the chosen command (0: none). Tests replace it.
  std::function<UINT()> chooseFromMenu;

  const NOTIFYICONDATAA& IconRecord() const { return icon_; }
  // The menu a right click shows.
  HMENU Menu() const { return menu_; }

 protected:
  bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  bool Create();
  UINT TrackMenu();
  void Show();
  void Exit();

  HMENU menu_ = nullptr;
  HICON loadedIcon_ = nullptr;
  NOTIFYICONDATAA icon_{};
  bool iconShown_ = false;
};

// The operation "ChangeTrayIcon".
void ChangeTrayIconOperation(const std::string& op, Json::Value call);
