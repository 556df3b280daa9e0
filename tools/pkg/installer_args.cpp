#include "installer_args.h"

#include <cctype>

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

InstallerArgs ParseInstallerArgs(const std::string& tail) {
  InstallerArgs args;
  size_t i = 0;
  while (i < tail.size()) {
    while (i < tail.size() && IsBlank(tail[i])) ++i;
    if (i >= tail.size()) break;
    // The switch name runs to '=', a blank or a comma.
    const size_t start = i;
    while (i < tail.size() && !IsBlank(tail[i]) && tail[i] != '=' && tail[i] != ',') ++i;
    const std::string key = Upper(tail.substr(start, i - start));
    std::string value;
    bool hasValue = false;
    if (i < tail.size() && tail[i] == '=') {
      hasValue = true;
      ++i;
      if (i < tail.size() && tail[i] == '"') {
        const size_t close = tail.find('"', i + 1);
        const size_t end = close == std::string::npos ? tail.size() : close;
        value = tail.substr(i + 1, end - i - 1);
        i = close == std::string::npos ? tail.size() : close + 1;
      } else {
        const size_t from = i;
        while (i < tail.size() && !IsBlank(tail[i])) ++i;
        value = tail.substr(from, i - from);
      }
    }
    while (i < tail.size() && tail[i] == ',') ++i;  // "/SILENT," separates like a blank

    if (key == "/SILENT" && !hasValue) {
      args.silent = true;
    } else if (key == "/VERYSILENT" && !hasValue) {
      args.verySilent = true;
    } else if (key == "/DIR" && hasValue) {
      args.hasDir = true;
      args.dir = value;
    } else if (key == "/LOG" && hasValue) {
      args.log = value;
    } else if (args.unknown.empty()) {
      args.unknown = tail.substr(start, i - start);
    }
  }
  return args;
}

std::string CommandLineTail(const std::string& commandLine) {
  size_t i = 0;
  while (i < commandLine.size() && IsBlank(commandLine[i])) ++i;
  if (i < commandLine.size() && commandLine[i] == '"') {
    const size_t close = commandLine.find('"', i + 1);
    i = close == std::string::npos ? commandLine.size() : close + 1;
  } else {
    while (i < commandLine.size() && !IsBlank(commandLine[i])) ++i;
  }
  while (i < commandLine.size() && IsBlank(commandLine[i])) ++i;
  return commandLine.substr(i);
}
