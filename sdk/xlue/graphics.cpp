#include "graphics.h"

#include <commctrl.h>

#include <cstring>

#include "script_window.h"

namespace xlue {

namespace {

// The record is ours when its second field holds its size.
constexpr int32_t kParamSize = static_cast<int32_t>(sizeof(XLGraphicParam));

}  // namespace

void PrepareGraphicParam(XLGraphicParam& param) {
  std::memset(&param, 0, sizeof param);
  param.mode = kGraphicModeGdiSmooth;
  param.reserved[0] = kParamSize;
}

HINSTANCE Graphics::Instance() const {
  HMODULE module = nullptr;
  // The module holding this code: the DLL (or a program linking it statically).
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                              GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(&PrepareGraphicParam), &module)) {
    return GetModuleHandleW(nullptr);
  }
  return module;
}

int Graphics::Init(const XLGraphicParam* param) {
  if (param == nullptr || param->reserved[0] != kParamSize) return kGraphicsBadParam;
  if (param->mode != kGraphicModeGdi && param->mode != kGraphicModeGdiSmooth) {
    return kGraphicsBadMode;
  }
  if (ready_) return kGraphicsOk;

  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES;
  if (!InitCommonControlsEx(&controls)) return kGraphicsNoControls;
  if (!ScriptWindow::RegisterWindowClass(Instance())) return kGraphicsNoWindowClass;

  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  ownedFont_.Close();
  if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
    LOGFONTW font = metrics.lfMessageFont;
    font.lfQuality = param->mode == kGraphicModeGdiSmooth ? CLEARTYPE_QUALITY : DEFAULT_QUALITY;
    ownedFont_.Set(CreateFontIndirectW(&font));
  }
  stockFont_ = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  ready_ = true;
  return kGraphicsOk;
}

void Graphics::Uninit() {
  if (!ready_) return;
  ScriptWindow::UnregisterWindowClass(Instance());
  ownedFont_.Close();
  stockFont_ = nullptr;
  ready_ = false;
}

}  // namespace xlue
