// Prints the parameter envelope of its first argument, or with -d the payload
// of an envelope. For demos and scripts that hand JSON to our programs on a
// command line.
#include <cstdio>
#include <cstring>
#include <string>

#include "param_envelope.h"

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "-d") == 0) {
    ParamEnvelope envelope;
    if (!envelope.Decode(argv[2])) return 1;
    std::printf("%s\n", envelope.Payload().c_str());
    return 0;
  }
  if (argc != 2) {
    std::fprintf(stderr, "usage: envelope <payload> | envelope -d <envelope>\n");
    return 2;
  }
  std::printf("%s\n", ParamEnvelope::Wrap(argv[1]).c_str());
  return 0;
}
