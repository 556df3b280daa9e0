// The command-line tail: what follows the program's name is a whole-character
// end of the line that starts with no blank.
#include <cstddef>
#include <cstdint>
#include <string>

#include "code_page.h"
#include "command_tail.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string line(reinterpret_cast<const char*>(data), size);
  const std::string tail = CommandTail(line);
  const std::string shown = fuzz::Shown(line);
  FUZZ_CHECK(tail.size() <= line.size(), shown);
  const size_t start = line.size() - tail.size();
  FUZZ_CHECK(line.compare(start, tail.size(), tail) == 0, shown);
  FUZZ_CHECK(tail.empty() || static_cast<unsigned char>(tail[0]) > ' ', shown);
  // The tail starts on a character boundary.
  size_t i = 0;
  while (i < start) i = cp936::NextChar(line, i);
  FUZZ_CHECK(i == start, shown);
  // A tail is its own tail once a program name is put before it.
  FUZZ_CHECK(CommandTail("\"C:\\\xd3\xce\xcf\xb7\x9c\x5c\\p.exe\" " + tail) == tail, shown);
  return 0;
}
