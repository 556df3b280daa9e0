#include "app_window.h"

#include "operation_engine.h"

APPWnd::APPWnd(std::string module) : module_(std::move(module)) {}

APPWnd::~APPWnd() { Shutdown(); }

bool APPWnd::Create(const std::string& className) {
  if (!BeforeCreate()) return false;
  if (!CreateWindowOfClass(className, nullptr, nullptr, kStyle, kExStyle)) return false;
  if (!SetTimer(Handle(), kPumpTimer, kPumpPeriodMs, nullptr)) {
    DestroyWindowIfAlive();
    return false;
  }
  AfterCreate();
  return true;
}

void APPWnd::Shutdown() {
  if (Handle()) KillTimer(Handle(), kPumpTimer);
  DestroyWindowIfAlive();
}

bool APPWnd::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (message) {
    case WM_CREATE:
      BecomeHiddenToolWindow();
      result = 0;
      return true;
    case WM_TIMER:
      if (wParam == kPumpTimer) {
        PumpModule(module_, kPumpBudgetMs);
        AfterPump();
      } else {
        OnOtherTimer(wParam);
      }
      result = 0;
      return true;
    case WM_COPYDATA: {
      const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
      if (!data) return false;
      const bool handled = OnCopyData(reinterpret_cast<HWND>(wParam), *data);
      result = handled ? TRUE : FALSE;
      return true;
    }
    case WM_DESTROY:
      // A top-level frame ends the loop when it goes.
      PostQuitMessage(1);
      result = 0;
      return true;
    default:
      return OnOtherMessage(message, wParam, lParam, result);
  }
}
