// The launcher's hidden main window: the common APPWnd with the download
// service (loaded before the window exists; the window is not made without
// it), the cache purge timer, the service's notices, the request of a second
// launcher and the start of the user interface.
#pragma once

#include "app_window.h"
#include "download_client.h"
#include "url_operations.h"

// The skin package the launcher's user interface is drawn from.
constexpr char kSkinPackage[] = "Lumora1.0.0";

// Sent (posted) by a second launcher of the same union code.
constexpr UINT kTopWindowRequest = WM_USER + 100;  // 0x464

class LauncherWindow : public APPWnd, public DownloadTasks {
 public:
  // When the user interface starts without being asked for.
  static constexpr uint32_t kStartUiAfterMs = 2000;

  LauncherWindow();
  ~LauncherWindow() override;

  // Part of the orderly end: timers, window, then the service and its library.
  void Close();

  // DownloadTasks
  uint32_t CreateTask(uint32_t kind, const DownloadTaskParams& params,
                      const DownloadTaskOptions* options) override;
  DownloadClient& Client() override { return client_; }

  std::string GetLoadedData(int32_t opsign) const { return client_.GetLoadedData(opsign); }
  std::string GetLoadedSignature(int32_t opsign) const {
    return client_.GetLoadedSignature(opsign);
  }

  // Posts the engine's start ("BOLT_Init", then "BOLT_LoadXAR" of the skin)
  // once per process; later calls do nothing.
  void StartUI();
  bool UiStarted() const { return uiStarted_; }

 protected:
  bool BeforeCreate() override;
  void AfterCreate() override;
  void AfterPump() override;
  void OnOtherTimer(UINT_PTR id) override;
  bool OnCopyData(HWND sender, const COPYDATASTRUCT& data) override;
  bool OnOtherMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  CDownloadServiceHelper service_;
  DownloadClient client_;
  bool uiStarted_ = false;
};

// The launcher's main window, or null before it exists.
LauncherWindow* MainWindow();

// The cached reply of a finished data load by request tag; empty when there
// is none (or no main window).
std::string GetLoadedData(int32_t opsign);
// The signature that came with it (the X-Lumora-Signature header); empty
// when none came.
std::string GetLoadedSignature(int32_t opsign);
