// The arguments of the running program as one text: what follows the
// program's name on its command line.
#pragma once

#include <string>

// The command-line tail of a whole command line: what follows the program's
// name (quoted or not) and the blanks after it. The text is walked character
// by character, so Chinese characters in an unquoted program path belong to
// the path. Pure; ProgramArguments is in command_tail_win.cpp.
std::string CommandTail(const std::string& commandLine);

// CommandTail of this process's own command line. The text that the C
// runtime hands to WinMain ends an unquoted program name at its first byte
// above 0x7F, which cuts Chinese install paths apart: use this instead.
std::string ProgramArguments();
