// APPWnd: the hidden main window of the launcher and the updater. Its class
// name is the program's single-instance key; its 10 ms timer drives the
// program's operation module.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "window.h"

class APPWnd : public WindowImpl {
 public:
  static constexpr UINT_PTR kPumpTimer = 0x10000;
  static constexpr UINT kPumpPeriodMs = 10;
  static constexpr uint32_t kPumpBudgetMs = 5;
  static constexpr DWORD kStyle = 0x06CF0000;    // overlapped, clip children and siblings
  static constexpr DWORD kExStyle = 0x00040100;  // application window, window edge

  // `module`: the operation module this window's timer pumps.
  explicit APPWnd(std::string module);
  ~APPWnd() override;

  // Creates the hidden top-level window of `className` and starts the pump
  // timer. False when the window cannot be created (nothing is logged here).
  bool Create(const std::string& className);

  // Part of the orderly end: stops the timers and destroys the window.
  void Shutdown();

  const std::string& Module() const { return module_; }

 protected:
  // Hooks for the program's own window: before the window exists (false
  // aborts the creation), after it exists (extra timers), on every pump tick,
  // on its other timers, on WM_COPYDATA and on any other message.
  virtual bool BeforeCreate() { return true; }
  virtual void AfterCreate() {}
  virtual void AfterPump() {}
  virtual void OnOtherTimer(UINT_PTR id) {}
  virtual bool OnCopyData(HWND sender, const COPYDATASTRUCT& data) { return false; }
  virtual bool OnOtherMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    return false;
  }

  bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

 private:
  std::string module_;
};
