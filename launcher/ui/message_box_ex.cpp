#include "message_box_ex.h"

#include <exception>

#include "log_file.h"
#include "message_layout.h"
#include "process_runner.h"
#include "resource.h"

#ifndef LUMORA_SERVICE_URL
#define LUMORA_SERVICE_URL "https://service.lumora.invalid/online"
#endif

int CMessageBoxEx::Show(const std::string& message, const std::string& caption) {
  message_ = message;
  caption_ = caption;
  const INT_PTR code = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MESSAGEBOXEX),
                                       nullptr, DialogProc, reinterpret_cast<LPARAM>(this));
  return static_cast<int>(code);
}

std::string CMessageBoxEx::ServiceCommandLine(const std::string& program,
                                              const std::string& address) {
  return program + " \"" + address + "\"";
}

void CMessageBoxEx::OnInitDialog(HWND dialog) {
  if (!caption_.empty()) SetWindowTextA(dialog, caption_.c_str());
  HWND text = GetDlgItem(dialog, IDC_MESSAGETEXT);
  HWND button = GetDlgItem(dialog, IDOK);
  SetWindowTextA(text, message_.c_str());

  // Measure every line on the text control's own device context, in the
  // font the control draws with: a fresh device context holds the system
  // font, which is wider and taller than the dialog's.
  long long width = 0;
  long long height = 0;
  if (HDC dc = GetDC(text)) {
    const HFONT font = reinterpret_cast<HFONT>(SendMessageA(text, WM_GETFONT, 0, 0));
    const HGDIOBJ previous = font != nullptr ? SelectObject(dc, font) : nullptr;
    for (const std::string& line : SplitMessageLines(message_)) {
      const SIZE size = MeasureLine(dc, line);
      if (size.cx > width) width = size.cx;
      height += size.cy;
    }
    if (previous != nullptr) SelectObject(dc, previous);
    ReleaseDC(text, dc);
  }
  const MessageLayout layout = ComputeMessageLayout(width, height);
  MoveWindow(text, layout.text.left, layout.text.top, layout.text.right, layout.text.bottom, FALSE);
  MoveWindow(button, layout.button.left, layout.button.top, layout.button.right,
             layout.button.bottom, FALSE);

  // Centre in the work area of the monitor the dialog is on.
  RECT work{};
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  if (GetMonitorInfoA(MonitorFromWindow(dialog, MONITOR_DEFAULTTONEAREST), &monitor))
    work = monitor.rcWork;
  else
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
  const LONG x = work.left + ((work.right - work.left) - layout.dialog.cx) / 2;
  const LONG y = work.top + ((work.bottom - work.top) - layout.dialog.cy) / 2;
  SetWindowPos(dialog, nullptr, x, y, layout.dialog.cx, layout.dialog.cy,
               SWP_NOZORDER | SWP_NOACTIVATE);

  // The template asks for the foreground (DS_SETFOREGROUND), which not every
  // dialog manager grants: Wine's only activates the dialog inside its
  // thread, so it would come up with an inactive caption. Asking before the
  // dialog manager activates it is what the style stands for.
  SetForegroundWindow(dialog);
}

void CMessageBoxEx::OpenServicePage() {
  const std::string address = serviceAddress.empty() ? LUMORA_SERVICE_URL : serviceAddress;
  // A failure is logged by the runner; the dialog stays open either way.
  RunProcess(ServiceCommandLine(serviceProgram, address), std::string(), 0, true);
}

INT_PTR CALLBACK CMessageBoxEx::DialogProc(HWND dialog, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
  try {
    if (message == WM_INITDIALOG) {
      auto* self = reinterpret_cast<CMessageBoxEx*>(lParam);
      SetWindowLongPtrA(dialog, DWLP_USER, lParam);
      if (self) self->OnInitDialog(dialog);
      return TRUE;
    }
    auto* self = reinterpret_cast<CMessageBoxEx*>(GetWindowLongPtrA(dialog, DWLP_USER));
    if (message == WM_COMMAND && self) {
      switch (LOWORD(wParam)) {
        case IDOK:
          self->OpenServicePage();
          return TRUE;
        case IDCANCEL:
          EndDialog(dialog, IDCANCEL);
          return TRUE;
        default:
          break;
      }
    }
  } catch (const std::exception& e) {
    WriteLogF("消息对话框异常: %s", e.what());
  } catch (...) {
    WriteLog("消息对话框异常");
  }
  return FALSE;
}
