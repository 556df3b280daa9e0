// The updater's argument text: any text is accepted or refused without harm;
// what is accepted names exactly one task with texts that fit their buffers,
// and the chain built from it is written and read back unchanged.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "json_util.h"
#include "updater_args.h"
#include "updater_chain.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const ParseOutcome outcome = ParseUpdaterArgs(text);
  const std::string shown = fuzz::Shown(text);
  if (!outcome.accepted) return 0;
  FUZZ_CHECK(outcome.logLine.empty(), shown);

  const UpdaterArgs& args = outcome.args;
  const bool copy = (args.options & kOptCopy) != 0;
  const bool install = (args.options & kOptInstall) != 0;
  FUZZ_CHECK(copy != install, shown);
  FUZZ_CHECK(!args.targetPath.empty(), shown);
  FUZZ_CHECK(!copy || !args.copyPath.empty(), shown);
  for (const std::string* field :
       {&args.targetPath, &args.startParams, &args.copyPath, &args.directory, &args.open}) {
    FUZZ_CHECK(field->size() <= kArgumentTextLimit, shown);
    FUZZ_CHECK(field->find('\0') == std::string::npos, shown);
  }

  // The program folder "C:\游戏淺": its last byte is a character's 0x5C.
  const std::string folder = "C:\\\xd3\xce\xcf\xb7\x9c\x5c";
  const Json::Value chain = BuildStartChain(args, folder, 1700000000);
  FUZZ_CHECK(chain["op"].asString() == (copy ? "CopyFile" : "Install"), shown);
  const std::string written = rt::StyledText(chain);
  Json::Value again;
  FUZZ_CHECK(rt::ParseJson(written, again) && again == chain, shown);
  if (install) {
    const std::string log = chain["log"].asString();
    const std::string logFolder = folder + "\\Log\\Install\\";
    FUZZ_CHECK(log.compare(0, logFolder.size(), logFolder) == 0, shown + " -> " + fuzz::Shown(log));
  }
  return 0;
}
