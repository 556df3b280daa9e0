#include "launcher_window.h"

#include "config_keys.h"
#include "json_util.h"
#include "launcher_app.h"
#include "launcher_module.h"
#include "log_file.h"
#include "lua_event.h"
#include "operation_engine.h"

LauncherWindow* MainWindow() {
  return LauncherApp::Exists() ? LauncherApp::Get().mainWindow.get() : nullptr;
}

std::string GetLoadedData(int32_t opsign) {
  LauncherWindow* window = MainWindow();
  return window ? window->GetLoadedData(opsign) : std::string();
}

std::string GetLoadedSignature(int32_t opsign) {
  LauncherWindow* window = MainWindow();
  return window ? window->GetLoadedSignature(opsign) : std::string();
}

LauncherWindow::LauncherWindow()
    : APPWnd(kLauncherModule),
      client_([](const std::string& text) { PostCall(kLauncherModule, text); },
              [] { return ProcessClockMs(); }) {
  client_.SetLog([](const std::string& line) { WriteLog(line.c_str()); });
  if (RepliesMustBeSigned()) {
    client_.SetReplyCheck([](const std::string& body, const std::string& signature) {
      return trust::CheckSignedText(body, signature, ConfigKeys(),
                                    trust::DocumentRole::CallAnswer);
    });
  }
}

LauncherWindow::~LauncherWindow() { Close(); }

void LauncherWindow::Close() {
  if (Handle()) KillTimer(Handle(), kPurgeTimerId);
  Shutdown();
  if (CurrentDownloadTasks() == this) SetDownloadTasks(nullptr);
  service_.Unload();
}

bool LauncherWindow::BeforeCreate() {
  if (!service_.LoadComponent()) {
    WriteLog("下载服务模块加载失败!");
    return false;
  }
  return true;
}

void LauncherWindow::AfterCreate() {
  SetTimer(Handle(), kPurgeTimerId, kPurgePeriodMs, nullptr);
  SetDownloadTasks(this);
}

void LauncherWindow::AfterPump() {
  if (!uiStarted_ && LauncherApp::Exists() &&
      LauncherApp::Get().ElapsedMs() >= kStartUiAfterMs)
    StartUI();
}

void LauncherWindow::OnOtherTimer(UINT_PTR id) {
  if (id == kPurgeTimerId) client_.PurgeLoadedData();
}

bool LauncherWindow::OnCopyData(HWND, const COPYDATASTRUCT& data) {
  // Handled at once: the record is valid only while this message is.
  return client_.OnRecord(data.dwData, data.lpData, data.cbData);
}

bool LauncherWindow::OnOtherMessage(UINT message, WPARAM wParam, LPARAM, LRESULT& result) {
  if (message != kTopWindowRequest) return false;
  Json::Value data(Json::objectValue);
  data["data"] = wParam == 1;
  PostCall(kLauncherModule, LuaEventCall("TopWindow", data));
  result = 0;
  return true;
}

uint32_t LauncherWindow::CreateTask(uint32_t kind, const DownloadTaskParams& params,
                                    const DownloadTaskOptions* options) {
  if (!service_.IsValid() || Handle() == nullptr) return 0;
  try {
    // Options go through the library's second export where it has one; a
    // service without it (or that refuses them) gets the plain task.
    if (options != nullptr) {
      auto withOptions = reinterpret_cast<CreateTaskWithOptionsFn>(reinterpret_cast<void*>(
          GetProcAddress(GetModuleHandleA(kDownloadLibraryName), kCreateTaskWithOptionsName)));
      if (withOptions != nullptr) {
        if (const uint32_t task = withOptions(service_.Get(), kind, &params, Handle(), options))
          return task;
      }
    }
    return service_->CreateTask(kind, &params, Handle());
  } catch (...) {
    return 0;
  }
}

void LauncherWindow::StartUI() {
  if (uiStarted_) return;
  uiStarted_ = true;
  PostOperation(kLauncherModule, "BOLT_Init");
  Json::Value load(Json::objectValue);
  load["op"] = "BOLT_LoadXAR";
  load["name"] = kSkinPackage;
  PostCall(kLauncherModule, rt::StyledText(load));
}
