#include "launcher_start.h"

#include <windows.h>

#include "bcrypt_trust.h"
#include "bolt_host.h"
#include "component_updates.h"
#include "config_check.h"
#include "config_keys.h"
#include "config_store.h"
#include "device_identity.h"
#include "fatal_error.h"
#include "hall_start.h"
#include "launcher_app.h"
#include "launcher_module.h"
#include "launcher_operations.h"
#include "launcher_window.h"
#include "log_file.h"
#include "lua_bridge.h"
#include "message_box_ex.h"
#include "msgbox_operation.h"
#include "operator_texts.h"
#include "start_process_operation.h"
#include "strata.h"
#include "tray_icon.h"
#include "url_operations.h"

const char kBadParamsMessage[] = "启动参数错误!" LUMORA_SUPPORT_TAIL;

namespace {

const LauncherOperation kOperations[] = {
    {"Quit", QuitOperation},
    {"BOLT_Init", BoltInitOperation},
    {"BOLT_Uninit", BoltUninitOperation},
    {"BOLT_LoadXAR", BoltLoadXarOperation},
    {"URL_LoadData", URLLoadDataOperation},
    {"URL_Download", URLDownloadOperation},
    {"To_Lua", ToLuaOperation},
    {"StartProcess", StartProcessOperation},
    {"StartProcedure", StartProcedureOperation},
    {"Statistics", StatisticsOperation},
    {"CheckConfig", CheckConfigOperation},
    {"UpdateStarter", UpdateStarterOperation},
    {"UpdatePlaza", UpdatePlazaOperation},
    {"UpdatePlatform", UpdatePlatformOperation},
    {"ConfigLoaded", ConfigLoadedOperation},
    {"CheckPlaza", CheckPlazaOperation},
    {"CheckPlatform", CheckPlatformOperation},
    {"StartPlazz", StartPlazzOperation},
    {"CheckPlazzProcess", CheckPlazzProcessOperation},
    {"ShowUpdateLoad", ShowUpdateLoadOperation},
    {"MsgBox", MsgBoxOperation},
    {"ChangeTrayIcon", ChangeTrayIconOperation},
};

// Says once per start whether the operator's replies are verified, and with
// which keys.
void LogReplyVerification() {
  if (!RepliesMustBeSigned()) {
    WriteLog("配置签名校验: 未内置公钥,配置应答不作校验.");
    return;
  }
  std::string ids;
  for (const trust::PublicPoint& key : ConfigKeys()) {
    const trust::KeyId id = trust::KeyIdOf(key);
    ids += (ids.empty() ? "" : ",") + trust::HexText(id.data(), id.size());
  }
  WriteLogF("配置签名校验: 已内置公钥[%s],配置应答与更新包须经校验.", ids.c_str());
}

// Fatal messages appear in the launcher's own dialog (empty caption: the
// template's title stays).
void ShowInMessageDialog(const std::string& message) {
  CMessageBoxEx dialog;
  dialog.Show(message, std::string());
}

}  // namespace

const LauncherOperation* LauncherOperations(size_t& count) {
  count = sizeof kOperations / sizeof kOperations[0];
  return kOperations;
}

bool InitLauncher(const char* commandLine) {
  const std::string text = commandLine ? commandLine : "";
  LauncherApp& app = LauncherApp::Get();  // the program folder is current from here on
  SetFatalErrorPresenter(ShowInMessageDialog);
  DBM::Initialise();

  const LauncherSettings settings = ParseLauncherCommandLine(text, LoadConfigJson("CFG_ConfigInfo"));
  app.TakeSettings(settings);
  if (app.unionCode == 0) {
    WriteLogF("params:'%s'", text.c_str());
    ShowFatalError(kBadParamsMessage, -1);
    return false;
  }

  // Another launcher of this union code is running: ask it to show itself.
  // Nothing is logged before this point on a normal start: the first line
  // recreates the log file, which is the running launcher's.
  if (HWND first = FindWindowA(app.WindowClassName().c_str(), nullptr)) {
    PostMessageA(first, kTopWindowRequest, 1, 0);
    return false;
  }

  // Not an error: the defaults apply. Said once, so that a maintainer can
  // tell why the start then behaves as without parameters.
  if (settings.unread) WriteLogF("命令行参数不是JSON对象,使用默认设置 params:'%s'", text.c_str());

  LogReplyVerification();
  app.mainWindow = std::make_unique<LauncherWindow>();
  if (!app.mainWindow->Create(app.WindowClassName())) return false;

  RegisterLauncherOperations();
  PostFirstOperations();
  return true;
}

void RegisterLauncherOperations() {
  size_t count = 0;
  const LauncherOperation* operations = LauncherOperations(count);
  for (size_t i = 0; i < count; ++i)
    RegisterOperation(kLauncherModule, operations[i].name, operations[i].handler);
}

void PostFirstOperations() {
  PostOperation(kLauncherModule, "Statistics");
  PostOperation(kLauncherModule, "StartProcedure");
}

void EndLauncher() {
  BoltHost::Shutdown(false);
  TrayIconWnd::DestroyInstance();
  UnregisterAll(kLauncherModule);
  CleanUpFailedLauncher();
}

void CleanUpFailedLauncher() {
  if (LauncherApp::Exists()) {
    LauncherApp& app = LauncherApp::Get();
    if (app.mainWindow) {
      app.mainWindow->Close();
      app.mainWindow.reset();
    }
    LauncherApp::Destroy();
  }
  DBM::Uninitialise();
}
