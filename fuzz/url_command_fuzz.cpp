// Portus's decision on its command text (from a web page: hostile): it is
// one of the three, the launcher's command line always begins with the quoted
// program path and carries nothing but an envelope of the parameters, which
// read back as an object of "UC" (an integer) and "SP" (a text).
#include <cstddef>
#include <cstdint>
#include <string>

#include "code_page.h"
#include "fuzz_check.h"
#include "json_util.h"
#include "param_envelope.h"
#include "url_command.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string shown = fuzz::Shown(text);
  const UrlDecision d = DecideUrlCommand(text);
  const size_t separator = cp936::Find(text, "://");
  if (separator == std::string::npos || separator == 0) {
    FUZZ_CHECK(d.action == UrlAction::kExit && d.exitCode == -1, shown);
    return 0;
  }
  FUZZ_CHECK(d.action != UrlAction::kExit, shown);
  if (d.action == UrlAction::kSendOrStart) {
    FUZZ_CHECK(d.url.size() + 2 <= text.size(), shown);
    FUZZ_CHECK(!cp936::EndsInsideChar(d.url), shown);
    FUZZ_CHECK(text.find(d.scheme) != std::string::npos, shown);
  }

  // A program folder "C:\游戏淺" whose last byte is a character's 0x5C.
  const std::string folder = "C:\\\xd3\xce\xcf\xb7\x9c\x5c";
  const std::string line = LauncherCommandLine(folder, d.launcherParams);
  const std::string head = "\"" + folder + "\\Lumora.exe\" ";
  FUZZ_CHECK(line.compare(0, head.size(), head) == 0, shown);
  const std::string argument = line.substr(head.size());
  for (char c : argument)
    FUZZ_CHECK((c >= '0' && c <= '9') || (c >= 'A' && c <= 'V'), shown);
  if (d.launcherParams.empty()) {
    FUZZ_CHECK(argument.empty(), shown);
    return 0;
  }
  ParamEnvelope envelope;
  FUZZ_CHECK(envelope.Decode(argument) && envelope.Payload() == d.launcherParams, shown);
  Json::Value params;
  FUZZ_CHECK(rt::ParseJson(d.launcherParams, params) && rt::IsNonEmptyObject(params), shown);
  for (const std::string& name : params.getMemberNames()) {
    FUZZ_CHECK(name == "UC" || name == "SP", shown);
    if (name == "UC") FUZZ_CHECK(rt::IsInt32(params[name]), shown);
    if (name == "SP") FUZZ_CHECK(params[name].isString(), shown);
  }
  return 0;
}
