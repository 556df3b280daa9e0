#include "command_tail.h"

#include "code_page.h"

std::string CommandTail(const std::string& commandLine) {
  // Blanks here are the control characters and the space; a quote toggles
  // quoting. Both are single-byte characters, looked for character by
  // character.
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  size_t i = 0;
  bool quoted = false;
  for (; i < commandLine.size(); i = cp936::NextChar(commandLine, i)) {
    const bool single = cp936::CharLength(commandLine, i) == 1;
    if (single && !quoted && blank(commandLine[i])) break;
    if (single && commandLine[i] == '"') quoted = !quoted;
  }
  while (i < commandLine.size() && blank(commandLine[i])) ++i;
  return commandLine.substr(i);
}
