// CMessageBoxEx: the launcher's own modal dialog for fatal errors. It sizes
// itself to the message and offers one button that opens the operator's
// customer-service page. Built on the stack for each message.
#pragma once

#include <windows.h>

#include <string>

class CMessageBoxEx {
 public:
  // Runs the dialog (template 201 of the running program) modally with no
  // owner. An empty caption keeps the template's. Returns the end code: 2
  // when closed (Cancel, Escape or the close box), -1 when it could not run.
  int Show(const std::string& message, const std::string& caption);

  // The command line the customer-service button starts.
  static std::string ServiceCommandLine(const std::string& program, const std::string& address);

  // Who opens the page; "explorer" unless a test points it elsewhere.
  std::string serviceProgram = "explorer";
  std::string serviceAddress;  // the build's customer-service address when empty

 private:
  static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
  void OnInitDialog(HWND dialog);
  void OpenServicePage();

  std::string message_;
  std::string caption_;
};
