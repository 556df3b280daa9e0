// records.exe: prints the launcher's stored records of a program folder (its
// "Config\config.db"), for the demo and for looking by hand (not part of the
// product). Output is in the system code page.
//
//   records <program folder> [key...]     default keys: CFG_ConfigInfo CFG_ConfigData CFG_DID
#include <cstdio>
#include <string>
#include <vector>

#include "config_store.h"
#include "json_util.h"
#include "path_util.h"
#include "strata.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: records <program folder> [key...]\n");
    return 2;
  }
  const std::string folder = argv[1];
  if (!FileExists(JoinPath(folder, "Config\\config.db"))) {
    std::fprintf(stderr, "records: %s holds no Config\\config.db\n", folder.c_str());
    return 3;
  }
  std::vector<std::string> keys;
  for (int i = 2; i < argc; ++i) keys.push_back(argv[i]);
  if (keys.empty()) keys = {"CFG_ConfigInfo", "CFG_ConfigData", "CFG_DID"};

  DBM::Initialise();
  DBM::SetDataFolder(folder.c_str());
  int missing = 0;
  for (const std::string& key : keys) {
    const Json::Value value = LoadConfigJson(key.c_str());
    if (value.isNull()) ++missing;
    std::printf("%s = %s", key.c_str(), value.isNull() ? "(none)\n" : rt::StyledText(value).c_str());
  }
  DBM::Uninitialise();
  return missing == 0 ? 0 : 1;
}
