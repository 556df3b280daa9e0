#include "command_tail.h"

#include <windows.h>

std::string CommandTail(const std::string& commandLine) {
  // Blanks here are the control characters and the space. A double-byte
  // character's second byte is never one of them nor a quote, so the text
  // can be read byte by byte.
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  size_t i = 0;
  for (bool quoted = false; i < commandLine.size() && (quoted || !blank(commandLine[i])); ++i)
    if (commandLine[i] == '"') quoted = !quoted;
  while (i < commandLine.size() && blank(commandLine[i])) ++i;
  return commandLine.substr(i);
}

std::string ProgramArguments() {
  const char* line = GetCommandLineA();
  return CommandTail(line ? line : "");
}
