// Test helper: installs the crash reporter, then reads through a null
// pointer. The reporter should leave a dump and a report in CrashDumps.
#include <windows.h>

#include "crashrpt.h"

namespace {
BOOL CALLBACK AddNothing(LPVOID) { return TRUE; }
}  // namespace

int main() {
  if (!Install(AddNothing, "crash@lumora.invalid", "Crasher")) return 2;
  volatile int* nowhere = nullptr;
  return *nowhere;
}
