// Test helper: writes each argument as one log line and exits with the number
// of lines that were written.
#include <cstdlib>
#include <string>

#include "log_file.h"

int main(int argc, char** argv) {
  if (argc < 2) return -1;
  SetLogFileName(argv[1]);
  int written = 0;
  for (int i = 2; i < argc; ++i) {
    std::string message = argv[i];
    if (message.size() > 3 && message[0] == '@') {
      const size_t colon = message.find(':');
      const long count = std::strtol(message.c_str() + 1, nullptr, 10);
      if (colon != std::string::npos && colon + 1 < message.size() && count > 0)
        message.assign(static_cast<size_t>(count), message[colon + 1]);
    }
    written += WriteLog(message.c_str());
  }
  return written;
}
