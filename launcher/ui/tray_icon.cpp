#include "tray_icon.h"

#include <shellapi.h>

#include <cstring>
#include <memory>

#include "json_util.h"
#include "launcher_module.h"
#include "lua_event.h"
#include "operation_engine.h"

const char kTrayTooltip[] = "点击显示更新界面,右键退出应用程序.";

static_assert(kTrayCallbackMessage == 1124, "the tray's callback message");
static_assert(NOTIFYICONDATAA_V3_SIZE == (sizeof(void*) == 4 ? 504 : 520),
              "the icon record's size: 504 bytes in the 32-bit build");

namespace {

constexpr char kTrayWindowClass[] = "LumoraTrayIconWnd";
std::unique_ptr<TrayIconWnd> g_tray;

void PostTopWindow() {
  Json::Value data(Json::objectValue);
  data["data"] = true;
  PostCall(kLauncherModule, LuaEventCall("TopWindow", data));
}

}  // namespace

TrayIconWnd::TrayIconWnd() {
  menu_ = CreatePopupMenu();
  if (menu_ != nullptr) {
    AppendMenuA(menu_, MF_STRING, kTrayShowCommand, "显示");
    AppendMenuA(menu_, MF_STRING, kTrayExitCommand, "退出");
  }
  chooseFromMenu = [this] { return TrackMenu(); };
}

TrayIconWnd::~TrayIconWnd() {
  RemoveIcon();
  DestroyWindowIfAlive();
  if (menu_ != nullptr) DestroyMenu(menu_);
  if (loadedIcon_ != nullptr) DestroyIcon(loadedIcon_);
}

TrayIconWnd* TrayIconWnd::Get() {
  if (!g_tray) {
    auto tray = std::make_unique<TrayIconWnd>();
    if (!tray->Create()) return nullptr;
    g_tray = std::move(tray);
  }
  return g_tray.get();
}

void TrayIconWnd::DestroyInstance() { g_tray.reset(); }

bool TrayIconWnd::Create() {
  if (!CreateWindowOfClass(kTrayWindowClass, nullptr, nullptr, WS_OVERLAPPEDWINDOW,
                           WS_EX_APPWINDOW))
    return false;
  BecomeHiddenToolWindow();

  // A missing icon file leaves the record without an icon; it is added anyway.
  loadedIcon_ = static_cast<HICON>(
      LoadImageA(nullptr, kTrayIconFile, IMAGE_ICON, 0, 0, LR_LOADFROMFILE | LR_DEFAULTSIZE));
  std::memset(&icon_, 0, sizeof icon_);
  icon_.cbSize = NOTIFYICONDATAA_V3_SIZE;
  icon_.hWnd = Handle();
  icon_.uID = kTrayIconId;
  icon_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  icon_.uCallbackMessage = kTrayCallbackMessage;
  icon_.hIcon = loadedIcon_;
  std::strncpy(icon_.szTip, kTrayTooltip, sizeof icon_.szTip - 1);
  return true;
}

void TrayIconWnd::ShowIcon() {
  PostCall(kLauncherModule, LuaEventCall("HideWindow"));
  Shell_NotifyIconA(NIM_ADD, &icon_);
  NOTIFYICONDATAA version = icon_;
  version.uVersion = 0;  // the callback's last parameter is the plain mouse message
  Shell_NotifyIconA(NIM_SETVERSION, &version);
  iconShown_ = true;
}

void TrayIconWnd::RemoveIcon() {
  if (!iconShown_) return;
  Shell_NotifyIconA(NIM_DELETE, &icon_);
  iconShown_ = false;
}

void TrayIconWnd::Show() {
  PostTopWindow();
  RemoveIcon();
}

void TrayIconWnd::Exit() {
  RemoveIcon();
  PostOperation(kLauncherModule, "BOLT_Uninit");
  PostOperation(kLauncherModule, "Quit");
}

UINT TrayIconWnd::TrackMenu() {
  if (menu_ == nullptr) return 0;
  POINT at{};
  GetCursorPos(&at);
  // The menu closes when the user clicks elsewhere only if its owner is in
  // the foreground.
  SetForegroundWindow(Handle());
  return static_cast<UINT>(TrackPopupMenu(menu_, TPM_RETURNCMD | TPM_NONOTIFY, at.x, at.y, 0,
                                          Handle(), nullptr));
}

void TrayIconWnd::OnMenuCommand(UINT command) {
  if (command == kTrayShowCommand) Show();
  else if (command == kTrayExitCommand) Exit();
}

void TrayIconWnd::OnTrayMessage(UINT mouseMessage) {
  switch (mouseMessage) {
    case WM_LBUTTONUP:
      Show();
      break;
    case WM_RBUTTONDOWN:
      OnMenuCommand(chooseFromMenu ? chooseFromMenu() : 0);
      break;
    default:
      break;
  }
}

bool TrayIconWnd::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  if (message != kTrayCallbackMessage) return false;
  try {
    OnTrayMessage(static_cast<UINT>(LOWORD(lParam)));
  } catch (...) {
  }
  result = 0;
  return true;
}

void ChangeTrayIconOperation(const std::string&, Json::Value) {
  if (TrayIconWnd* tray = TrayIconWnd::Get()) tray->ShowIcon();
}
