// The engine's drawing set-up: common controls (progress bars), the window
// class of script windows and the font of their texts. Everything is drawn
// by GDI and the standard controls.
#pragma once

#include <windows.h>

#include "scoped_handle.h"
#include "xlue.h"

namespace xlue {

struct FontTraits {
  using Handle = HFONT;
  static bool IsValid(Handle h) { return h != nullptr; }
  static Handle Null() { return nullptr; }
  static void Close(Handle h) { DeleteObject(h); }
};
using ScopedFont = GenericScopedHandle<FontTraits>;

// What XL_PrepareGraphicParam fills in and XL_InitGraphicLib checks.
constexpr int32_t kGraphicModeGdi = 0;        // plain GDI text
constexpr int32_t kGraphicModeGdiSmooth = 1;  // GDI with ClearType text (the default)

// Result codes of InitGraphics.
enum GraphicsResult : int {
  kGraphicsOk = 0,
  kGraphicsBadParam = 1,        // null, or not prepared by XL_PrepareGraphicParam
  kGraphicsBadMode = 2,
  kGraphicsNoControls = 3,      // InitCommonControlsEx failed
  kGraphicsNoWindowClass = 4,
};

void PrepareGraphicParam(XLGraphicParam& param);

class Graphics {
 public:
  // Idempotent: a second call while ready changes nothing and succeeds.
  int Init(const XLGraphicParam* param);
  // Undoes Init (script windows must be gone already).
  void Uninit();
  bool Ready() const { return ready_; }
  HFONT Font() const { return ownedFont_ ? ownedFont_.Get() : stockFont_; }
  HINSTANCE Instance() const;
  void SetFreeTypeEnabled(bool enabled) { freeType_ = enabled; }
  bool FreeTypeEnabled() const { return freeType_; }

 private:
  bool ready_ = false;
  bool freeType_ = false;
  ScopedFont ownedFont_;
  HFONT stockFont_ = nullptr;  // when no font of our own could be made
};

}  // namespace xlue
