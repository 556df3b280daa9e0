// The program's one message loop on the main thread.
#pragma once

#include <windows.h>

class MessageLoop {
 public:
  // Runs until WM_QUIT and returns its exit code; -1 when the loop fails.
  int Run();
};
