// The running program's own command-line tail.
#include <windows.h>

#include "command_tail.h"

std::string ProgramArguments() {
  const char* line = GetCommandLineA();
  return CommandTail(line ? line : "");
}
