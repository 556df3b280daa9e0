// Test helper: keeps writing the record "CFG_Counter" = {"n": i, ...} through
// the launcher's store, counting on from the stored value. After each write
// and flush() it reports the counter on its standard output as "<n>\n".
//   store_writer <data folder>
// Runs until it is killed (or reaches a very large count); exits with 2 when
// there is no database object and 3 when a write or flush fails.
#include <windows.h>

#include <cstdio>
#include <string>

#include "config_store.h"
#include "json_util.h"

int main(int argc, char** argv) {
  if (argc < 2) return 1;
  DBM::Initialise();
  DBM::SetDataFolder(argv[1]);
  CDBConfig* db = GetConfigDB();
  if (db == nullptr) return 2;
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  int n = rt::IntMember(LoadConfigJson("CFG_Counter"), "n");
  // Some bulk, so that a write touches more than one page.
  const std::string filler(3000, 'x');
  for (int i = 0; i < 1000000; ++i) {
    Json::Value value(Json::objectValue);
    value["n"] = ++n;
    value["filler"] = filler + std::to_string(n);
    // The store's write pattern, with its outcome checked: only a write that
    // succeeded and was flushed is reported.
    if (!db->WriteValue("CFG_Counter", rt::StyledText(value).c_str()) || !db->flush()) return 3;
    char line[32];
    const int length = std::snprintf(line, sizeof line, "%d\n", n);
    DWORD written = 0;
    if (!WriteFile(out, line, static_cast<DWORD>(length), &written, nullptr)) break;
  }
  DBM::Uninitialise();
  return 0;
}
