#include "ui_test_support.h"

#include <windows.h>

#include "code_page.h"
#include "launcher_module.h"
#include "operation_engine.h"
#include "test_support.h"

namespace ui_test {

namespace {
std::vector<Json::Value> g_caught;
void Catch(const std::string&, Json::Value call) { g_caught.push_back(call); }
}  // namespace

void Probe(const std::vector<std::string>& ops) {
  UnregisterAll(kLauncherModule);
  PumpModule(kLauncherModule, 1000);  // drop what is queued
  g_caught.clear();
  for (const std::string& op : ops) RegisterOperation(kLauncherModule, op, Catch);
}

std::vector<Json::Value> Caught() {
  for (int i = 0; i < 3; ++i) PumpModule(kLauncherModule, 1000);
  std::vector<Json::Value> caught;
  caught.swap(g_caught);
  return caught;
}

bool WriteText(const std::string& path, const std::string& text) {
  // Every folder of the path, found between characters (a double-byte
  // character's second byte may be the backslash byte).
  for (size_t at = cp936::FindFirstOf(path, "\\"); at != std::string::npos;
       at = cp936::FindFirstOf(path, "\\", at + 1))
    if (at > 2) CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
  return testing_support::WriteFileBytes(path, text);
}

}  // namespace ui_test
